// The frame every per-channel export follows: look the channel up, run the
// operation on it while holding a reference, convert the result. No C++
// exception crosses the exported interface.
#pragma once

#include <cstdint>
#include <utility>

#include "qcsdk/channel/channel.h"
#include "qcsdk/channel/registry.h"

namespace qcsdk {

// Runs op(channel) and returns its result as a 32-bit value, or noChannel
// when the number names no channel (or the operation threw). The reference
// is dropped last; the channel may be destroyed here if the registry
// already let it go.
template <class Op>
int32_t WithChannel(int32_t nChannel, int32_t noChannel, Op&& op) {
  try {
    ChannelPtr channel = FindChannel(nChannel);
    if (!channel) return noChannel;
    return static_cast<int32_t>(std::forward<Op>(op)(*channel));
  } catch (...) {
    return noChannel;
  }
}

}  // namespace qcsdk
