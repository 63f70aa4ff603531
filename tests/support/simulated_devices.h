// Virtual devices of the simulator for a test, on loopback: in this process
// on Linux; under wine from the native simulator program the ctest fixture
// "vdevice" starts. AddDevice(settings) in the --device syntax gives its ports.
#pragma once

#ifdef _WIN32
#include "vdevice/control_client.h"
#else
#include "vdevice/device_host.h"
#endif

namespace qcsdk::test {
#ifdef _WIN32
using SimulatedDevices = vdevice::ControlClient;
#else
using SimulatedDevices = vdevice::DeviceHost;
#endif
}  // namespace qcsdk::test
