#include "player_fixture.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdlib>

namespace qvsp_test {
namespace {

std::atomic<PictureLog*> g_log{nullptr};

// The encoders' progress reports are of no use in test output.
const bool g_quietLibav = [] {
  av_log_set_level(AV_LOG_ERROR);
  return true;
}();

void OnPictureTrampoline(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                         int32_t yStride, int32_t uvStride) {
  if (PictureLog* log = g_log.load()) log->OnPicture(player, y, u, v, yStride, uvStride);
}

void Put16(StreamRecord& r, size_t at, int value) {
  r[at] = static_cast<uint8_t>(value);
  r[at + 1] = static_cast<uint8_t>(value >> 8);
}

constexpr int kSampledArea = 640 * 480;
// Not a divisor of the pattern's band width, so every motion step shows.
constexpr int kLumaStep = 3;

}  // namespace

StreamRecord MakeRecord(PatternCodec video, int width, int height, std::optional<int> audioCodec,
                        int sampleRate, int channels) {
  StreamRecord r{};
  r[32] = 'Q';
  r[33] = 'F';
  r[34] = 'H';
  const int codec = video == PatternCodec::kMpeg4 ? 0 : video == PatternCodec::kH264 ? 1 : 2;
  Put16(r, 38, codec);
  Put16(r, 44, width);
  Put16(r, 46, height);
  Put16(r, 48, 25);
  Put16(r, 50, 1);
  if (audioCodec) {
    Put16(r, 40, 1);
    Put16(r, 52, *audioCodec);
    Put16(r, 54, sampleRate);
    Put16(r, 56, channels);
    Put16(r, 58, 16);
  }
  return r;
}

int PatternIndex(const Picture& p, int frames, double* meanError) {
  int best = -1;
  double bestError = 1e9;
  for (int index = 0; index < frames; ++index) {
    double error = 0;
    size_t i = 0;
    for (int row = 0; row < p.height; row += kLumaStep) {
      for (int x = 0; x < p.width; x += kLumaStep, ++i) {
        if (i >= p.ySamples.size()) return -1;
        error += std::abs(p.ySamples[i] - vdevice::PatternLuma(x, row, index));
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

uint64_t PlaneChecksum(const Picture& p) {
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](const uint8_t* plane, int stride, int w, int h) {
    for (int row = 0; row < h; ++row) {
      for (int x = 0; x < w; ++x) hash = (hash ^ plane[row * stride + x]) * 1099511628211ull;
    }
  };
  mix(p.y, p.yStride, p.width, p.height);
  mix(p.u, p.uvStride, (p.width + 1) / 2, (p.height + 1) / 2);
  mix(p.v, p.uvStride, (p.width + 1) / 2, (p.height + 1) / 2);
  return hash;
}

void PictureLog::OnPicture(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                           int32_t yStride, int32_t uvStride) {
  Picture p;
  p.player = player;
  p.y = y;
  p.u = u;
  p.v = v;
  p.yStride = yStride;
  p.uvStride = uvStride;
  // The size of the picture being reported, asked for from inside the call.
  EXPECT_EQ(QVSP_GetBitmapSize(player, &p.width, &p.height), 1);
  EXPECT_NE(y, nullptr);
  EXPECT_NE(u, nullptr);
  EXPECT_NE(v, nullptr);
  EXPECT_GE(yStride, p.width);
  EXPECT_GE(uvStride, (p.width + 1) / 2);
  if (y == nullptr || u == nullptr || v == nullptr || p.width <= 0 || p.height <= 0) return;
  p.checksum = PlaneChecksum(p);
  if (p.width * p.height <= kSampledArea) {
    for (int row = 0; row < p.height; row += kLumaStep) {
      for (int x = 0; x < p.width; x += kLumaStep) p.ySamples.push_back(y[row * yStride + x]);
    }
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
    if (last != m_last.end() && PlaneChecksum(last->second) != last->second.checksum) {
      ++m_violations;
    }
    m_last[player] = p;
  }
  Add(p);
}

void PictureLog::Forget(int32_t player) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_last.erase(player);
}

void PlayerTest::SetUp() {
  g_log.store(&m_log);
  ASSERT_EQ(QVSP_SetCallBack(&OnPictureTrampoline, nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(QVSP_InitSDK(), 1);
}

void PlayerTest::TearDown() {
  EXPECT_EQ(QVSP_ReleaseSDK(), 1);
  g_log.store(nullptr);
  QVSP_SetCallBack(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(m_log.LifetimeViolations(), 0);
  EXPECT_EQ(DecoderThreads(), 0);
}

std::vector<MediaFrame> PlayerTest::Encode(PatternCodec codec, int width, int height, int frames,
                                           int gop, std::optional<std::array<uint8_t, 3>> flat) {
  return vdevice::EncodePattern({.codec = codec,
                                 .width = width,
                                 .height = height,
                                 .frames = frames,
                                 .gop = gop,
                                 .flat = flat});
}

void PlayerTest::WriteAll(int32_t player, const std::vector<MediaFrame>& packets,
                          bool mayBeRefused) {
  for (const auto& packet : packets) {
    const int32_t accepted = WriteFrame(player, packet.data);
    if (!mayBeRefused) {
      EXPECT_EQ(accepted, 1);
    }
  }
}

QVSP_Statistics PlayerTest::Stats(int32_t player) {
  QVSP_Statistics stats{};
  EXPECT_EQ(QVSP_GetStatistics(player, &stats), 1);
  return stats;
}

}  // namespace qvsp_test
