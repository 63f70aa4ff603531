// What the Nxl end-to-end tests share: a recorder behind the library's C
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

struct Event {
  enum Kind { kConnect, kLive, kFileList, kTalk, kText, kDownload, kPlayback, kSearch, kOkip };
  explicit Event(Kind k, int32_t l = 0, int32_t c = 0, std::vector<uint8_t> d = {})
      : kind(k), link(l), code(c), data(std::move(d)) {}
  Kind kind;
  int32_t link = 0;
  int32_t code = 0;  // result, frame type, talk kind, text or download type
  std::vector<uint8_t> data;
  std::string text;
  uint32_t total = 0;
  QVC_SearchResult search{};
  uint32_t source = 0;
  int32_t end = 0;
};

// Records every callback of the library. One at a time is current; the C
// callbacks reach it through Current().
class Recorder {
 public:
  Recorder();
  ~Recorder();
  static Recorder* Current();

  void Add(Event event);
  std::vector<Event> Events() const;
  std::vector<Event> Events(Event::Kind kind) const;
  // Waits until `pred` holds for the events so far; false at the time-out.
  bool WaitFor(const std::function<bool(const std::vector<Event>&)>& pred,
               std::chrono::milliseconds timeout = Scaled(10000));
  // Waits until `count` events of `kind` arrived.
  bool WaitCount(Event::Kind kind, size_t count, std::chrono::milliseconds timeout = Scaled(10000));
  // Run inside the next callbacks of that kind (re-entrancy tests).
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

  Recorder recorder_;
};

void OnSearch(QVC_SearchResult result);
void OnOkip(int32_t id, const uint8_t* data, int32_t length, uint32_t source, int32_t end);

// A UDP port that was free a moment ago.
uint16_t FreeUdpPort();

}  // namespace nxl_test
