#include "simulator.h"

#include <cstdlib>
#include <sstream>

namespace hostlib {

bool Simulator::Start(const std::string& program, const std::vector<std::string>& args) {
  m_devices.clear();
  if (!m_process.Start(program, args)) return false;
  std::string line;
  bool ready = false;
  while (!ready && m_process.ReadLine(line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "ready") {
      ready = true;
    } else if (word == "device") {
      SimDevice device;
      while (words >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "nxl") {
          const auto colon = value.rfind(':');
          device.address = value.substr(0, colon);
          device.port = std::atoi(value.c_str() + colon + 1);
        } else if (key == "oct") {
          device.oct_port = std::atoi(value.c_str() + value.rfind(':') + 1);
        } else if (key == "number") {
          device.number = value;
        } else if (key == "type") {
          device.type = std::atoi(value.c_str());
        }
      }
      m_devices.push_back(device);
    }
  }
  // The simulator prints nothing more until it stops: nobody reads on.
  m_process.CloseOutput();
  return ready;
}

}  // namespace hostlib
