// A device channel as the tools name it on their command lines:
//   nxl://[USER[:PASSWORD]@]HOST[:PORT][/CHANNEL]
//   oct://[USER[:PASSWORD]@]HOST[:PORT][/CHANNEL[/STREAM]]
// HOST with a PORT is a dotted IPv4 address or a host name (resolved here
// to its first IPv4 address); HOST without a port is a device number (Nxl)
// or cloud number (OCT), which the transport looks up in its directory.
// Credentials default to admin/admin, the channel to 0 on Nxl and 1 on OCT,
// the stream to 0.
#pragma once

#include <qcsdk/qcsdk.h>

#include <cstdint>
#include <string>

namespace hostlib {

struct DeviceSource {
  int32_t transport = 0;  // QCSDK_TRANSPORT_*
  std::string host;       // dotted address or number
  std::string name;       // the host name given, resolved into `host` ("" for none)
  bool byNumber = false;
  int32_t port = 0;
  int32_t channel = 0;
  int32_t stream = 0;
  std::string user = "admin";
  std::string password = "admin";

  // "nxl 127.0.0.1:4000/0", "oct A1001/1", "nxl camera.lan:4000/0" ...
  std::string Label() const;
  // Looks the host name up again (a name's address may change between
  // connects); false, with the reason in `error`, when it does not resolve.
  bool Resolve(std::string& error);
  // QCSDK_Connect2 with these settings; the channel number or -1.
  int32_t Connect(void* userData) const {
    return QCSDK_Connect2(transport, host.c_str(), port, channel, stream, user.c_str(),
                          password.c_str(), byNumber ? 1 : 0, userData);
  }
};

// False, with the reason in `error`, for text that names no device channel
// or (with `resolve`) a host name that does not resolve. Without `resolve`
// a name is kept for DeviceSource::Resolve.
bool ParseDeviceSource(const std::string& text, DeviceSource& out, std::string& error,
                       bool resolve = true);

}  // namespace hostlib
