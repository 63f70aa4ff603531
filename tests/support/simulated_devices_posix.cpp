#include "support/simulated_devices.h"

#include "vdevice/device_host.h"

namespace qcsdk::test {

struct SimulatedDevices::State {
  vdevice::DeviceHost host;
};

SimulatedDevices::SimulatedDevices() : state_(std::make_unique<State>()) {}
SimulatedDevices::~SimulatedDevices() = default;

int SimulatedDevices::Add(const std::string& settings, std::string* error) {
  vdevice::DeviceSpec spec;
  if (!vdevice::ParseDeviceSpec(settings, &spec, error)) return -1;
  const int index = state_->host.Add(spec, error);
  return index < 0 ? -1 : state_->host.nxl(static_cast<size_t>(index)).port();
}

void SimulatedDevices::Stop() {
  state_->host.Stop();
}

std::string SimulatedDevices::PathForSimulator(const std::filesystem::path& path) {
  return path.string();
}

}  // namespace qcsdk::test
