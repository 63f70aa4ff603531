#include "discovery/discovery_sinks.h"

#include <atomic>
#include <chrono>

#include "support/host_recorder.h"

namespace qcsdk::test {
namespace {

std::atomic<SearchSink*> g_search{nullptr};
std::atomic<OkipSink*> g_okip{nullptr};

void SearchThunk(const QCSDK_SearchResult* record) {
  if (SearchSink* sink = g_search.load()) sink->Record(record);
}

void OkipThunk(const QCSDK_OkipResult* record) {
  if (OkipSink* sink = g_okip.load()) sink->Record(record);
}

}  // namespace

SearchSink::SearchSink() {
  g_search.store(this);
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, &SearchThunk);
}

SearchSink::~SearchSink() {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  g_search.store(nullptr);
}

std::vector<QCSDK_SearchResult> SearchSink::Records() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_records;
}

std::vector<std::string> SearchSink::Numbers() const {
  std::vector<std::string> numbers;
  for (const QCSDK_SearchResult& r : Records()) numbers.emplace_back(r.deviceNumber);
  return numbers;
}

int SearchSink::Ends() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_ends;
}

bool SearchSink::WaitEnds(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(m_mutex);
  return m_cv.wait_for(guard, std::chrono::milliseconds(ScaledMs(timeoutMs)),
                       [&] { return m_ends >= count; });
}

void SearchSink::OnReport(std::function<void(const QCSDK_SearchResult*)> fn) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_onReport = std::move(fn);
}

void SearchSink::Record(const QCSDK_SearchResult* record) {
  std::function<void(const QCSDK_SearchResult*)> fn;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (record != nullptr) {
      m_records.push_back(*record);
    } else {
      ++m_ends;
    }
    fn = m_onReport;
    // Under the lock: a waiter that wakes may destroy the sink at once.
    m_cv.notify_all();
  }
  if (fn) fn(record);
}

OkipSink::OkipSink() { g_okip.store(this); }

OkipSink::~OkipSink() { g_okip.store(nullptr); }

OkipCallback OkipSink::Callback() { return &OkipThunk; }

std::vector<QCSDK_OkipResult> OkipSink::Records() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_records;
}

int OkipSink::Ends() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_ends;
}

bool OkipSink::WaitEnds(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(m_mutex);
  return m_cv.wait_for(guard, std::chrono::milliseconds(ScaledMs(timeoutMs)),
                       [&] { return m_ends >= count; });
}

void OkipSink::Clear() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_records.clear();
  m_ends = 0;
}

void OkipSink::Record(const QCSDK_OkipResult* record) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (record != nullptr) {
      m_records.push_back(*record);
    } else {
      ++m_ends;
    }
    m_cv.notify_all();
  }
}

}  // namespace qcsdk::test
