// The device simulator program run as a child process, so that a benchmark
// measures the CPU time, memory and threads of its own (client) process
// alone. The child serves its devices until this object is destroyed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qcsdk::bench {

class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  // Closes the child's standard input and waits for it to exit.
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // Starts the simulator with one --device per entry of `devices` (its
  // settings text) and waits until it is ready; false with a message.
  // `idle` runs it under the idle scheduling class: on a small machine its
  // sends take only the processor time the client leaves, as devices on
  // hardware of their own would.
  bool Start(const std::vector<std::string>& devices, std::string* error, bool idle = false);
  // The Nxl port of each device, in the order given.
  const std::vector<uint16_t>& nxl_ports() const { return nxl_ports_; }
  // The OCT port of each device, 0 for a device without an OCT side.
  const std::vector<uint16_t>& oct_ports() const { return oct_ports_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  std::vector<uint16_t> nxl_ports_;
  std::vector<uint16_t> oct_ports_;
};

}  // namespace qcsdk::bench
