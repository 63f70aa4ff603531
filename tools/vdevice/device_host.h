// Runs a set of virtual devices in one process: each with its Nxl front
// end on a loopback port, optionally registered with a directory service
// (one the host runs itself, or one given by port).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qvc/device/directory.h"
#include "qvc/device/discovery_responder.h"
#include "vdevice/nxl_front_end.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class DeviceHost {
 public:
  DeviceHost();
  ~DeviceHost();
  DeviceHost(const DeviceHost&) = delete;
  DeviceHost& operator=(const DeviceHost&) = delete;

  // Runs a directory service on 127.0.0.1:port (0: the system picks);
  // devices added afterwards register with it.
  bool RunDirectory(uint16_t port);
  // Devices added afterwards register with the directory at this port.
  void UseDirectory(uint16_t port) { directory_port_ = port; }
  uint16_t directory_port() const { return directory_port_; }

  // Devices added afterwards answer LAN search probes and OKIP broadcasts
  // from loopback on these UDP ports (-1: that service off; 0: the first
  // device lets the system pick and the others share its port).
  void EnableDiscovery(int search_port, int okip_port) {
    search_port_ = search_port;
    okip_port_ = okip_port;
  }

  // Creates, starts and (with a directory) registers a device; its index,
  // or -1 with a message.
  int Add(DeviceSpec spec, std::string* error);
  size_t size() const { return devices_.size(); }
  VirtualDevice& device(size_t i) { return *devices_[i].device; }
  NxlFrontEnd& nxl(size_t i) { return *devices_[i].nxl; }
  // "device 0 nxl=127.0.0.1:40123 number=A1001 channels=4"
  std::string Describe(size_t i) const;

  void Stop();

 private:
  struct Entry {
    std::shared_ptr<VirtualDevice> device;
    std::unique_ptr<NxlFrontEnd> nxl;
    std::unique_ptr<qvc::device::DirectoryRegistration> registration;
    std::unique_ptr<qvc::device::DiscoveryResponder> discovery;
  };
  std::unique_ptr<qvc::device::DirectoryServer> directory_;
  uint16_t directory_port_ = 0;
  int search_port_ = -1;
  int okip_port_ = -1;
  std::vector<Entry> devices_;
};

}  // namespace vdevice
