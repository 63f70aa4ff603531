// Virtual devices of the simulator for a test, reached over loopback: on
// Linux in this process; on Windows (under wine) from the native simulator
// program the test fixture "vdevice" started (its control port is read from
// a file of the build).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace qcsdk::test {

class SimulatedDevices {
 public:
  SimulatedDevices();
  ~SimulatedDevices();
  SimulatedDevices(const SimulatedDevices&) = delete;
  SimulatedDevices& operator=(const SimulatedDevices&) = delete;

  // Adds a device described in the simulator's --device syntax; its Nxl
  // port, or -1 with a message.
  int Add(const std::string& settings, std::string* error);
  // Stops every device added.
  void Stop();
  // The path by which the simulator reads this file.
  static std::string PathForSimulator(const std::filesystem::path& path);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qcsdk::test
