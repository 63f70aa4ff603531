// Records what the SDK reports to the host's callbacks. Constructing one
// registers its callbacks; destroying it registers nulls.
#pragma once

#include <qcsdk/qcsdk.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
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

  std::vector<HostEvent> Events() const { return Get(m_events); }
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
  std::vector<RawRecord> Raw() const { return Get(m_raw); }
  struct TalkRecord {
    int32_t channel;
    int32_t event;
    int32_t audioType;
    int32_t length;
  };
  std::vector<TalkRecord> Talk() const { return Get(m_talk); }
  struct DownloadRecord {
    int32_t channel;
    int32_t code;
    int32_t progress;
    int32_t total;
  };
  std::vector<DownloadRecord> Downloads() const { return Get(m_downloads); }
  std::vector<DecodedFrame> Decoded() const { return Get(m_decoded); }
  // (channel, payload) of every user-data report.
  using UserDataRecord = std::pair<int32_t, std::string>;
  std::vector<UserDataRecord> UserData() const { return Get(m_userData); }

  void OnEvent(int32_t channel, int32_t code, const char* data, int32_t value, void* user);
  void OnRaw(int32_t channel, const RawFrame* frame) {
    Add(m_raw, {channel, frame->type, frame->length});
  }
  void OnTalk(int32_t channel, int32_t event, int32_t type, int32_t length) {
    Add(m_talk, {channel, event, type, length});
  }
  void OnDownload(int32_t channel, int32_t code, int32_t progress, int32_t total) {
    Add(m_downloads, {channel, code, progress, total});
  }
  void OnDecoded(const DecodedFrame* frame) { Add(m_decoded, *frame); }
  void OnUserData(int32_t channel, const uint8_t* data, int32_t length) {
    Add(m_userData,
        {channel, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length))});
  }

 private:
  template <class T>
  std::vector<T> Get(const std::vector<T>& records) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return records;
  }
  template <class T>
  void Add(std::vector<T>& records, T record) {
    std::lock_guard<std::mutex> guard(m_mutex);
    records.push_back(std::move(record));
  }

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_cv;
  std::vector<HostEvent> m_events;
  std::vector<RawRecord> m_raw;
  std::vector<TalkRecord> m_talk;
  std::vector<DownloadRecord> m_downloads;
  std::vector<DecodedFrame> m_decoded;
  std::vector<UserDataRecord> m_userData;
};

// Multiplies a time-out by QCSDK_TEST_TIME_SCALE (default 1).
int ScaledMs(int ms);

}  // namespace qcsdk::test
