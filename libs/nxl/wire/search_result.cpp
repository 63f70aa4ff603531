#include "search_result.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "netio/address.h"

namespace qvc::wire {
namespace {

template <size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

}  // namespace

QVC_SearchResult ToSearchResult(const SearchAnswer& answer, uint32_t source) {
  QVC_SearchResult result{};
  CopyText(result.group, answer.group);
  result.number = answer.number;
  result.cardType = answer.card_type;
  result.channelCount = answer.channel_count;
  result.port = answer.port;
  CopyText(result.address, netio::FormatAddress(answer.address ? answer.address : source));
  CopyText(result.name, answer.name);
  return result;
}

}  // namespace qvc::wire
