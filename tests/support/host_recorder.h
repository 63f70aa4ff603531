// Records what the SDK reports to the host's callbacks. Constructing one
// registers its callbacks; destroying it registers nulls.
#pragma once

#include <qcsdk/qcsdk.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qcsdk::test {

struct HostEvent {
  int32_t channel;
  int32_t code;
  std::string text;  // data as text for event 1, "<null>" when the pointer was null
  intptr_t data;     // the data pointer as a number
  int32_t value;
  void* user;
};

class HostRecorder {
 public:
  HostRecorder();
  ~HostRecorder();

  std::vector<HostEvent> Events() const;
  std::vector<int32_t> Codes() const;
  int Count(int32_t code) const;
  // Waits until `count` events with that code have arrived.
  bool WaitFor(int32_t code, int count = 1, int timeoutMs = 5000) const;

  // Called inside the event callback, on the reporting thread, after the
  // event has been recorded.
  std::function<void(const HostEvent&)> onEvent;

  struct RawRecord {
    int32_t channel;
    int32_t type;
    int32_t length;
  };
  std::vector<RawRecord> Raw() const;
  struct TalkRecord {
    int32_t channel;
    int32_t event;
    int32_t audioType;
    int32_t length;
  };
  std::vector<TalkRecord> Talk() const;
  struct DownloadRecord {
    int32_t channel;
    int32_t code;
    int32_t progress;
    int32_t total;
  };
  std::vector<DownloadRecord> Downloads() const;
  std::vector<DecodedFrame> Decoded() const;

  void OnEvent(int32_t channel, int32_t code, const char* data, int32_t value, void* user);
  void OnRaw(int32_t channel, const RawFrame* frame);
  void OnTalk(int32_t channel, int32_t event, int32_t type, int32_t length);
  void OnDownload(int32_t channel, int32_t code, int32_t progress, int32_t total);
  void OnDecoded(const DecodedFrame* frame);

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<HostEvent> m_events;
  std::vector<RawRecord> m_raw;
  std::vector<TalkRecord> m_talk;
  std::vector<DownloadRecord> m_downloads;
  std::vector<DecodedFrame> m_decoded;
};

// Multiplies a time-out by QCSDK_TEST_TIME_SCALE (default 1).
int ScaledMs(int ms);

}  // namespace qcsdk::test
