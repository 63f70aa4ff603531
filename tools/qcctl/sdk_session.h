// The SDK for one run of qcctl: initialised on creation and released on
// destruction, with one device channel at a time. What the SDK's callbacks
// report is kept here for the command that waits for it.
#pragma once

#include <qcsdk/qcsdk.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "hostlib/device_source.h"

namespace qcctl {

// The exit codes of every command (docs/qcctl.md lists them).
enum Exit : int {
  kOk = 0,
  kFailed = 1,       // the device or the SDK refused or failed the operation
  kUsage = 2,        // wrong arguments
  kRefused = 3,      // the device refused the connection (events 2 to 5)
  kUnreachable = 4,  // no connection (event 6)
  kTimeout = 5,      // no answer in time
  kLinkEnded = 6,    // the link ended during the operation (events 7 to 9)
};

// Prints "qcctl: <what>" on standard error and returns code.
int Fail(int code, const std::string& what);

struct RecEntry {
  int32_t index = 0;
  int32_t kind = 0;
  std::string name, file, path;
};

// What the callbacks reported so far.
struct Reports {
  int32_t linkEvent = 0;  // the last of events 1 to 9
  std::string connectText;
  bool listDone = false;
  bool listFailed = false;
  std::vector<RecEntry> list;
  int32_t downloadEnd = -1;  // a QCSDK_DOWNLOAD_END_* code once ended
  int32_t downloadProgress = 0;
  int64_t decoded = 0;
  bool searchDone = false;
  std::vector<QCSDK_SearchResult> found;
};

class SdkSession {
 public:
  SdkSession();
  ~SdkSession();
  SdkSession(const SdkSession&) = delete;
  SdkSession& operator=(const SdkSession&) = delete;

  bool started() const { return m_started; }
  // Connects and waits up to timeoutMs for the link: kOk with channel()
  // set, or the exit code after saying on stderr which event ended it.
  int Connect(const hostlib::DeviceSource& source, int timeoutMs);
  int32_t channel() const { return m_channel; }
  const std::string& label() const { return m_label; }

  // Waits until done(reports) holds, up to timeoutMs: kOk, or kLinkEnded or
  // kTimeout after saying so on stderr for `what`. tick runs about five
  // times a second while waiting (progress displays).
  template <class Done, class Tick>
  int Wait(Done done, int timeoutMs, const std::string& what, Tick tick) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!done(m_reports)) {
      if (LinkEnded()) return EndedDuring(what);
      if (std::chrono::steady_clock::now() >= end) return TimedOut(what, timeoutMs);
      m_changed.wait_for(lock, std::chrono::milliseconds(200));
      tick(m_reports);
    }
    return kOk;
  }
  template <class Done>
  int Wait(Done done, int timeoutMs, const std::string& what) {
    return Wait(done, timeoutMs, what, [](const Reports&) {});
  }
  // Runs fn(reports) under the lock.
  template <class Fn>
  auto Locked(Fn fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return fn(m_reports);
  }

 private:
  static void OnEvent(int32_t channel, int32_t event, const char* data, int32_t value, void*);
  static void OnDownload(int32_t channel, int32_t code, int32_t progress, int32_t, void*);
  static void OnDecoded(int32_t channel, const DecodedFrame*, void*);
  static void OnSearch(const QCSDK_SearchResult* result);
  bool LinkEnded() const { return m_channel >= 0 && m_reports.linkEvent >= 2; }
  int EndedDuring(const std::string& what) const;
  int TimedOut(const std::string& what, int timeoutMs) const;

  bool m_started = false;
  int32_t m_channel = -1;
  std::string m_label;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  Reports m_reports;
};

// "nxl", "oct".
const char* TransportName(int32_t transport);

}  // namespace qcctl
