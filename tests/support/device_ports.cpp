#include "support/device_ports.h"

#include <qcsdk/qcsdk.h>

#include <atomic>

namespace qcsdk::test {
namespace {

// Operation tables hold plain functions: the ports live here.
std::atomic<int32_t> g_nxlPort{0};
std::atomic<int32_t> g_octPort{0};

int32_t NxlTargetAtDevicePort(const char* address, int32_t) {
  return platform::DefaultNxl().SetBroadcastTarget(address, g_nxlPort.load());
}

int32_t OctTargetAtDevicePort(const char* target, int32_t, const char* local) {
  return platform::DefaultOct().set_search_target(target, g_octPort.load(), local);
}

}  // namespace

DevicePorts::DevicePorts(uint16_t nxlPort, uint16_t octPort) {
  g_nxlPort.store(nxlPort);
  g_octPort.store(octPort);
  m_nxl.SetBroadcastTarget = &NxlTargetAtDevicePort;
  m_oct.set_search_target = &OctTargetAtDevicePort;
  platform::BindNxl(&m_nxl);
  platform::BindOct(&m_oct);
}

DevicePorts::~DevicePorts() {
  platform::BindNxl(nullptr);
  platform::BindOct(nullptr);
  QCSDK_SetBroadcastTarget(nullptr);
}

void DevicePorts::SetNxlPort(uint16_t port) {
  g_nxlPort.store(port);
}

}  // namespace qcsdk::test
