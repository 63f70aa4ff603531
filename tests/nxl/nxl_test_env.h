// What the Nxl library tests share: a recorder behind the library's C
// callbacks, scaled time-outs, and a fixture that initialises and releases
// the library around each test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "qvc/qvc.h"
#include "qvc/qvc_config.h"
#include "support/process_probe.h"

namespace nxl_test {

// A time-out scaled by QCSDK_TEST_TIME_SCALE.
std::chrono::milliseconds Scaled(int ms);

using qcsdk::test::ThreadCount;

// A UDP port that was free a moment ago.
uint16_t FreeUdpPort();

struct Event {
  enum Kind { kConnect, kLive, kFileList, kTalk, kText, kDownload, kPlayback, kSearch, kOkip };
  Kind kind;
  int32_t link = 0;
  int32_t code = 0;  // result, frame type, talk kind, text or download type, OKIP id
  std::vector<uint8_t> data = {};
  std::string text = {};  // connect results
  uint32_t total = 0;     // downloads
  QVC_SearchResult search{};
  uint32_t source = 0;  // OKIP answers
  int32_t end = 0;      // end of a search or of an OKIP exchange
};

// Records every callback of the library; the C callbacks reach the one
// that lives.
class Recorder {
 public:
  Recorder();
  ~Recorder();
  void Add(Event event);
  std::vector<Event> Events() const;
  // Events of a kind, for one link and one code when given (>= 0).
  std::vector<Event> Events(Event::Kind kind, int32_t link = -1, int32_t code = -1) const;
  // Waits until `pred` holds for the events so far; false at the time-out.
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& pred,
               std::chrono::milliseconds timeout = Scaled(10000));
  // Waits until `count` events of that kind (link, code) have arrived.
  bool WaitCount(Event::Kind kind, size_t count, int32_t link = -1, int32_t code = -1);
  // Run inside every later callback, after it is recorded.
  void SetHook(std::function<void(const Event&)> hook);

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Event> events_;
  std::function<void(const Event&)> hook_;
};

// Registers the recorder's callbacks, initialises the library, points it at
// nothing outside loopback, and releases it at the end of the test.
class NxlTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The connect results of a link so far, and a wait for the n-th.
  std::vector<Event> Results(int32_t link) const { return recorder_.Events(Event::kConnect, link); }
  bool WaitResult(int32_t link, size_t count = 1) {
    return recorder_.WaitCount(Event::kConnect, count, link);
  }

  Recorder recorder_;
};

void OnSearch(QVC_SearchResult result);
void OnOkip(int32_t id, const uint8_t* data, int32_t length, uint32_t source, int32_t end);

}  // namespace nxl_test
