// Writes 32-bit blue-green-red-alpha pixels as a PNG file for people to look
// at: a snapshot as the SDK hands it out (bottom-up rows), or a window's
// contents (top-down rows).
#pragma once

#include <cstdint>
#include <string>

namespace hostlib {

bool WritePng(const std::string& path, const uint8_t* bgra, int width, int height,
              bool bottomUp = true);

}  // namespace hostlib
