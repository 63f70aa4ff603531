// Runs the device simulator as a child process and reads the devices it
// serves from its output.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qcdemo {

struct SimDevice {
  std::string address;
  int port = 0;      // Nxl link
  int oct_port = 0;  // OCT link (0: none)
  std::string number;
  int type = 0;
};

class Simulator {
 public:
  ~Simulator();
  // Starts `program` with `args`; false when it does not report ready.
  bool Start(const std::string& program, const std::vector<std::string>& args);
  // Ends the simulator (closes its input) and waits for it.
  void Stop();
  const std::vector<SimDevice>& devices() const { return m_devices; }

 private:
  pid_t m_pid = -1;
  int m_in = -1;  // its standard input
  std::vector<SimDevice> m_devices;
};

}  // namespace qcdemo
