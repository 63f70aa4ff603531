#include "vdevice/control_client.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <fstream>

namespace vdevice {

DevicePorts ControlClient::AddDevice(const std::string& settings, std::string* error) {
  if (!control_.valid()) {
    int port = port_;
    if (const char* file = std::getenv("QCSDK_VDEVICE_PORT_FILE"); port == 0 && file != nullptr)
      std::ifstream(file) >> port;
    control_ = netio::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port), 10000, 60000);
    if (!control_.valid()) {
      *error = "no simulator at control port " + std::to_string(port);
      return {};
    }
  }
  const std::string request = "device " + settings + "\n";
  std::string answer;
  char c = 0;
  if (!netio::SendAll(control_.get(), request.data(), request.size())) return {};
  while (netio::ReceiveAll(control_.get(), &c, 1) == netio::Received::kData && c != '\n')
    answer += c;
  // "device 0 nxl=127.0.0.1:40123 oct=127.0.0.1:40125 ..." (DeviceHost::Describe)
  auto port = [&](const std::string& key) {
    const size_t at = answer.find(" " + key + "=127.0.0.1:");
    return at == std::string::npos ? -1 : std::atoi(answer.c_str() + at + key.size() + 12);
  };
  if (answer.rfind("device ", 0) != 0 || port("nxl") < 0) {
    *error = answer.empty() ? "the simulator is gone" : answer;
    return {};
  }
  return {port("nxl"), port("oct")};
}

std::string ControlClient::PathForSimulator(const std::string& path) {
#ifdef _WIN32
  using ToUnix = char*(CDECL*)(LPCWSTR);
  static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  std::wstring wide(path.begin(), path.end());
  char* unix = toUnix != nullptr ? toUnix(wide.c_str()) : nullptr;
  if (unix != nullptr) {
    std::string out = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return out;
  }
#endif
  return path;
}

}  // namespace vdevice
