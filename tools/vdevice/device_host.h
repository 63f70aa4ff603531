// Runs a set of virtual devices in one process: each with its Nxl and OCT
// front ends on loopback ports, optionally registered with the directory
// services of both transports (ones the host runs itself, or ones given by
// port).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "octc_device/device.h"
#include "qvc/device/directory.h"
#include "qvc/device/discovery_responder.h"
#include "vdevice/nxl_front_end.h"
#include "vdevice/oct_front_end.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class DeviceHost {
 public:
  DeviceHost();
  ~DeviceHost();
  DeviceHost(const DeviceHost&) = delete;
  DeviceHost& operator=(const DeviceHost&) = delete;

  // Runs the Nxl directory service on 127.0.0.1:port and the OCT one on
  // 127.0.0.1:oct_port (0: the system picks); devices added afterwards
  // register with them.
  bool RunDirectory(uint16_t port, uint16_t oct_port = 0);
  // Devices added afterwards register with the directories at these ports
  // (0: not with that transport's).
  void UseDirectory(uint16_t port, uint16_t oct_port = 0) {
    directory_port_ = port;
    oct_directory_port_ = oct_port;
  }
  uint16_t directory_port() const { return directory_port_; }
  uint16_t oct_directory_port() const { return oct_directory_port_; }

  // Devices added afterwards answer LAN search probes and OKIP broadcasts
  // from loopback on these UDP ports (-1: that service off; 0: the first
  // device lets the system pick and the others share its port).
  void EnableDiscovery(int search_port, int okip_port) {
    search_port_ = search_port;
    okip_port_ = okip_port;
  }
  // Devices added afterwards answer OCT search probes sent to the loopback
  // broadcast address on this UDP port (-1: off; 0: as above).
  void EnableOctSearch(int port) { oct_search_port_ = port; }

  // Creates, starts and (with a directory) registers a device; its index,
  // or -1 with a message.
  int Add(DeviceSpec spec, std::string* error);
  // The same from the --device syntax; the device's ports (nxl -1 with a
  // message on failure).
  DevicePorts AddDevice(const std::string& settings, std::string* error);
  // The path by which the devices read a file of this process: as it is.
  static std::string PathForSimulator(const std::string& path) { return path; }
  size_t size() const { return devices_.size(); }
  VirtualDevice& device(size_t i) { return *devices_[i].device; }
  NxlFrontEnd& nxl(size_t i) { return *devices_[i].nxl; }
  // Null for a device without an OCT side.
  OctFrontEnd* oct(size_t i) { return devices_[i].oct.get(); }
  // "device 0 nxl=127.0.0.1:40123 oct=127.0.0.1:40125 number=A1001 type=2 channels=4"
  std::string Describe(size_t i) const;

  void Stop();

 private:
  struct Entry {
    std::shared_ptr<VirtualDevice> device;
    std::unique_ptr<NxlFrontEnd> nxl;
    std::unique_ptr<OctFrontEnd> oct;
    std::unique_ptr<qvc::device::DirectoryRegistration> registration;
    std::unique_ptr<qvc::device::DiscoveryResponder> discovery;
  };
  bool StartOct(Entry& e, std::string* error);

  std::unique_ptr<qvc::device::DirectoryServer> directory_;
  std::unique_ptr<octc::device::DirectoryServer> oct_directory_;
  uint16_t directory_port_ = 0;
  uint16_t oct_directory_port_ = 0;
  int oct_search_port_ = -1;
  int search_port_ = -1;
  int okip_port_ = -1;
  std::vector<Entry> devices_;
};

}  // namespace vdevice
