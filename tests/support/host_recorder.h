// Records the SDK's reports to the host; constructing registers its callbacks, destroying nulls.
#pragma once

#include <qcsdk/qcsdk.h>

#include <string>
#include <utility>

#include "support/event_log.h"

namespace qcsdk::test {

struct HostEvent {
  int32_t channel, code;
  std::string text;  // data as text for event 1, "<null>" when the pointer was null
  intptr_t data;     // the data pointer as a number
  int32_t value;
  void* user;
};

class HostRecorder {
 public:
  HostRecorder();
  ~HostRecorder();

  std::vector<HostEvent> Events() const { return m_events.Snapshot(); }
  std::vector<int32_t> Codes() const;
  int Count(int32_t code) const { return static_cast<int>(m_events.Count(Code(code))); }
  bool WaitFor(int32_t code, int count = 1, int timeoutMs = 5000) const {
    return m_events.WaitCount(static_cast<size_t>(count), Code(code), Scaled(timeoutMs));
  }

  // Called inside the event callback, on the reporting thread, after the event has been recorded.
  std::function<void(const HostEvent&)> onEvent;
  // Likewise in the download (channel, code) and decoded-picture (channel) callbacks.
  std::function<void(int32_t, int32_t)> onDownload;
  std::function<void(int32_t)> onDecoded;

  struct RawRecord {
    int32_t channel, type, length;
  };
  std::vector<RawRecord> Raw() const { return m_raw.Snapshot(); }
  struct TalkRecord {
    int32_t channel, event, audioType;
    std::string data;  // the bytes as text, "-" when the pointer was null
    int32_t length;
    void* user;
  };
  std::vector<TalkRecord> Talk() const { return m_talk.Snapshot(); }
  // The talk reports from the `from`-th on as "event type data length", joined
  // by "; "; one that names another channel or carries another host value says so.
  std::string TalkSince(size_t from, int32_t channel, void* user = nullptr) const;
  struct DownloadRecord {
    int32_t channel, code, progress, total;
  };
  std::vector<DownloadRecord> Downloads() const { return m_downloads.Snapshot(); }
  std::vector<DecodedFrame> Decoded() const { return m_decoded.Snapshot(); }
  // (channel, payload) of every user-data report.
  using UserDataRecord = std::pair<int32_t, std::string>;
  std::vector<UserDataRecord> UserData() const { return m_userData.Snapshot(); }

 private:
  friend struct HostThunks;  // the callbacks registered with the SDK
  static EventLog<HostEvent>::Keep Code(int32_t code) {
    return [code](const HostEvent& e) { return e.code == code; };
  }

  EventLog<HostEvent> m_events;
  EventLog<RawRecord> m_raw;
  EventLog<TalkRecord> m_talk;
  EventLog<DownloadRecord> m_downloads;
  EventLog<DecodedFrame> m_decoded;
  EventLog<UserDataRecord> m_userData;
};

}  // namespace qcsdk::test
