// Runs the device simulator as a child process and reads the devices it
// serves from its output.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"

namespace hostlib {

struct SimDevice {
  std::string address;
  int port = 0;      // Nxl link
  int oct_port = 0;  // OCT link (0: none)
  std::string number;
  int type = 0;
};

class Simulator {
 public:
  // Starts `program` with `args`; false when it does not report ready.
  bool Start(const std::string& program, const std::vector<std::string>& args);
  // Ends the simulator (closes its input) and waits for it.
  void Stop() { m_process.Stop(); }
  const std::vector<SimDevice>& devices() const { return m_devices; }

 private:
  ChildProcess m_process;
  std::vector<SimDevice> m_devices;
};

}  // namespace hostlib
