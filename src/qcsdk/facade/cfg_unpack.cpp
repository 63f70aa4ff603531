#include "qcsdk/facade/cfg_unpack.h"

#include <algorithm>

namespace qcsdk {
namespace {

constexpr std::size_t kWindow = 1024;

// Items start while the position is below the bit count; an item that
// starts below it may run on into the padding of the last byte, so reads
// are bounded by the input's bytes only.
class BitReader {
 public:
  BitReader(const uint8_t* data, std::size_t size, uint64_t bitCount)
      : m_data(data), m_end(static_cast<uint64_t>(size) * 8), m_count(bitCount) {}
  bool More() const { return m_pos < m_count; }
  // Reads n bits, least significant first; false past the input.
  bool Read(int n, uint32_t& value) {
    if (m_end - m_pos < static_cast<uint64_t>(n)) return false;
    value = 0;
    for (int i = 0; i < n; ++i, ++m_pos) {
      value |= static_cast<uint32_t>((m_data[m_pos / 8] >> (m_pos % 8)) & 1u) << i;
    }
    return true;
  }

 private:
  const uint8_t* m_data;
  uint64_t m_end;
  uint64_t m_count;
  uint64_t m_pos = 0;
};

}  // namespace

bool CfgUnpack(const uint8_t* input, std::size_t inputSize, uint64_t bitCount,
               std::vector<uint8_t>& output, std::size_t limit) {
  output.clear();
  if (input == nullptr) inputSize = 0;
  BitReader bits(input, inputSize, bitCount);
  while (bits.More()) {
    uint32_t flag = 0;
    if (!bits.Read(1, flag)) return false;
    if (flag == 0) {
      uint32_t byte = 0;
      if (!bits.Read(8, byte) || output.size() >= limit) return false;
      output.push_back(static_cast<uint8_t>(byte));
      continue;
    }
    uint32_t offset = 0;
    uint32_t extended = 0;
    if (!bits.Read(10, offset) || !bits.Read(1, extended)) return false;
    uint32_t k = 0;
    if (extended != 0) {
      uint32_t bit = 1;
      while (bit != 0) {
        if (!bits.Read(1, bit)) return false;
        ++k;
      }
    }
    uint32_t b = 0;
    if (!bits.Read(3, b)) return false;
    const std::size_t length = 1 + 8 * static_cast<std::size_t>(k) + b;
    const std::size_t n = output.size();
    const std::size_t start = (n > kWindow ? n - kWindow : 0) + offset;
    if (start + length > n || n + length > limit) return false;
    // The source lies wholly within what was produced: copy it as one block.
    output.resize(n + length);
    std::copy_n(output.begin() + static_cast<std::ptrdiff_t>(start), length,
                output.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return true;
}

}  // namespace qcsdk
