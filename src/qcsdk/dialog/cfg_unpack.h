// The sliding-window decompressor for configuration dialog libraries that
// devices send (1,024-byte window, bit-level items, least significant bit
// first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qcsdk {

constexpr std::size_t kCfgUnpackLimit = 1048576;

// Unpacks the items of `input` (inputSize bytes) that start below bit
// `bitCount`; the last item may run on past it into the last byte. Returns
// false for a stream that reads past the input, copies from outside the
// output produced so far, or would exceed `limit` bytes; `output` then
// holds what was unpacked before the fault.
bool CfgUnpack(const uint8_t* input, std::size_t inputSize, uint64_t bitCount,
               std::vector<uint8_t>& output, std::size_t limit = kCfgUnpackLimit);

}  // namespace qcsdk
