#include "qcsdk/dialog/cfg_unpack.h"

#include <algorithm>

#include "qcsdk/base/bytes.h"

namespace qcsdk {
namespace {

constexpr std::size_t kWindow = 1024;

// Items start while the position is below the bit count; an item that
// starts below it may run on into the padding of the last byte, so reads
// are bounded by the input's bytes only.
class BitReader {
 public:
  BitReader(const uint8_t* data, std::size_t size, uint64_t bitCount)
      : m_data(data), m_size(size), m_end(static_cast<uint64_t>(size) * 8), m_count(bitCount) {}
  bool More() const { return m_pos < m_count; }
  // Reads n (at most 24) bits, least significant first; false past the
  // input. The bytes they lie in are taken at once, not bit by bit: a
  // library of 190 KiB is 1.5 million bits.
  bool Read(int n, uint32_t& value) {
    if (m_end - m_pos < static_cast<uint64_t>(n)) return false;
    const std::size_t first = static_cast<std::size_t>(m_pos / 8);
    uint32_t window = 0;
    if (m_size - first >= 4) {
      window = LoadLe32(m_data + first);
    } else {
      for (std::size_t i = first; i < m_size; ++i) {
        window |= static_cast<uint32_t>(m_data[i]) << (8 * (i - first));
      }
    }
    value = (window >> (m_pos % 8)) & ((1u << n) - 1u);
    m_pos += static_cast<uint64_t>(n);
    return true;
  }

 private:
  const uint8_t* m_data;
  std::size_t m_size;
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
    // An item's first nine bits: a zero flag and the literal byte, or a one
    // flag and the low bits of a copy's offset. Either kind of item is at
    // least nine bits long.
    uint32_t head = 0;
    if (!bits.Read(9, head)) return false;
    if ((head & 1u) == 0) {
      if (output.size() >= limit) return false;
      output.push_back(static_cast<uint8_t>(head >> 1));
      continue;
    }
    uint32_t tail = 0;  // the offset's two high bits and the extension flag
    if (!bits.Read(3, tail)) return false;
    const uint32_t offset = (head >> 1) | (tail & 3u) << 8;
    const uint32_t extended = tail >> 2;
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
