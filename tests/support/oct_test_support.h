// Helpers shared by the OCT tests: a media-information record and a
// recorder of the host's user-data callback.
#pragma once

#include <octc/octc.h>
#include <qcsdk/qcsdk.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "support/host_recorder.h"

namespace qcsdk::test {

// H.264 640x360 with 8 kHz mono 16-bit audio of the given codec.
inline OctMediaInfo OctMedia(int32_t durationMs = 0, int32_t rateX10000 = 250000,
                             int32_t audioCodec = 4) {
  OctMediaInfo m{};
  m.video_codec = 1;
  m.width = 640;
  m.height = 360;
  m.frame_rate_x10000 = rateX10000;
  m.audio_codec = audioCodec;
  m.audio_channels = 1;
  m.audio_sample_rate = 8000;
  m.audio_bits = 16;
  m.duration_ms = durationMs;
  return m;
}

// Registers itself as the user-data callback for its lifetime and keeps
// every (channel, payload) it receives.
class UserDataLog : public EventLog<std::pair<int32_t, std::string>> {
 public:
  using Entry = std::pair<int32_t, std::string>;
  UserDataLog() {
    Current() = this;
    QCSDK_RegisterUserDataCallback(&On);
  }
  ~UserDataLog() {
    QCSDK_RegisterUserDataCallback(nullptr);
    Current() = nullptr;
  }
  UserDataLog(const UserDataLog&) = delete;
  UserDataLog& operator=(const UserDataLog&) = delete;

  // What arrived so far, sorted (reports of several channels have no order).
  std::vector<Entry> Sorted() const {
    std::vector<Entry> out = Snapshot();
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  static std::atomic<UserDataLog*>& Current() {
    static std::atomic<UserDataLog*> current{nullptr};
    return current;
  }
  static void On(int32_t channel, const uint8_t* data, int32_t length) {
    if (UserDataLog* log = Current().load()) {
      log->Add({channel, std::string(reinterpret_cast<const char*>(data),
                                     static_cast<std::size_t>(length))});
    }
  }
};

}  // namespace qcsdk::test
