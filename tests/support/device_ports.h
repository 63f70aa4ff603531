// Points the SDK's search and OKIP probes at this process's virtual devices.
// While a DevicePorts lives, the target the SDK hands each transport library
// keeps its address but takes the port the devices got from the system, so
// parallel test processes never hear each other. Create it before
// QCSDK_InitSDK (the OCT search service takes its port when it starts);
// destroying it restores the default tables and the SDK's default target.
#pragma once

#include <cstdint>

#include "platform/nxl_api.h"
#include "platform/oct_api.h"

namespace qcsdk::test {

class DevicePorts {
 public:
  // Port 0: that library's service keeps its own remote port.
  DevicePorts(uint16_t nxlPort, uint16_t octPort);
  ~DevicePorts();
  DevicePorts(const DevicePorts&) = delete;
  DevicePorts& operator=(const DevicePorts&) = delete;

  // The Nxl library has one target for search and OKIP: the port the next
  // QCSDK_SetBroadcastTarget hands it.
  void SetNxlPort(uint16_t port);

 private:
  platform::NxlApi m_nxl = platform::DefaultNxl();
  platform::OctApi m_oct = platform::DefaultOct();
};

}  // namespace qcsdk::test
