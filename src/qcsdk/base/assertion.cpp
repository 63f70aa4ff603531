#include "qcsdk/base/assertion.h"

#include <atomic>

#include "log/log.h"

namespace qcsdk {
namespace {
std::atomic<AssertObserver> g_observer{nullptr};
}

void AssertFailed(const char* condition, const char* file, int line) {
  if (log::Passes(0, log::kWarning)) {
    log::Write(0, log::kWarning, file, line, "assertion failed: %s", condition);
  }
  if (AssertObserver observer = g_observer.load(std::memory_order_acquire)) {
    observer(condition, file, line);
  }
}

void SetAssertObserver(AssertObserver observer) {
  g_observer.store(observer, std::memory_order_release);
}

}  // namespace qcsdk
