// One virtual device served over OCT in this process, and SDK channels
// connected to it over the OCT transport with the same address, port and
// credentials, so that they share one OCT connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk_probe.h"
#include "vdevice/device_host.h"

namespace oct_e2e {

class OctFleet {
 public:
  OctFleet() = default;
  ~OctFleet();
  OctFleet(const OctFleet&) = delete;
  OctFleet& operator=(const OctFleet&) = delete;

  // Starts the device with user "admin" and password "secret"; false with a
  // message when it does not start.
  bool StartDevice(vdevice::DeviceSpec spec, std::string* error);
  // Connects `count` channels through the initialised SDK of `sdk`: channel
  // i watches device channel i % channels + 1, stream (i / channels) % 2.
  // Waits until every channel has reported event 1; false with a message
  // when a channel fails or does not connect within two minutes.
  bool Connect(int count, qcsdk::bench::SdkProbe& sdk, std::string* error);

  // OCT connections the device currently holds.
  size_t oct_connections();
  vdevice::OctFrontEnd& front_end() { return *devices_.oct(0); }
  int32_t channel(int i) const { return channels_[static_cast<size_t>(i)]; }
  int size() const { return static_cast<int>(channels_.size()); }
  // Seconds from the first connect call until the last channel connected.
  double connect_seconds() const { return connect_seconds_; }

 private:
  vdevice::DeviceHost devices_;
  std::vector<int32_t> channels_;
  double connect_seconds_ = 0;
};

}  // namespace oct_e2e
