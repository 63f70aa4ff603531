// What describes one virtual device: identity, credentials, channels,
// container and codecs, the stream header form, and the fault switches.
// ParseDeviceSpec reads the "key=value,key=value" text of the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vdevice {

enum class VideoCodec { kH264, kH265 };

// The stream header form a device sends.
enum class HeaderForm {
  kWhole,     // 96-byte record with "QFH" (sets the RPC-support byte)
  kShort,     // 32-byte header tagged "QVS" + version
  kExtended,  // 32-byte header tagged "QVS " with the real tag at byte 24
};

struct Faults {
  bool refuse_password = false;
  bool no_channel = false;
  bool client_limit = false;  // every login is refused as over the limit
  int drop_after_frames = 0;  // 0: off
  int close_after_frames = 0;
  int malformed_after_frames = 0;
  int slow_ms = 0;               // delay of the login and of every answer
  bool refuse_text = false;      // text exchanges are refused (83)
  bool abort_downloads = false;  // downloads end with 118 after their first block
  // Every message is sent mutated (HostileAnswers), deterministically from
  // this seed.
  std::optional<uint64_t> hostile_seed;
};

struct DeviceSpec {
  int device_type = 2;  // 1..5
  int channels = 1;
  std::string user = "admin";
  std::string password = "admin";
  int client_limit = 8;
  int recording_kind = 1;  // 0..4: .sv4 .sv5 .sv6 .mp4 .mp4
  VideoCodec codec = VideoCodec::kH264;
  int width = 320;
  int height = 240;
  int fps = 25;
  bool mu_law = false;  // audio G.711 mu-law instead of A-law
  // What the device announces as its audio: G.711 at 8 kHz unless a camera
  // feeding it sends AAC, or no audio.
  bool audio = true;
  bool aac = false;
  int audio_rate = 8000;
  int audio_channels = 1;
  HeaderForm header = HeaderForm::kWhole;
  uint8_t tag_version = 0x05;  // version byte of the "QVS" tag
  bool paced = true;           // false: frames as fast as the link takes them
  bool spread = false;         // paced clients' frames spread over the tick, not sent together
  bool live = true;            // false: live frames only after a client asks (112)
  std::string media_file;      // stream this file instead of the test pattern
  std::string source;          // a camera's URL: its live stream instead of the pattern
  bool source_udp = false;     // RTSP over UDP instead of TCP
  int keep_minutes = 5;        // of the camera's stream, kept as the recording of the day
  std::string cfg_library;     // device type 3: the library sent in the handshake
  int cfg_param_kind = 1;
  char playback_end = '2';  // end kind of a playback that runs out: '2', '9', 'w'
  std::string group = "A";  // device number: group letters + number
  int32_t number = 0;       // 0: 1001 + device index
  int port = 0;             // Nxl link port; 0: the system picks
  int oct_port = 0;         // OCT link port; 0: the system picks, -1: no OCT side
  Faults faults;
};

// The loopback ports a device listens on; -1: none (oct: a device without
// an OCT side).
struct DevicePorts {
  int nxl = -1;
  int oct = -1;
};

// Reads "type=2,channels=4,user=admin,..." into spec (starting from its
// current values). false with a message on an unknown key or bad value.
bool ParseDeviceSpec(const std::string& text, DeviceSpec* spec, std::string* error);

// The text of --help that documents the keys.
const char* DeviceSpecHelp();

}  // namespace vdevice
