// One bound operation table per library. The default table is our own
// library (or, where it is not built, a table whose operations all fail);
// tests bind a scripted fake in its place and restore the default after.
#pragma once

#include <atomic>

namespace qcsdk::platform {

template <class Api>
class Binding {
 public:
  explicit Binding(const Api& fallback) : m_default(fallback), m_bound(&fallback) {}
  const Api& Get() const { return *m_bound.load(std::memory_order_acquire); }
  // nullptr restores the default table. The table must outlive its binding.
  void Bind(const Api* api) {
    m_bound.store(api != nullptr ? api : &m_default, std::memory_order_release);
  }
  const Api& Default() const { return m_default; }

 private:
  const Api& m_default;
  std::atomic<const Api*> m_bound;
};

}  // namespace qcsdk::platform
