// Words for the numbers the SDK reports, for people reading qcctl's output.
#pragma once

#include <cstdint>
#include <string>

#include "hostlib/event_names.h"

namespace qcctl {

std::string VideoCodecName(int32_t codec);  // "H.264", ...
std::string AudioCodecName(int32_t codec);  // "G.711 A-law", ...
std::string DeviceTypeName(int32_t type);   // "DVR", ...
using hostlib::RecordingExtension;          // ".sv5", ...; "" for an unknown kind

}  // namespace qcctl
