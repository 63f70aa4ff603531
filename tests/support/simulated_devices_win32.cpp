#include <windows.h>

#include <cstdlib>
#include <fstream>

#include "netio/socket.h"
#include "support/simulated_devices.h"

namespace qcsdk::test {

// One connection to the simulator's control port: the devices added
// through it stop when it closes.
struct SimulatedDevices::State {
  netio::Fd control;
};

SimulatedDevices::SimulatedDevices() : state_(std::make_unique<State>()) {}
SimulatedDevices::~SimulatedDevices() = default;

int SimulatedDevices::Add(const std::string& settings, std::string* error) {
  if (!state_->control.valid()) {
    int port = 0;
    std::ifstream(QCSDK_VDEVICE_PORT_FILE) >> port;
    state_->control = netio::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port), 10000, 60000);
    if (!state_->control.valid()) {
      *error = "no simulator: no control port in " QCSDK_VDEVICE_PORT_FILE;
      return -1;
    }
  }
  const std::string request = "device " + settings + "\n";
  std::string answer;
  char c = 0;
  if (!netio::SendAll(state_->control.get(), request.data(), request.size())) return -1;
  while (netio::ReceiveAll(state_->control.get(), &c, 1) == netio::Received::kData && c != '\n')
    answer += c;
  const size_t nxl = answer.find(" nxl=127.0.0.1:");
  if (answer.rfind("device ", 0) != 0 || nxl == std::string::npos) {
    *error = answer.empty() ? "the simulator is gone" : answer;
    return -1;
  }
  return std::atoi(answer.c_str() + nxl + 15);
}

void SimulatedDevices::Stop() {
  state_->control = netio::Fd();
}

std::string SimulatedDevices::PathForSimulator(const std::filesystem::path& path) {
  // wine's own call gives the Unix path of a Windows one.
  using ToUnix = char*(CDECL*)(LPCWSTR);
  static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = toUnix != nullptr ? toUnix(path.wstring().c_str()) : nullptr;
  if (unix == nullptr) return path.string();
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

}  // namespace qcsdk::test
