// Recorders of search results and OKIP answers: copies of what Thunk gets while the sink lives,
// nulls counted as ends. A SearchSink registers itself; an OkipSink's Thunk goes to OKIP.
#pragma once

#include <qcsdk/qcsdk.h>

#include <atomic>
#include <optional>
#include <string>

#include "support/event_log.h"

namespace qcsdk::test {

template <class Record>
class RecordSink {
 public:
  RecordSink() { s_current.store(this); }
  ~RecordSink() { s_current.store(nullptr); }
  static void Thunk(const Record* record) {
    if (RecordSink* sink = s_current.load())
      sink->m_log.Add(record != nullptr ? std::optional<Record>(*record) : std::nullopt);
  }
  std::vector<Record> Records() const {
    std::vector<Record> records;
    for (const auto& r : m_log.Snapshot())
      if (r) records.push_back(*r);
    return records;
  }
  int Ends() const {
    return static_cast<int>(m_log.Count([](const std::optional<Record>& r) { return !r; }));
  }
  // Runs on the reporting thread after the report was recorded.
  void OnReport(std::function<void(const Record*)> fn) {
    if (!fn) return m_log.SetHook(nullptr);
    m_log.SetHook([fn](const std::optional<Record>& r) { fn(r ? &*r : nullptr); });
  }

 private:
  static inline std::atomic<RecordSink*> s_current{nullptr};
  EventLog<std::optional<Record>> m_log;
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
