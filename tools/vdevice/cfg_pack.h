// The device side of the configuration library transfer: packs bytes into
// the sliding-window stream the SDK unpacks (1,024-byte window).
#pragma once

#include <cstdint>
#include <vector>

namespace vdevice {

// Packs `input`; the stream's bit count is always 8 x bytes - 7, as the
// message's size field implies. Returns false when no such stream exists
// for this input (the bit count cannot be met).
bool CfgPack(const std::vector<uint8_t>& input, std::vector<uint8_t>& stream);

}  // namespace vdevice
