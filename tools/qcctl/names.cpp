#include "names.h"

namespace qcctl {

std::string VideoCodecName(int32_t codec) {
  switch (codec) {
    case 1: return "MPEG-4";
    case 2: return "H.264";
    case 11: return "H.265";
    default: return "other (" + std::to_string(codec) + ")";
  }
}

std::string AudioCodecName(int32_t codec) {
  switch (codec) {
    case 0: return "none";
    case 3: return "IMA ADPCM";
    case 4: return "G.711 A-law";
    case 5: return "G.711 mu-law";
    case 6: return "AAC";
    default: return "other (" + std::to_string(codec) + ")";
  }
}

std::string DeviceTypeName(int32_t type) {
  switch (type) {
    case 1: return "IP camera";
    case 2: return "DVR";
    case 3: return "NVR";
    case 4: return "other";
    default: return "unknown";
  }
}

}  // namespace qcctl
