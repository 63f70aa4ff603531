#include "qcsdk/discovery/broadcast_target.h"

#include <qcsdk/qcsdk.h>

#include <mutex>
#include <string>

#include "platform/nxl_api.h"
#include "platform/oct_api.h"
#include "platform/os.h"

namespace qcsdk {
namespace {

constexpr char kDefaultTarget[] = "127.255.255.255";
constexpr char kAnyAddress[] = "0.0.0.0";

// Written by host threads; the lock also keeps two hosts' calls from
// interleaving their settings in the two libraries.
struct BroadcastTarget {
  std::mutex lock;
  std::string target = kDefaultTarget;
  std::string local = kAnyAddress;
};

BroadcastTarget g_broadcast;

void ApplyLocked() {
  platform::Nxl().SetBroadcastTarget(g_broadcast.target.c_str(), 0);
  platform::Oct().set_search_target(g_broadcast.target.c_str(), 0, g_broadcast.local.c_str());
}

}  // namespace

void ApplyBroadcastTarget() {
  std::lock_guard<std::mutex> guard(g_broadcast.lock);
  ApplyLocked();
}

void UseNetCardForSearch(int32_t card) {
  try {
    std::string local;
    if (!os::AdapterAddress(card, &local)) local = kAnyAddress;
    std::lock_guard<std::mutex> guard(g_broadcast.lock);
    g_broadcast.local = std::move(local);
    ApplyLocked();
  } catch (...) {
    // Out of memory: the OCT search service keeps its address.
  }
}

}  // namespace qcsdk

using namespace qcsdk;

extern "C" {

QCSDK_API int32_t QCSDK_CALL QCSDK_SetBroadcastTarget(const char* szAddress) {
  try {
    const bool useDefault = szAddress == nullptr || szAddress[0] == '\0';
    if (!useDefault && !os::IsDottedIpv4(szAddress)) return 0;
    std::string target = useDefault ? kDefaultTarget : szAddress;
    std::lock_guard<std::mutex> guard(g_broadcast.lock);
    g_broadcast.target = std::move(target);
    ApplyLocked();
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
