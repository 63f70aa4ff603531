#include "oct_fleet.h"

#include <qcsdk/qcsdk.h>

#include <chrono>

namespace oct_e2e {

OctFleet::~OctFleet() { devices_.Stop(); }

bool OctFleet::StartDevice(vdevice::DeviceSpec spec, std::string* error) {
  spec.user = "admin";
  spec.password = "secret";
  if (devices_.Add(spec, error) != 0) return false;
  if (devices_.oct(0) == nullptr) {
    *error = "the device has no OCT side";
    return false;
  }
  return true;
}

bool OctFleet::Connect(int count, qcsdk::bench::SdkProbe& sdk, std::string* error) {
  const int device_channels = devices_.device(0).spec().channels;
  const int port = devices_.oct(0)->port();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const int32_t device_channel = i % device_channels + 1;
    const int32_t stream = (i / device_channels) % 2;
    const int32_t n = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", port, device_channel, stream,
                                     "admin", "secret", 0, nullptr);
    if (n < 0) {
      *error = "QCSDK_Connect2 refused channel " + std::to_string(i);
      return false;
    }
    channels_.push_back(n);
  }
  if (!sdk.WaitConnected(count, 120000)) {
    const auto& c = sdk.counters();
    *error = "connected " + std::to_string(c.connected.load()) + " of " + std::to_string(count) +
             ", failed " + std::to_string(c.failed.load());
    return false;
  }
  connect_seconds_ =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return true;
}

size_t OctFleet::oct_connections() { return devices_.oct(0)->client_count(); }

}  // namespace oct_e2e
