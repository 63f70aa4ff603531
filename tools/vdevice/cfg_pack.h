// The device side of the configuration library transfer: packs bytes into
// the sliding-window stream the SDK unpacks (1,024-byte window).
#pragma once

#include <cstdint>
#include <vector>

namespace vdevice {

// Packs `input`; the last byte is padded with zero bits. The stream's bit
// count is 8 x bytes - 7, as the message's size field implies: no item
// starts in the padding.
std::vector<uint8_t> CfgPack(const std::vector<uint8_t>& input);

}  // namespace vdevice
