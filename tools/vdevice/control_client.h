// Takes virtual devices from a simulator program's control port
// (ControlServer) over loopback: for programs that cannot run the simulator
// in their own process, such as the Windows build's tests under wine.
#pragma once

#include <cstdint>
#include <string>

#include "netio/socket.h"
#include "vdevice/device_settings.h"

namespace vdevice {

class ControlClient {
 public:
  // Port 0: the one written in the file QCSDK_VDEVICE_PORT_FILE names.
  explicit ControlClient(uint16_t port = 0) : port_(port) {}

  // Adds a device described in the simulator's --device syntax; its ports
  // (nxl -1 with a message on failure).
  DevicePorts AddDevice(const std::string& settings, std::string* error);
  // Stops every device added (they stop when the connection closes).
  void Stop() { control_ = netio::Fd(); }
  // The path by which the simulator reads a file of this program: under
  // wine the Unix path of a Windows one.
  static std::string PathForSimulator(const std::string& path);

 private:
  uint16_t port_;
  netio::Fd control_;
};

}  // namespace vdevice
