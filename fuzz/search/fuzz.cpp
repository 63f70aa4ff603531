// LAN search answers of both transports: the datagram goes through its
// library's decoder and, when that accepts it, into the SDK's search handler
// while a search is outstanding. Input: [u8 transport: even Nxl, odd OCT]
// [datagram].
#include <qcsdk/qcsdk.h>

#include <cstdio>
#include <cstring>

#include "common/sdk_harness.h"
#include "discovery.h"
#include "messages.h"
#include "netio/address.h"
#include "wire.h"

using namespace qcsdk::fuzz;

namespace {

void DeliverNxl(const qcsdk::test::FakeLibraries& fake, const uint8_t* data, size_t size) {
  uint32_t id = 0;
  qvc::wire::SearchAnswer answer;
  if (!qvc::wire::DecodeSearchAnswer(data, size, &id, &answer)) return;
  QVC_SearchResult result{};
  std::snprintf(result.group, sizeof result.group, "%s", answer.group.c_str());
  result.number = answer.number;
  result.cardType = answer.card_type;
  result.channelCount = answer.channel_count;
  result.port = answer.port;
  std::snprintf(result.address, sizeof result.address, "%s",
                netio::FormatAddress(answer.address).c_str());
  std::snprintf(result.name, sizeof result.name, "%s", answer.name.c_str());
  fake.discovery().nxlSearch(result);
}

void DeliverOct(const qcsdk::test::FakeLibraries& fake, const uint8_t* data, size_t size) {
  using namespace octc::wire;
  Header h;
  if (size < kHeaderSize || !DecodeHeader(data, h) || h.type != Type::kSearchAnswer ||
      h.length != size - kHeaderSize) {
    return;
  }
  Reader r(data + kHeaderSize, h.length);
  SearchAnswerData d;
  if (!ReadSearchAnswer(r, d) || !r.AtEnd()) return;
  OctSearchInfo info{};
  info.device_id = d.device_id.c_str();
  info.name = d.name.c_str();
  info.device_type = d.device_type;
  info.channel_count = d.channel_count;
  info.flags = d.flags;
  info.address = d.address.c_str();
  info.port = d.port;
  fake.discovery().octSearch(OCTC_SEARCH_FOUND, &info);
}

void IgnoreResult(const QCSDK_SearchResult*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto& fake = Fake();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, &IgnoreResult);
  QCSDK_LanSeartchDevice(0, 1000);
  if (data[0] % 2 == 0) {
    DeliverNxl(fake, data + 1, size - 1);
  } else {
    DeliverOct(fake, data + 1, size - 1);
  }
  // Both transports end the search, so the next input starts a new one.
  QVC_SearchResult end{};
  end.endOfSearch = 1;
  fake.discovery().nxlSearch(end);
  fake.discovery().octSearch(OCTC_SEARCH_END, nullptr);
  return 0;
}
