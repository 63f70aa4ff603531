// The edge of every function the SDK registers with a library: no C++
// exception may return into a library's thread. A message whose handling
// throws (an allocation that fails, for one) is dropped with one log line.
#pragma once

#include <exception>

#include "log/log.h"

namespace qcsdk {

template <class Handle>
void AtCallbackEdge(const char* source, Handle&& handle) noexcept {
  try {
    handle();
  } catch (const std::exception& e) {
    QC_LOG(log::kError, source, "message dropped: %s", e.what());
  } catch (...) {
    QC_LOG(log::kError, source, "message dropped");
  }
}

}  // namespace qcsdk
