// Writes a snapshot (32-bit blue-green-red-alpha pixels, bottom-up rows, as
// the SDK hands them out) as a PNG file for people to look at.
#pragma once

#include <cstdint>
#include <string>

namespace qcdemo {

bool WritePng(const std::string& path, const uint8_t* bgra, int width, int height);

}  // namespace qcdemo
