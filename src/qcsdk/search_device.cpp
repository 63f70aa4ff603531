#include "qcsdk/search_device.h"

#include "log/log.h"
#include "platform/nxl_api.h"
#include "platform/oct_api.h"

namespace qcsdk {
namespace {

// The records of each transport's answers are turned into host records with
// the search itself; until it lands the services listen but report nothing.
void OnNxlResult(QVC_SearchResult) {}
void OnOctResult(int32_t, const OctSearchInfo*) {}

}  // namespace

bool StartNxlSearchService() {
  const platform::NxlApi& nxl = platform::Nxl();
  nxl.EnableSearchCache(0);
  bool nxlStarted = false;
  for (int32_t port = 9400; port <= 9499 && !nxlStarted; ++port) {
    nxlStarted = static_cast<uint8_t>(nxl.StartLANSerchServer(port, 6666, &OnNxlResult, 2)) != 0;
  }
  return nxlStarted;
}

bool StartOctSearchService() {
  const platform::OctApi& oct = platform::Oct();
  for (int32_t port = 26666; port <= 39999; ++port) {
    int32_t r = oct.start_search_device_service(port, 29999, 0, &OnOctResult);
    if (r == 0) return true;
    if (r < 0) {
      QC_LOG(log::kError, "search_device",
             "call octc_start_search_device_service() failed, port=%d, ret=%d", port, r);
    }
  }
  return false;
}

// Searching arrives with discovery; until then no search can start.
bool LanSearchDevice(int32_t, int32_t) {
  return false;
}

}  // namespace qcsdk
