// Words for the SDK's link and channel events and recording kinds, for people
// reading a tool's output.
#pragma once

#include <cstdint>
#include <string>

namespace hostlib {

// "connected", "link lost", ... ("event" for codes without a name).
const char* EventName(int32_t event);

// The file extension of a recording kind (offset 4 of a recording entry):
// ".sv4", ".sv5", ".sv6" or ".mp4"; "" for an unknown kind.
std::string RecordingExtension(int32_t kind);

}  // namespace hostlib
