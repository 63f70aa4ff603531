// Takes virtual devices and encoded test patterns from a simulator program's
// control port (ControlServer) over loopback: for programs that cannot run
// the simulator in their own process, such as the Windows build's tests
// under wine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "netio/socket.h"
#include "vdevice/device_settings.h"
#include "vdevice/pattern_encoder.h"

namespace vdevice {

class ControlClient {
 public:
  // Port 0: the one written in the file QCSDK_VDEVICE_PORT_FILE names.
  explicit ControlClient(uint16_t port = 0) : port_(port) {}

  // Adds a device described in the simulator's --device syntax; its ports
  // (nxl -1 with a message on failure).
  DevicePorts AddDevice(const std::string& settings, std::string* error);
  // The test pattern encoded by the simulator's libavcodec, as EncodePattern
  // there would give it. Throws std::runtime_error when that fails.
  std::vector<MediaFrame> EncodePattern(const PatternOptions& options);
  // Stops every device added (they stop when the connection closes).
  void Stop() { control_ = netio::Fd(); }
  // The path by which the simulator reads a file of this program: under
  // wine the Unix path of a Windows one.
  static std::string PathForSimulator(const std::string& path);

 private:
  // Sends one request line: the answer's first line (empty, with `error`,
  // when the simulator is missing or gone), and in `rest` the bytes after it.
  std::string Ask(const std::string& request, std::string* rest, std::string* error);

  uint16_t port_;
  netio::Fd control_;
};

// The options of an "encode" request line, "CODEC WIDTH HEIGHT FRAMES GOP
// FPS BITRATE CHROMA PRESET [Y U V]", and back (false when malformed).
std::string FormatPatternOptions(const PatternOptions& options);
bool ParsePatternOptions(const std::string& text, PatternOptions* options);

}  // namespace vdevice
