// The yardstick for the player's display: the shortest honest way to show a
// decoded picture in a window with the same libraries: libswscale into a
// shared-memory image, one put-image request, one round trip to know the
// server is done with the memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace display_bench {

struct LoopResult {
  bool ok = false;
  double cpuSecondsPerPicture = 0;  // this process only
  std::vector<uint32_t> micros;     // per picture: scale + put + acknowledgement
};

// Draws `count` pictures (cycling through `pictures`) into `rects` of the
// window in turn, each rectangle width x height at its (x, y).
LoopResult RunPlainDrawLoop(const std::string& display, uint32_t window,
                            const std::vector<const AVFrame*>& pictures,
                            const std::vector<std::pair<int, int>>& origins, int width, int height,
                            int count);

}  // namespace display_bench
