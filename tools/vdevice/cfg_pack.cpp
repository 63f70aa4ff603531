#include "vdevice/cfg_pack.h"

#include <algorithm>
#include <cstddef>

namespace vdevice {
namespace {

constexpr std::size_t kWindow = 1024;

struct Item {
  bool copy;
  uint32_t value;  // literal byte, or the copy's offset
  std::size_t length;
};

class BitWriter {
 public:
  void Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i, ++m_pos) {
      if (m_pos / 8 >= m_out.size()) m_out.push_back(0);
      if ((value >> i) & 1u) m_out[m_pos / 8] |= static_cast<uint8_t>(1u << (m_pos % 8));
    }
  }
  std::vector<uint8_t>& Bytes() { return m_out; }

 private:
  std::vector<uint8_t> m_out;
  std::size_t m_pos = 0;
};

}  // namespace

std::vector<uint8_t> CfgPack(const std::vector<uint8_t>& input) {
  // Greedy matching: the longest earlier run in the window that ends
  // before the current position.
  std::vector<Item> items;
  std::size_t n = 0;
  while (n < input.size()) {
    const std::size_t base = n > kWindow ? n - kWindow : 0;
    std::size_t bestLength = 0, bestStart = 0;
    for (std::size_t start = base; start < n; ++start) {
      std::size_t length = 0;
      while (start + length < n && n + length < input.size() &&
             input[start + length] == input[n + length]) {
        ++length;
      }
      if (length > bestLength) {
        bestLength = length;
        bestStart = start;
      }
    }
    if (bestLength >= 2) {
      items.push_back({true, static_cast<uint32_t>(bestStart - base), bestLength});
      n += bestLength;
    } else {
      items.push_back({false, input[n], 1});
      ++n;
    }
  }
  BitWriter out;
  for (const Item& item : items) {
    if (!item.copy) {
      out.Put(0, 1);
      out.Put(item.value, 8);
      continue;
    }
    out.Put(1, 1);
    out.Put(item.value, 10);
    const std::size_t k = (item.length - 1) / 8;
    if (k == 0) {
      out.Put(0, 1);
    } else {
      out.Put(1, 1);
      for (std::size_t j = 1; j < k; ++j) out.Put(1, 1);
      out.Put(0, 1);
    }
    out.Put(static_cast<uint32_t>((item.length - 1) % 8), 3);
  }
  // The last byte is padded with zero bits.
  return std::move(out.Bytes());
}

}  // namespace vdevice
