// Shared set-up of the player library tests: the library with a decoded-picture function that
// records what each player reported, and helpers that build stream records and feed frames.
#pragma once

#include <gtest/gtest.h>
#include <qvsp/qvsp.h>
#include <qvsp/qvsp_ext.h>

extern "C" {
#include <libavutil/log.h>
}

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>

#include "qcsdk/base/bytes.h"
#include "support/event_log.h"
#include "support/host_window.h"
#include "support/process_probe.h"
#include "vdevice/pattern_encoder.h"

namespace qvsp_test {

using vdevice::MediaFrame;
using vdevice::PatternCodec;

using StreamRecord = std::array<uint8_t, 96>;

// The encoders' progress reports are of no use in test output.
inline const bool g_quietLibav = [] {
  av_log_set_level(AV_LOG_ERROR);
  return true;
}();

// A stream-information record; audioCodec empty for a stream without audio.
inline StreamRecord MakeRecord(PatternCodec video, int width, int height,
                               std::optional<int> audioCodec = std::nullopt, int sampleRate = 8000,
                               int channels = 1) {
  StreamRecord r{};
  std::copy_n("QFH", 3, r.begin() + 32);
  const int codec = video == PatternCodec::kMpeg4 ? 0 : video == PatternCodec::kH264 ? 1 : 2;
  for (auto [at, value] : {std::pair{38, codec}, {44, width}, {46, height}, {48, 25}, {50, 1}})
    qcsdk::StoreLe16(&r[at], static_cast<uint16_t>(value));
  if (!audioCodec) return r;
  for (auto [at, value] :
       {std::pair{40, 1}, {52, *audioCodec}, {54, sampleRate}, {56, channels}, {58, 16}})
    qcsdk::StoreLe16(&r[at], static_cast<uint16_t>(value));
  return r;
}

// Pictures up to this area keep samples of their planes.
constexpr int kSampledArea = 640 * 480;
// Not a divisor of the pattern's band width, so every motion step shows.
constexpr int kLumaStep = 3;

// One reported picture as the decoded-picture function saw it.
struct Picture {
  int32_t player = -1, width = 0, height = 0;  // the size from QVSP_GetBitmapSize in the call
  const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
  int32_t yStride = 0, uvStride = 0;
  uint64_t checksum = 0;
  // Every 3rd luma sample of every 3rd row, every 2nd chroma of every 2nd (up to kSampledArea).
  std::vector<uint8_t> ySamples{}, uSamples{}, vSamples{};
};

// The pattern picture (0 to frames - 1) the decoded one resembles most, and the mean luma error.
inline int PatternIndex(const Picture& p, int frames, double* meanError = nullptr) {
  int best = -1;
  double bestError = 1e9;
  for (int index = 0; index < frames; ++index) {
    double error = 0;
    size_t i = 0;
    for (int row = 0; row < p.height; row += kLumaStep) {
      for (int x = 0; x < p.width; x += kLumaStep, ++i) {
        if (i >= p.ySamples.size()) return -1;
        error += std::abs(p.ySamples[i] - vdevice::PatternLuma(x, row, index, p.height));
      }
    }
    error /= static_cast<double>(std::max<size_t>(i, 1));
    if (error < bestError) {
      bestError = error;
      best = index;
    }
  }
  if (meanError != nullptr) *meanError = bestError;
  return best;
}

inline uint64_t PlaneChecksum(const Picture& p) {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](const uint8_t* plane, int stride, int w, int h) {
    for (int row = 0; row < h; ++row)
      for (int x = 0; x < w; ++x) hash = (hash ^ plane[row * stride + x]) * 1099511628211ull;
  };
  mix(p.y, p.yStride, p.width, p.height);
  mix(p.u, p.uvStride, (p.width + 1) / 2, (p.height + 1) / 2);
  mix(p.v, p.uvStride, (p.width + 1) / 2, (p.height + 1) / 2);
  return hash;
}

using qcsdk::test::kHostColour;

// Pixels (0xRRGGBB, rows of `width`) outside every rectangle that are not the host's colour.
inline int Touched(const std::vector<uint32_t>& pixels, int width,
                   std::initializer_list<QVSP_Rect> rects) {
  int touched = 0;
  for (int i = 0; i < static_cast<int>(pixels.size()); ++i) {
    const auto in = [x = i % width, y = i / width](const QVSP_Rect& r) {
      return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    touched += pixels[i] != kHostColour && std::none_of(rects.begin(), rects.end(), in);
  }
  return touched;
}

inline int32_t WriteFrame(int32_t player, const std::vector<uint8_t>& frame) {
  return QVSP_WriteToStreamOneFrame(player, frame.data(), static_cast<int32_t>(frame.size()));
}

// Every picture the players reported, in order; a hook runs after each.
class PictureLog : public qcsdk::test::EventLog<Picture> {
 public:
  using EventLog::WaitFor;
  void OnPicture(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                 int32_t yStride, int32_t uvStride) {
    Picture p{.player = player, .y = y, .u = u, .v = v, .yStride = yStride, .uvStride = uvStride};
    // The size of the picture being reported, asked for from inside the call.
    EXPECT_EQ(QVSP_GetBitmapSize(player, &p.width, &p.height), 1);
    ASSERT_TRUE(y != nullptr && u != nullptr && v != nullptr);
    EXPECT_GE(yStride, p.width);
    EXPECT_GE(uvStride, (p.width + 1) / 2);
    if (p.width <= 0 || p.height <= 0) return;
    p.checksum = PlaneChecksum(p);
    if (p.width * p.height <= kSampledArea) {
      for (int row = 0; row < p.height; row += kLumaStep)
        for (int x = 0; x < p.width; x += kLumaStep) p.ySamples.push_back(y[row * yStride + x]);
      for (int row = 0; row < p.height / 2; row += 2) {
        for (int x = 0; x < p.width / 2; x += 2) {
          p.uSamples.push_back(u[row * uvStride + x]);
          p.vSamples.push_back(v[row * uvStride + x]);
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      // The previous picture of this player must still be intact now.
      auto last = m_last.find(player);
      if (last != m_last.end() && PlaneChecksum(last->second) != last->second.checksum)
        ++m_violations;
      m_last[player] = p;
    }
    Add(p);
  }
  bool WaitFor(int32_t player, size_t n, std::chrono::milliseconds timeout) {
    return WaitCount(n, Of(player), timeout);
  }
  std::vector<Picture> Pictures(int32_t player) const { return Snapshot(Of(player)); }
  size_t Count(int32_t player) const { return EventLog::Count(Of(player)); }
  // Pictures whose planes had changed when the next picture arrived.
  int LifetimeViolations() const { return m_violations.load(); }
  // Stops checking the last picture of the player (its stream is reopened).
  void Forget(int32_t player) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_last.erase(player);
  }

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
  void SetUp() override {
    Current().store(&m_log);
    ASSERT_EQ(QVSP_SetCallBack(&OnPicture, nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(QVSP_InitSDK(), 1);
  }
  void TearDown() override {
    EXPECT_EQ(QVSP_ReleaseSDK(), 1);
    Current().store(nullptr);
    QVSP_SetCallBack(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::tuple(m_log.LifetimeViolations(), DecoderThreads()), std::tuple(0, 0));
  }

  static std::chrono::milliseconds Timeout() { return qcsdk::test::Scaled(60000); }
  static int DecoderThreads() { return qcsdk::test::ThreadCount("qvsp-decode"); }
  static std::vector<MediaFrame> Encode(
      PatternCodec codec, int width, int height, int frames, int gop,
      std::optional<std::array<uint8_t, 3>> flat = {},
      vdevice::PatternChroma chroma = vdevice::PatternChroma::k420) {
    vdevice::PatternOptions o{.codec = codec, .width = width, .height = height, .frames = frames};
    o.gop = gop;
    o.flat = flat;
    o.chroma = chroma;
    return vdevice::EncodePattern(o);
  }
  static int32_t OpenPlayer(const StreamRecord& record) {
    const int32_t player = QVSP_CreatePlayer();
    EXPECT_EQ(QVSP_OpenStream(player, record.data(), 96), 1);
    return player;
  }
  // Writes every packet, each accepted unless `mayBeRefused` (a callback may close the stream).
  static void WriteAll(int32_t player, const std::vector<MediaFrame>& packets,
                       bool mayBeRefused = false) {
    for (const auto& packet : packets) {
      const int32_t accepted = WriteFrame(player, packet.data);
      EXPECT_TRUE(mayBeRefused || accepted == 1) << accepted;
    }
  }
  // Writes every packet and waits until the player has reported `total` pictures in all.
  bool Play(int32_t player, const std::vector<MediaFrame>& packets, size_t total) {
    WriteAll(player, packets);
    return m_log.WaitFor(player, total, Timeout());
  }
  static QVSP_Statistics Stats(int32_t player) {
    QVSP_Statistics stats{};
    EXPECT_EQ(QVSP_GetStatistics(player, &stats), 1);
    return stats;
  }

  PictureLog m_log;

 private:
  // The log of the running test, for the library's plain function pointer.
  static std::atomic<PictureLog*>& Current() {
    static std::atomic<PictureLog*> log{nullptr};
    return log;
  }
  static void OnPicture(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                        int32_t yStride, int32_t uvStride) {
    if (PictureLog* log = Current().load()) log->OnPicture(player, y, u, v, yStride, uvStride);
  }
};

}  // namespace qvsp_test
