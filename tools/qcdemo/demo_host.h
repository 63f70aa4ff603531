// The demo's side of the SDK's callbacks: prints what arrives and lets the
// demo wait for it.
#pragma once

#include <qcsdk/qcsdk.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace qcdemo {

class DemoHost {
 public:
  DemoHost();
  ~DemoHost();

  // Waits until pred() holds (checked under the host's lock after every
  // report) or timeoutMs passes.
  bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

  // Everything below is read under the lock held by WaitFor's predicate or
  // through Snapshot().
  std::map<int32_t, int> events;  // event code -> count
  int lastEvent = 0;
  int rawFrames = 0;
  std::map<int32_t, int> rawByChannel;  // channel -> raw frames
  int decoded = 0;
  int talkAccepted = 0;
  int talkAudio = 0;
  int userData = 0;
  int downloadEnd = -1;
  int lastProgress = 0;
  std::vector<std::vector<uint8_t>> recList;  // the last list's entries
  bool recListFailed = false;
  int searchResults = 0;
  std::map<int32_t, int> searchByTransport;  // QCSDK_TRANSPORT_* -> answers
  bool searchEnded = false;

  template <class F>
  auto Locked(F f) {
    std::lock_guard<std::mutex> guard(m_mutex);
    return f();
  }

  void OnEvent(int32_t channel, int32_t event, const char* data, int32_t value);
  void OnRaw(int32_t channel);
  void OnDecoded(const DecodedFrame* frame);
  void OnDownload(int32_t code, int32_t progress);
  void OnTalk(int32_t event);
  void OnUserData(int32_t length);
  void OnSearch(const QCSDK_SearchResult* result);

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
};

}  // namespace qcdemo
