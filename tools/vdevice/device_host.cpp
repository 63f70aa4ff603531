#include "vdevice/device_host.h"

#include <exception>

namespace vdevice {
namespace {

// The card type a device of this type announces in search answers: hosts
// read the device type from its leading hexadecimal digit (D: 2, E: 3,
// B: 4, anything else: 1).
int32_t CardType(int device_type) {
  switch (device_type) {
    case 2: return 0xD2;
    case 3: return 0xE1;
    case 4: return 0xB1;
    default: return 0x11;
  }
}

}  // namespace

DeviceHost::DeviceHost() = default;

DeviceHost::~DeviceHost() {
  Stop();
}

bool DeviceHost::RunDirectory(uint16_t port, uint16_t oct_port) {
  directory_ = std::make_unique<qvc::device::DirectoryServer>();
  oct_directory_ = std::make_unique<octc::device::DirectoryServer>();
  if (!directory_->Start(port) || !oct_directory_->Start("127.0.0.1", oct_port)) {
    directory_.reset();
    oct_directory_.reset();
    return false;
  }
  directory_port_ = directory_->port();
  oct_directory_port_ = oct_directory_->port();
  return true;
}

bool DeviceHost::StartOct(Entry& e, std::string* error) {
  const DeviceSpec& s = e.device->spec();
  if (s.oct_port < 0) return true;
  e.oct = std::make_unique<OctFrontEnd>(e.device);
  if (!e.oct->Start(static_cast<uint16_t>(s.oct_port))) {
    if (error) *error = "cannot listen on OCT port " + std::to_string(s.oct_port);
    return false;
  }
  if (oct_directory_port_ != 0 &&
      !e.oct->engine().RegisterWithDirectory("127.0.0.1", oct_directory_port_)) {
    if (error) *error = "cannot register with the OCT directory";
    return false;
  }
  if (oct_search_port_ >= 0) {
    if (!e.oct->engine().StartSearchResponder("127.255.255.255",
                                              static_cast<uint16_t>(oct_search_port_))) {
      if (error) *error = "cannot open the OCT search port";
      return false;
    }
    if (oct_search_port_ == 0) oct_search_port_ = e.oct->engine().search_port();
  }
  return true;
}

DevicePorts DeviceHost::AddDevice(const std::string& settings, std::string* error) {
  DeviceSpec spec;
  const int index = ParseDeviceSpec(settings, &spec, error) ? Add(spec, error) : -1;
  if (index < 0) return {};
  const Entry& e = devices_[static_cast<size_t>(index)];
  return {e.nxl->port(), e.oct ? e.oct->port() : -1};
}

int DeviceHost::Add(DeviceSpec spec, std::string* error) {
  const int index = static_cast<int>(devices_.size());
  if (spec.number == 0) spec.number = 1001 + index;
  Entry e;
  try {
    e.device = std::make_shared<VirtualDevice>(std::move(spec), index);
  } catch (const std::exception& ex) {
    if (error) *error = ex.what();
    return -1;
  }
  const DeviceSpec& s = e.device->spec();
  e.nxl = std::make_unique<NxlFrontEnd>(e.device);
  if (!e.nxl->Start(static_cast<uint16_t>(s.port))) {
    if (error) *error = "cannot listen on port " + std::to_string(s.port);
    return -1;
  }
  if (directory_port_ != 0) {
    qvc::device::DirectoryEntry entry;
    entry.group = s.group;
    entry.number = s.number;
    entry.port = e.nxl->port();
    entry.channel_count = s.channels;
    entry.address = "127.0.0.1";
    e.registration = std::make_unique<qvc::device::DirectoryRegistration>();
    if (!e.registration->Register("127.0.0.1", directory_port_, entry)) {
      if (error) *error = "cannot register with the directory";
      e.nxl->Stop();
      return -1;
    }
  }
  if (!StartOct(e, error)) {
    if (e.oct) e.oct->Stop();
    e.nxl->Stop();
    return -1;
  }
  if (search_port_ >= 0 || okip_port_ >= 0) {
    qvc::device::DiscoveryInfo info;
    info.group = s.group;
    info.number = s.number;
    info.card_type = CardType(s.device_type);
    info.channel_count = s.channels;
    info.port = e.nxl->port();
    info.address = "127.0.0.1";
    info.name = "vdevice " + std::to_string(index);
    info.user = s.user;
    info.password = s.password;
    info.net_config[1] = 0x0100007F;  // word 1 is the address: 127.0.0.1
    e.discovery = std::make_unique<qvc::device::DiscoveryResponder>(info);
    if (!e.discovery->Start(search_port_, okip_port_)) {
      if (error) *error = "cannot open the discovery ports";
      if (e.oct) e.oct->Stop();
      e.nxl->Stop();
      return -1;
    }
    // Later devices share the ports the first one got.
    if (search_port_ == 0) search_port_ = e.discovery->search_port();
    if (okip_port_ == 0) okip_port_ = e.discovery->okip_port();
  }
  devices_.push_back(std::move(e));
  return index;
}

std::string DeviceHost::Describe(size_t i) const {
  const Entry& e = devices_[i];
  const DeviceSpec& s = e.device->spec();
  return "device " + std::to_string(i) + " nxl=127.0.0.1:" + std::to_string(e.nxl->port()) +
         (e.oct ? " oct=127.0.0.1:" + std::to_string(e.oct->port()) : "") + " number=" + s.group +
         std::to_string(s.number) + " type=" + std::to_string(s.device_type) +
         " channels=" + std::to_string(s.channels) +
         (e.discovery && e.discovery->search_port() != 0
              ? " search=" + std::to_string(e.discovery->search_port())
              : "") +
         (e.discovery && e.discovery->okip_port() != 0
              ? " okip=" + std::to_string(e.discovery->okip_port())
              : "") +
         (e.oct && e.oct->engine().search_port() != 0
              ? " oct-search=" + std::to_string(e.oct->engine().search_port())
              : "");
}

void DeviceHost::Stop() {
  for (Entry& e : devices_) {
    if (e.registration) e.registration->Unregister();
    if (e.discovery) e.discovery->Stop();
    if (e.oct) e.oct->Stop();
    e.nxl->Stop();
  }
  devices_.clear();
  if (directory_) directory_->Stop();
  directory_.reset();
  if (oct_directory_) oct_directory_->Stop();
  oct_directory_.reset();
}

}  // namespace vdevice
