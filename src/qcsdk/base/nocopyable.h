// Base of classes that must be neither copied nor assigned.
#pragma once

namespace asl {

class NoCopyable {
 public:
  NoCopyable(const NoCopyable&) = delete;
  NoCopyable& operator=(const NoCopyable&) = delete;

 protected:
  NoCopyable() = default;
  ~NoCopyable() = default;
};

}  // namespace asl
