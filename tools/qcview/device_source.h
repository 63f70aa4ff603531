// A device channel a tile shows, as named on the command line:
//   nxl://[USER[:PASSWORD]@]HOST[:PORT][/CHANNEL]
//   oct://[USER[:PASSWORD]@]HOST[:PORT][/CHANNEL[/STREAM]]
// HOST is a dotted loopback address (127.x.x.x, PORT required) or a device
// number (Nxl) or cloud number (OCT), which the transport looks up in its
// directory. Credentials default to admin/admin, the channel to 0 on Nxl
// and 1 on OCT, the stream to 0.
#pragma once

#include <cstdint>
#include <string>

namespace qcview {

struct DeviceSource {
  int32_t transport = 0;  // QCSDK_TRANSPORT_*
  std::string host;       // dotted address or number
  bool byNumber = false;
  int32_t port = 0;
  int32_t channel = 0;
  int32_t stream = 0;
  std::string user = "admin";
  std::string password = "admin";

  // "nxl 127.0.0.1:4000/0", "oct A1001/1", ...
  std::string Label() const;
  // QCSDK_Connect2 with these settings; the channel number or -1.
  int32_t Connect(void* userData) const;
};

// False, with the reason in `error`, for text that names no device channel
// or an address outside loopback.
bool ParseDeviceSource(const std::string& text, DeviceSource& out, std::string& error);

}  // namespace qcview
