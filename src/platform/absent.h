// Tables for libraries that are not part of a build: every operation answers
// with its library's failure value, so the SDK reports the failure cleanly.
#pragma once

#include <type_traits>

namespace qcsdk::platform {

template <class Fn, long long kResult>
struct Refuse;

template <class R, class... A, long long kResult>
struct Refuse<R (*)(A...), kResult> {
  static R Call(A...) {
    if constexpr (std::is_void_v<R>) {
      return;
    } else if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else {
      return static_cast<R>(kResult);
    }
  }
};

}  // namespace qcsdk::platform

#define QCSDK_REFUSE(fn, result) (&::qcsdk::platform::Refuse<decltype(&fn), (result)>::Call)
