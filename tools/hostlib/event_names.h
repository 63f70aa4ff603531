// Words for the SDK's link and channel events, for people reading a tool's
// output.
#pragma once

#include <cstdint>

namespace hostlib {

// "connected", "link lost", ... ("event" for codes without a name).
const char* EventName(int32_t event);

}  // namespace hostlib
