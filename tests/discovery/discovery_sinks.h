// Host-side recorders of search results and OKIP answers. Each registers
// its callback while it lives (the search callback through
// QCSDK_RegisterCallback; the OKIP one is handed to QCSDK_OKIP_StartService
// by the test) and keeps copies of the records, the null pointers counted
// as ends.
#pragma once

#include <qcsdk/qcsdk.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qcsdk::test {

class SearchSink {
 public:
  SearchSink();
  ~SearchSink();
  SearchSink(const SearchSink&) = delete;
  SearchSink& operator=(const SearchSink&) = delete;

  std::vector<QCSDK_SearchResult> Records() const;
  // The device numbers reported, in order.
  std::vector<std::string> Numbers() const;
  int Ends() const;
  // Waits until `count` ends have arrived in all.
  bool WaitEnds(int count, int timeoutMs = 5000) const;

  // Runs on the reporting thread after the report was recorded (null: the
  // end of a search).
  void OnReport(std::function<void(const QCSDK_SearchResult*)> fn);

  void Record(const QCSDK_SearchResult* record);

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<QCSDK_SearchResult> m_records;
  int m_ends = 0;
  std::function<void(const QCSDK_SearchResult*)> m_onReport;
};

class OkipSink {
 public:
  OkipSink();
  ~OkipSink();
  OkipSink(const OkipSink&) = delete;
  OkipSink& operator=(const OkipSink&) = delete;

  // The function to hand to QCSDK_OKIP_StartService.
  static OkipCallback Callback();

  std::vector<QCSDK_OkipResult> Records() const;
  int Ends() const;
  bool WaitEnds(int count, int timeoutMs = 5000) const;
  void Clear();

  void Record(const QCSDK_OkipResult* record);

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<QCSDK_OkipResult> m_records;
  int m_ends = 0;
};

}  // namespace qcsdk::test
