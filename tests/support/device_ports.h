// While it lives, the target the SDK hands each transport library keeps its
// address but takes the port of this process's devices (OS-chosen), so that
// parallel test processes never hear each other. Create it before
// QCSDK_InitSDK: the OCT search service takes its port when it starts.
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

  // Nxl search and OKIP share one target: the port of the next one set.
  void SetNxlPort(uint16_t port);

 private:
  platform::NxlApi m_nxl = platform::DefaultNxl();
  platform::OctApi m_oct = platform::DefaultOct();
};

}  // namespace qcsdk::test
