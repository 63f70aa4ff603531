// Shared set-up of the player library tests: the library initialised with a
// decoded-picture function that records what each player reported, and
// helpers to build stream records and feed encoded frames.
#pragma once

#include <gtest/gtest.h>
#include <qvsp/qvsp.h>
#include <qvsp/qvsp_ext.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "support/event_log.h"
#include "support/process_probe.h"
#include "vdevice/pattern_encoder.h"

namespace qvsp_test {

using vdevice::MediaFrame;
using vdevice::PatternCodec;

using StreamRecord = std::array<uint8_t, 96>;

// A stream-information record; audioCodec empty for a stream without audio.
StreamRecord MakeRecord(PatternCodec video, int width, int height,
                        std::optional<int> audioCodec = std::nullopt, int sampleRate = 8000,
                        int channels = 1);

// One reported picture as the decoded-picture function saw it.
struct Picture {
  int32_t player = -1;
  int32_t width = 0;  // from QVSP_GetBitmapSize inside the callback
  int32_t height = 0;
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int32_t yStride = 0;
  int32_t uvStride = 0;
  uint64_t checksum = 0;
  // Every 3rd luma sample of every 3rd row, every 2nd chroma sample of every
  // 2nd row (pictures up to 640x480 only).
  std::vector<uint8_t> ySamples;
  std::vector<uint8_t> uSamples;
  std::vector<uint8_t> vSamples;
};

// The picture of the moving test pattern (index 0 to frames - 1) that the
// decoded picture resembles most, and the mean absolute luma error to it.
int PatternIndex(const Picture& p, int frames, double* meanError = nullptr);

uint64_t PlaneChecksum(const Picture& p);

// Writes one frame to the player's stream: the library's answer.
inline int32_t WriteFrame(int32_t player, const std::vector<uint8_t>& frame) {
  return QVSP_WriteToStreamOneFrame(player, frame.data(), static_cast<int32_t>(frame.size()));
}

// Every picture the players reported, in order; a hook runs after each.
class PictureLog : public qcsdk::test::EventLog<Picture> {
 public:
  using EventLog::WaitFor;
  void OnPicture(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                 int32_t yStride, int32_t uvStride);
  // Waits until the player has reported at least n pictures.
  bool WaitFor(int32_t player, size_t n, std::chrono::milliseconds timeout) {
    return WaitCount(n, Of(player), timeout);
  }
  std::vector<Picture> Pictures(int32_t player) const { return Snapshot(Of(player)); }
  size_t Count(int32_t player) const { return EventLog::Count(Of(player)); }
  // Pictures whose planes had changed when the next picture arrived.
  int LifetimeViolations() const { return m_violations.load(); }
  // Stops checking the last picture of the player (its stream is reopened).
  void Forget(int32_t player);

 private:
  static Keep Of(int32_t player) {
    return [player](const Picture& p) { return p.player == player; };
  }
  std::mutex m_mutex;
  std::map<int32_t, Picture> m_last;
  std::atomic<int> m_violations{0};
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static std::chrono::milliseconds Timeout(int seconds = 60) {
    return std::chrono::milliseconds(qcsdk::test::ScaledMs(seconds * 1000));
  }
  static int DecoderThreads() { return qcsdk::test::ThreadCount("qvsp-decode"); }
  static std::vector<MediaFrame> Encode(PatternCodec codec, int width, int height, int frames,
                                        int gop, std::optional<std::array<uint8_t, 3>> flat = {});
  static int32_t OpenPlayer(const StreamRecord& record) {
    const int32_t player = QVSP_CreatePlayer();
    EXPECT_EQ(QVSP_OpenStream(player, record.data(), 96), 1);
    return player;
  }
  // Writes every packet; each must be accepted unless `mayBeRefused` (a
  // callback may close the stream while the writes are still going on).
  static void WriteAll(int32_t player, const std::vector<MediaFrame>& packets,
                       bool mayBeRefused = false);
  static QVSP_Statistics Stats(int32_t player);

  PictureLog m_log;
};

}  // namespace qvsp_test
