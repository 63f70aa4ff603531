// The decoded-picture function registered with the player library.
#pragma once

#include <cstdint>

namespace qcsdk {

// Finds the channel of `player` and hands it the picture (player thread).
void OnPlayerPicture(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                     int32_t yStride, int32_t uvStride);

}  // namespace qcsdk
