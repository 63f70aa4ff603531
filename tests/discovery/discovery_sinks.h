// Host-side recorders of search results and OKIP answers. Each keeps copies
// of the records it was handed, null pointers counted as ends. A SearchSink
// is the registered search callback while it lives; an OkipSink's Callback()
// is handed to QCSDK_OKIP_StartService by the test.
#pragma once

#include <qcsdk/qcsdk.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qcsdk::test {

template <class Record>
class RecordSink {
 public:
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

 private:
  mutable std::mutex m_mutex;
  std::vector<Record> m_records;
  int m_ends = 0;
  std::function<void(const Record*)> m_onReport;
};

class SearchSink : public RecordSink<QCSDK_SearchResult> {
 public:
  SearchSink();
  ~SearchSink();
  // The device numbers reported, in order.
  std::vector<std::string> Numbers() const;
};

class OkipSink : public RecordSink<QCSDK_OkipResult> {
 public:
  OkipSink();
  ~OkipSink();
  static OkipCallback Callback();
};

}  // namespace qcsdk::test
