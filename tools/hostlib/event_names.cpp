#include "event_names.h"

namespace hostlib {

const char* EventName(int32_t event) {
  switch (event) {
    case 1: return "connected";
    case 2: return "password refused";
    case 3: return "no such channel";
    case 4: return "connection type refused";
    case 5: return "client limit reached";
    case 6: return "connect failed";
    case 7: return "disconnected";
    case 8: return "link lost";
    case 9: return "closed by the device";
    case 10: return "recording list";
    case 11: return "recording list failed";
    case 12:
    case 13:
    case 14:
    case 15: return "playback ended";
    case 16: return "stream changed";
    case 17: return "device recording state";
    default: return "event";
  }
}

std::string RecordingExtension(int32_t kind) {
  switch (kind) {
    case 1: return ".sv4";
    case 2: return ".sv5";
    case 3: return ".sv6";
    case 4:
    case 5: return ".mp4";
    default: return "";
  }
}

}  // namespace hostlib
