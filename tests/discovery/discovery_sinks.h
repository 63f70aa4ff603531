// Host-side recorders of search results and OKIP answers. Each keeps copies
// of the records it was handed, null pointers counted as ends, and receives
// Thunk's reports while it lives. A SearchSink is also the registered search
// callback while it lives; an OkipSink's Thunk is handed to
// QCSDK_OKIP_StartService by the test.
#pragma once

#include <qcsdk/qcsdk.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qcsdk::test {

template <class Record>
class RecordSink {
 public:
  RecordSink() { s_current.store(this); }
  ~RecordSink() { s_current.store(nullptr); }
  static void Thunk(const Record* record) {
    if (RecordSink* sink = s_current.load()) sink->Add(record);
  }
  std::vector<Record> Records() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_records;
  }
  int Ends() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_ends;
  }
  // Runs on the reporting thread after the report was recorded.
  void OnReport(std::function<void(const Record*)> fn) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_onReport = std::move(fn);
  }

 private:
  void Add(const Record* record) {
    std::function<void(const Record*)> fn;
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      if (record != nullptr) {
        m_records.push_back(*record);
      } else {
        ++m_ends;
      }
      fn = m_onReport;
    }
    if (fn) fn(record);
  }
  static inline std::atomic<RecordSink*> s_current{nullptr};
  mutable std::mutex m_mutex;
  std::vector<Record> m_records;
  int m_ends = 0;
  std::function<void(const Record*)> m_onReport;
};

class SearchSink : public RecordSink<QCSDK_SearchResult> {
 public:
  SearchSink() { QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, &Thunk); }
  ~SearchSink() { QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr); }
  // The device numbers reported, in order.
  std::vector<std::string> Numbers() const {
    std::vector<std::string> numbers;
    for (const QCSDK_SearchResult& r : Records()) numbers.emplace_back(r.deviceNumber);
    return numbers;
  }
};

using OkipSink = RecordSink<QCSDK_OkipResult>;

}  // namespace qcsdk::test
