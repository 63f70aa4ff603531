// Adds devices and encodes test patterns on request: a loopback TCP port
// where each line "device SETTINGS" adds a device to a set of its own for
// that connection and is answered with the device's description line, and
// each line "encode OPTIONS" (FormatPatternOptions) with the encoded packets
// (ControlClient::EncodePattern); failures are answered "error MESSAGE".
// The connection's devices stop when it closes. Programs that cannot run
// the simulator in their own process (tests of the Windows build under
// wine) take their devices, and the H.264/H.265 streams their own libavcodec
// cannot encode, from here.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "netio/socket.h"

namespace vdevice {

class ControlServer {
 public:
  ControlServer() = default;
  ~ControlServer() { Stop(); }
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Listens on 127.0.0.1:port (0: the system picks).
  bool Start(uint16_t port, std::string* error);
  uint16_t port() const { return port_; }
  // Ends every connection (stopping its devices) and the listener.
  void Stop();

 private:
  struct Connection {
    netio::Fd fd;
    std::thread thread;
  };
  void AcceptLoop();
  static void Serve(netio::Socket fd);

  netio::Fd listener_;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;
  bool stopping_ = false;
  std::list<Connection> connections_;
};

}  // namespace vdevice
