// The directory service of Nxl devices and a device's registration in it.
//
// A device registers its group and number with the address and port of its
// link service over one TCP connection that it keeps open: the entry lives
// as long as that connection. Clients look a device up by group and number
// (QVC_Connect by number, QVC_WANGetChannelCount).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "netio/fd.h"

namespace qvc::device {

class DirectoryServer {
 public:
  DirectoryServer();
  ~DirectoryServer();
  DirectoryServer(const DirectoryServer&) = delete;
  DirectoryServer& operator=(const DirectoryServer&) = delete;

  // Listens on 127.0.0.1:port (0: the system picks) and starts its thread.
  bool Start(uint16_t port = 0);
  void Stop();
  uint16_t port() const;
  // Number of devices registered now.
  size_t size() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

struct DirectoryEntry {
  std::string group;  // letters; compared without regard to case
  int32_t number = 0;
  uint16_t port = 0;  // the device's link port
  int32_t channel_count = 1;
  std::string address;  // dotted; empty: the address the registration comes from
};

// The entry lives while the registration does (or until Unregister).
class DirectoryRegistration {
 public:
  // Registers with the directory at address:port; false when it cannot be
  // reached, refuses the entry or does not answer within timeout_ms.
  bool Register(const std::string& directory_address, uint16_t directory_port,
                const DirectoryEntry& entry, int timeout_ms = 3000);
  // Ends the registration: the device is offline.
  void Unregister() { fd_.Reset(); }
  bool registered() const { return fd_.valid(); }

 private:
  netio::Fd fd_;
};

}  // namespace qvc::device
