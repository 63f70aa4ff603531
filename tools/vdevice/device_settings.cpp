#include "vdevice/device_settings.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace vdevice {
namespace {

bool ToInt(const std::string& text, int min, int max, int* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 0);
  if (*end != '\0' || value < min || value > max) return false;
  *out = static_cast<int>(value);
  return true;
}

bool ParseNumber(const std::string& text, DeviceSpec* spec) {
  size_t letters = 0;
  while (letters < text.size() && std::isalpha(static_cast<unsigned char>(text[letters]))) {
    ++letters;
  }
  if (letters == 0 || letters > 4) return false;
  int number = 0;
  if (!ToInt(text.substr(letters), 1, 0x7FFFFFFF, &number)) return false;
  spec->group = text.substr(0, letters);
  for (char& c : spec->group) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  spec->number = number;
  return true;
}

bool ParseHeader(const std::string& value, DeviceSpec* spec) {
  if (value == "qfh") {
    spec->header = HeaderForm::kWhole;
    return true;
  }
  const size_t colon = value.find(':');
  const std::string form = value.substr(0, colon);
  int version = spec->tag_version;
  if (colon != std::string::npos && !ToInt(value.substr(colon + 1), 0, 255, &version)) {
    return false;
  }
  if (form == "short") {
    spec->header = HeaderForm::kShort;
  } else if (form == "ext") {
    spec->header = HeaderForm::kExtended;
  } else {
    return false;
  }
  spec->tag_version = static_cast<uint8_t>(version);
  return true;
}

bool ParseFault(const std::string& value, Faults* faults) {
  const size_t colon = value.find(':');
  const std::string name = value.substr(0, colon);
  const std::string arg = colon == std::string::npos ? "" : value.substr(colon + 1);
  if (name == "refuse-password") return faults->refuse_password = true;
  if (name == "no-channel") return faults->no_channel = true;
  if (name == "client-limit") return faults->client_limit = true;
  if (name == "refuse-text") return faults->refuse_text = true;
  if (name == "abort-download") return faults->abort_downloads = true;
  if (name == "drop-after") return ToInt(arg, 1, 1 << 30, &faults->drop_after_frames);
  if (name == "close-after") return ToInt(arg, 1, 1 << 30, &faults->close_after_frames);
  if (name == "malformed-after") return ToInt(arg, 1, 1 << 30, &faults->malformed_after_frames);
  if (name == "slow") return ToInt(arg, 1, 60000, &faults->slow_ms);
  if (int seed = 0; name == "hostile" && ToInt(arg, 0, 0x7FFFFFFF, &seed)) {
    faults->hostile_seed = static_cast<uint64_t>(seed);
    return true;
  }
  return false;
}

bool Apply(const std::string& key, const std::string& value, DeviceSpec* spec) {
  if (key == "type") return ToInt(value, 1, 5, &spec->device_type);
  if (key == "channels") return ToInt(value, 1, 256, &spec->channels);
  if (key == "user") return !(spec->user = value).empty();
  if (key == "password") return (spec->password = value), true;
  if (key == "limit") return ToInt(value, 1, 4096, &spec->client_limit);
  if (key == "kind") return ToInt(value, 0, 4, &spec->recording_kind);
  if (key == "width") return ToInt(value, 16, 4096, &spec->width) && spec->width % 2 == 0;
  if (key == "height") return ToInt(value, 16, 4096, &spec->height) && spec->height % 2 == 0;
  if (key == "fps") return ToInt(value, 1, 120, &spec->fps);
  if (key == "file") return !(spec->media_file = value).empty();
  if (key == "source") return !(spec->source = value).empty();
  if (key == "keep") return ToInt(value, 1, 24 * 60, &spec->keep_minutes);
  if (key == "transport") {
    if (value == "tcp") return !(spec->source_udp = false);
    if (value == "udp") return spec->source_udp = true;
    return false;
  }
  if (key == "cfg") return !(spec->cfg_library = value).empty();
  if (key == "cfgkind") return ToInt(value, -128, 127, &spec->cfg_param_kind);
  if (key == "number") return ParseNumber(value, spec);
  if (key == "port") return ToInt(value, 0, 65535, &spec->port);
  if (key == "oct_port") return ToInt(value, -1, 65535, &spec->oct_port);
  if (key == "header") return ParseHeader(value, spec);
  if (key == "fault") return ParseFault(value, &spec->faults);
  if (key == "codec") {
    if (value == "h264") return spec->codec = VideoCodec::kH264, true;
    if (value == "h265") return spec->codec = VideoCodec::kH265, true;
    return false;
  }
  if (key == "audio") {
    if (value == "alaw") return spec->mu_law = false, true;
    if (value == "ulaw") return spec->mu_law = true, true;
    return false;
  }
  if (key == "pace") {
    spec->spread = value == "spread";
    if (value == "on" || spec->spread) return spec->paced = true;
    if (value == "off") return !(spec->paced = false);
    return false;
  }
  if (key == "live") {
    if (value == "on") return spec->live = true;
    if (value == "off") return !(spec->live = false);
    return false;
  }
  if (key == "end") {
    if (value.size() != 1 || (value[0] != '2' && value[0] != '9' && value[0] != 'w')) return false;
    spec->playback_end = value[0];
    return true;
  }
  return false;
}

}  // namespace

bool ParseDeviceSpec(const std::string& text, DeviceSpec* spec, std::string* error) {
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string::npos || !Apply(item.substr(0, eq), item.substr(eq + 1), spec)) {
      if (error) *error = "bad device setting '" + item + "'";
      return false;
    }
  }
  return true;
}

const char* DeviceSpecHelp() {
  return "Each --device takes comma-separated key=value settings:\n"
         "  type=1..5          device type (1,5: 7-byte file-list entries; 2,3,4: 10-byte;\n"
         "                     3: configuration handshake)            [2]\n"
         "  channels=N         channel count                          [1]\n"
         "  user=NAME          login user                             [admin]\n"
         "  password=TEXT      login password                         [admin]\n"
         "  limit=N            client limit                           [8]\n"
         "  kind=0..4          recording kind: .sv4 .sv5 .sv6 .mp4 .mp4 [1]\n"
         "  codec=h264|h265    video codec of the test pattern        [h264]\n"
         "  width=W,height=H,fps=F  test pattern size and rate        [320x240 at 25]\n"
         "  audio=alaw|ulaw    G.711 audio law                        [alaw]\n"
         "  file=PATH          stream H.264/H.265 from this media file instead\n"
         "  source=URL         serve a camera's live stream (rtsp://..., or any input\n"
         "                     libavformat opens) instead of the pattern\n"
         "  transport=tcp|udp  RTSP transport to the source            [tcp]\n"
         "  keep=MINUTES       of the source kept as the recording of the day [5]\n"
         "  header=qfh|short:V|ext:V  stream header: whole 96-byte record, or the\n"
         "                     32-byte header with tag version V (4,5,6,7,9,10,16,17),\n"
         "                     plain or extended                      [qfh]\n"
         "  pace=on|off|spread pace frames at the frame rate; spread:  [on]\n"
         "                     clients' frames evenly over the tick\n"
         "  live=on|off        live frames from login, or only once asked [on]\n"
         "  end=2|9|w          end kind of a playback that runs out   [2]\n"
         "  cfg=PATH           configuration library sent to clients (type 3)\n"
         "  cfgkind=N          parameter kind of the configuration message [1]\n"
         "  number=A1001       directory group and number             [A<1001+index>]\n"
         "  port=N             Nxl link port                          [system picks]\n"
         "  oct_port=N         OCT link port; -1: no OCT side         [system picks]\n"
         "  fault=F            repeatable fault switch: refuse-password, no-channel,\n"
         "                     client-limit, refuse-text, abort-download, drop-after:N,\n"
         "                     close-after:N, malformed-after:N (after N live frames),\n"
         "                     slow:MS, hostile:SEED (every message mutated)\n";
}

}  // namespace vdevice
