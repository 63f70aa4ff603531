#include "qcsdk/discovery/search_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "log/log.h"
#include "platform/nxl_api.h"
#include "platform/oct_api.h"
#include "platform/os.h"
#include "qcsdk/base/callback_edge.h"
#include "qcsdk/base/callbacks.h"

namespace qcsdk {
namespace {

constexpr int32_t kNxlRemotePort = 6666;
constexpr int32_t kOctRemotePort = 29999;
// The most answers the Nxl library delivers for one search.
constexpr int32_t kNxlMaxAnswers = 30;
constexpr uint32_t kOctMinTimeoutMs = 200;
constexpr uint32_t kOctMaxTimeoutMs = 1000;
constexpr int32_t kMaxChannelCount = 256;

// Everything one search shares between the host's thread and the
// transports' threads. The lock is re-entrant so that a host may start the
// next search from inside the callback that ends the current one.
struct SearchState {
  os::RecursiveLock lock;
  int32_t nOutstanding = 0;  // transports whose search has not ended yet
  int32_t nTypeFilter = 0;   // 0: every device type
  std::vector<std::string> seen;
};

SearchState g_search;

void CallHost(const QCSDK_SearchResult* record) {
  if (SearchCallback fn = g_pfnSearch.load(std::memory_order_acquire)) fn(record);
}

// Hands one record (null: a transport's end) to the host under the search
// lock; nothing is delivered while no search is outstanding.
void Deliver(const QCSDK_SearchResult* record) {
  std::lock_guard<os::RecursiveLock> guard(g_search.lock);
  if (g_search.nOutstanding <= 0) return;
  if (record == nullptr) {
    if (--g_search.nOutstanding == 0) CallHost(nullptr);
    return;
  }
  if (record->deviceNumber[0] != '\0') {
    std::string number(record->deviceNumber,
                       strnlen(record->deviceNumber, sizeof record->deviceNumber));
    if (std::find(g_search.seen.begin(), g_search.seen.end(), number) != g_search.seen.end()) {
      return;
    }
    // Remembered before the type filter: a device of another type is not
    // reported later by the other transport either.
    g_search.seen.push_back(std::move(number));
  }
  if (g_search.nTypeFilter != 0 && g_search.nTypeFilter != record->deviceType) return;
  CallHost(record);
}

// Out of memory for the seen list loses that answer, never the thread.
void OnNxlResult(QVC_SearchResult result) {
  AtCallbackEdge("search_device", [&] {
    if (result.endOfSearch != 0) {
      Deliver(nullptr);
    } else if (result.channelCount >= 1 && result.channelCount <= kMaxChannelCount) {
      const QCSDK_SearchResult record = SearchRecordFromNxl(result);
      Deliver(&record);
    }
  });
}

void OnOctResult(int32_t event, const OctSearchInfo* info) {
  AtCallbackEdge("search_device", [&] {
    if (event == OCTC_SEARCH_FOUND && info != nullptr) {
      const QCSDK_SearchResult record = SearchRecordFromOct(*info);
      Deliver(&record);
    } else if (event == OCTC_SEARCH_END) {
      Deliver(nullptr);
    }
  });
}

}  // namespace

void CopyTextField(char* field, size_t capacity, const char* text, size_t sourceLimit) {
  if (capacity == 0) return;
  size_t n = 0;
  if (text != nullptr) {
    n = strnlen(text, std::min(sourceLimit, capacity - 1));
    std::memcpy(field, text, n);
  }
  field[n] = '\0';
}

int32_t DeviceTypeFromCardType(int32_t cardType) {
  while (cardType > 15) cardType >>= 4;
  switch (cardType) {
    case 11: return 4;
    case 13: return 2;
    case 14: return 3;
    default: return 1;
  }
}

int32_t DeviceTypeFromOctType(int32_t octType) {
  switch (octType) {
    case 1: return 1;
    case 2: return 2;
    case 3:
    case 4: return 3;
    case 5: return 4;
    default: return 0;
  }
}

QCSDK_SearchResult SearchRecordFromNxl(const QVC_SearchResult& result) {
  QCSDK_SearchResult record{};
  const int groupLength = static_cast<int>(strnlen(result.group, sizeof result.group));
  if (groupLength == 0) {
    std::snprintf(record.deviceNumber, sizeof record.deviceNumber, "A%d", result.number);
  } else {
    std::snprintf(record.deviceNumber, sizeof record.deviceNumber, "%.*s%d", groupLength,
                  result.group, result.number);
  }
  CopyTextField(record.address, sizeof record.address, result.address, sizeof result.address);
  record.port = result.port;
  CopyTextField(record.name, sizeof record.name, result.name, sizeof result.name);
  record.deviceType = DeviceTypeFromCardType(result.cardType);
  record.channelCount = result.channelCount;
  record.word396 = 1;
  record.transport = QCSDK_TRANSPORT_NXL;
  return record;
}

QCSDK_SearchResult SearchRecordFromOct(const OctSearchInfo& info) {
  QCSDK_SearchResult record{};
  CopyTextField(record.deviceNumber, sizeof record.deviceNumber, info.device_id, SIZE_MAX);
  CopyTextField(record.address, sizeof record.address, info.address, SIZE_MAX);
  record.port = info.port;
  CopyTextField(record.name, sizeof record.name, info.name, SIZE_MAX);
  record.deviceType = DeviceTypeFromOctType(info.device_type);
  record.channelCount = info.channel_count;
  record.word396 = info.flags;
  record.transport = QCSDK_TRANSPORT_OCT;
  return record;
}

bool StartNxlSearchService() {
  const platform::NxlApi& nxl = platform::Nxl();
  nxl.EnableSearchCache(0);
  bool nxlStarted = false;
  for (int32_t port = 9400; port <= 9499 && !nxlStarted; ++port) {
    nxlStarted =
        static_cast<uint8_t>(nxl.StartLANSerchServer(port, kNxlRemotePort, &OnNxlResult, 2)) != 0;
  }
  return nxlStarted;
}

bool StartOctSearchService() {
  const platform::OctApi& oct = platform::Oct();
  for (int32_t port = 26666; port <= 39999; ++port) {
    int32_t r = oct.start_search_device_service(port, kOctRemotePort, 0, &OnOctResult);
    if (r == 0) return true;
    if (r < 0) {
      QC_LOG(log::kError, "search_device",
             "call octc_start_search_device_service() failed, port=%d, ret=%d", port, r);
    }
  }
  return false;
}

void ResetSearch() {
  std::lock_guard<os::RecursiveLock> guard(g_search.lock);
  g_search.seen.clear();
  if (g_search.nOutstanding <= 0) return;
  g_search.nOutstanding = 0;
  CallHost(nullptr);
}

bool LanSearchDevice(int32_t deviceType, int32_t timeoutMs) {
  std::lock_guard<os::RecursiveLock> guard(g_search.lock);
  if (g_search.nOutstanding > 0) return false;
  g_search.nTypeFilter = deviceType;
  g_search.seen.clear();

  if (static_cast<uint8_t>(
          platform::Nxl().LANSerchDevice("", 0, 0, 0, "", timeoutMs, kNxlMaxAnswers)) != 0) {
    ++g_search.nOutstanding;
  }

  // Compared unsigned: a negative time-out counts as a very long one.
  const uint32_t requested = static_cast<uint32_t>(timeoutMs);
  const int32_t octTimeout =
      static_cast<int32_t>(std::clamp(requested, kOctMinTimeoutMs, kOctMaxTimeoutMs));
  const int32_t r = platform::Oct().search_device(0, octTimeout);
  if (r < 0) {
    QC_LOG(log::kError, "search_device", "call octc_search_device() failed, timeout=%d, ret=%d",
           octTimeout, r);
  } else if (r == 0) {
    ++g_search.nOutstanding;
  }
  return g_search.nOutstanding > 0;
}

}  // namespace qcsdk
