// LAN search answers of both transports: the datagram goes through its
// library's decoder and the library's own conversion to the answer it
// reports, and, when that accepts it, into the SDK's search handler while a
// search is outstanding. Input: [u8 transport: even Nxl, odd OCT]
// [datagram].
#include <qcsdk/qcsdk.h>

#include "common/sdk_harness.h"
#include "discovery.h"
#include "messages.h"
#include "search_result.h"

using namespace qcsdk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto& fake = Fake();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, [](const QCSDK_SearchResult*) {});
  QCSDK_LanSeartchDevice(0, 1000);
  if (data[0] % 2 == 0) {
    uint32_t id = 0;
    qvc::wire::SearchAnswer answer;
    if (qvc::wire::DecodeSearchAnswer(data + 1, size - 1, &id, &answer)) {
      fake.discovery().nxlSearch(qvc::wire::ToSearchResult(answer, 0x0100007f));
    }
  } else {
    octc::wire::DeliverSearchAnswer(data + 1, size - 1, [&](uint32_t, const OctSearchInfo& info) {
      fake.discovery().octSearch(OCTC_SEARCH_FOUND, &info);
    });
  }
  // Both transports end the search, so the next input starts a new one.
  QVC_SearchResult end{};
  end.endOfSearch = 1;
  fake.discovery().nxlSearch(end);
  fake.discovery().octSearch(OCTC_SEARCH_END, nullptr);
  return 0;
}
