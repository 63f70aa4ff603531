// Sound output through SDL's file-writing driver (on Windows: waveOut into the ALSA file device
// wine-run gives wine): the file holds what the device played, 48 kHz stereo signed 16-bit.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

#include "player_fixture.h"
#include "support/tone_encoder.h"

namespace qvsp_test {
namespace {

using qcsdk::test::ToneCodec;

constexpr int kRate = 48000;
constexpr size_t kFrameBytes = 4, kBytesPerMs = kRate / 1000 * kFrameBytes;  // stereo, 16-bit
constexpr double kToneAmplitude = 0.5 * 32767, kTolerance = 0.05;  // tone level, share of it
#ifdef _WIN32
constexpr size_t kBufferBytes = 3072 * kFrameBytes;  // the player's 1024 frames, and wine's
#else
constexpr size_t kBufferBytes = 1024 * kFrameBytes;  // one device buffer
#endif

// Amplitude at `frequency` of the left channel over `frames`; exact when they hold whole cycles.
double Amplitude(const int16_t* stereo, size_t frames, double frequency) {
  double re = 0, im = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / kRate;
    re += stereo[2 * i] * std::cos(phase);
    im += stereo[2 * i] * std::sin(phase);
  }
  return 2 * std::hypot(re, im) / static_cast<double>(frames);
}

// One player fed with an encoded tone, a block at a time.
struct ToneSource {
  int32_t player = -1;
  std::vector<std::vector<uint8_t>> blocks;
  int blockMs = 20;
  size_t next = 0, until = 0;  // until: where in the file what was written ends, about

  void WriteNext() { EXPECT_EQ(WriteFrame(player, blocks[next++ % blocks.size()]), 1); }
};

class PlayerSound : public PlayerTest {
 protected:
  void SetUp() override {
#ifdef _WIN32
    if (const char* file = std::getenv("QCSDK_SOUND_FILE")) m_path = file;
#else
    m_path = (std::filesystem::temp_directory_path() /
              ("qvsp-sound-" + std::to_string(getpid()) + ".raw"))
                 .string();
    // Read by SDL when the device is opened.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", m_path.c_str(), 1);
#endif
    PlayerTest::SetUp();
    if (m_path.empty()) GTEST_SKIP() << "no sound file device (run through wine-run)";
  }
  void TearDown() override {
    PlayerTest::TearDown();
    std::filesystem::remove(m_path);
  }

  size_t FileSize() const {
    struct stat st {};
    return stat(m_path.c_str(), &st) == 0
               ? static_cast<size_t>(st.st_size) / kFrameBytes * kFrameBytes
               : 0;
  }
  bool WaitForSize(size_t bytes) const {
    return qcsdk::test::WaitUntil([&] { return FileSize() >= bytes; }, 20000);
  }
  // The samples the device played from byte `from` on.
  std::vector<int16_t> Played(size_t from) const {
    std::ifstream in(m_path, std::ios::binary);
    std::vector<int16_t> samples((FileSize() - std::min(from, FileSize())) / sizeof(int16_t));
    in.seekg(static_cast<std::streamoff>(from));
    in.read(reinterpret_cast<char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(int16_t)));
    return samples;
  }

  // Opens a stream for a mono tone and encodes `ms` of it.
  ToneSource Tone(ToneCodec codec, int recordCodec, int rate, double frequency, int ms) {
    return ToneSource{OpenPlayer(MakeRecord(PatternCodec::kH264, 160, 120, recordCodec, rate, 1)),
                      Blocks(codec, rate, frequency, ms), 160 * 1000 / rate};
  }
  static std::vector<std::vector<uint8_t>> Blocks(ToneCodec codec, int rate, double frequency,
                                                  int ms) {
    return qcsdk::test::EncodeTone({codec, rate, 1, ms * rate / 160 / 1000, frequency});  // G.711
  }

  // Writes every source in real time for `ms`, each about 100 ms ahead of the device, in bounds.
  void Feed(std::vector<ToneSource*> sources, int ms) {
    constexpr size_t kLead = 100 * kBytesPerMs;
    const size_t end = FileSize() + static_cast<size_t>(ms) * kBytesPerMs;
    for (size_t played = FileSize(); played < end; played = FileSize()) {
      for (ToneSource* source : sources) {
        source->until = std::max(source->until, played);
        while (source->until < played + kLead) {
          source->WriteNext();
          source->until += static_cast<size_t>(source->blockMs) * kBytesPerMs;
        }
      }
      ASSERT_TRUE(WaitForSize(played + 10 * kBytesPerMs));
    }
  }

  // The longest gap-free stretch from byte `from` on, less 5 ms at each end where the resampler
  // settles; empty when shorter than `minMs`. A gap is three silent frames in a row: the queue ran
  // dry, if only for a fraction of a millisecond on a loaded machine, and the tone after it is out
  // of phase (the tones themselves are never silent twice running).
  std::vector<int16_t> Stretch(size_t from, size_t minMs) const {
    const std::vector<int16_t> all = Played(from);
    const size_t frames = all.size() / 2;
    constexpr size_t kGap = 3;
    size_t best = 0, bestLength = 0, begin = 0, zeros = 0;
    for (size_t i = 0; i <= frames; ++i) {
      zeros = i < frames && all[2 * i] == 0 ? zeros + 1 : 0;
      if (zeros == kGap || i == frames) {
        const size_t end = i == frames ? frames : i + 1 - kGap;
        if (end > begin && end - begin > bestLength) {
          best = begin;
          bestLength = end - begin;
        }
      }
      if (zeros >= kGap) begin = i + 1;
    }
    const size_t edge = 5 * kRate / 1000;
    if (bestLength < minMs * kRate / 1000 + 2 * edge) return {};
    return {all.begin() + static_cast<ptrdiff_t>(2 * (best + edge)),
            all.begin() + static_cast<ptrdiff_t>(2 * (best + bestLength - edge))};
  }

  std::string m_path;
};

// No device, level and frequency, two players mixed, instant stop, silent decoding, burst bound.
TEST_F(PlayerSound, TonesArePlayedMixedStoppedAtOnceAndNeverQueuedBeyondTheBound) {
  ToneSource a = Tone(ToneCodec::kG711ALaw, 1, 8000, 440, 1000);
  ToneSource b = Tone(ToneCodec::kG711MuLaw, 2, 16000, 1000, 1000);
#ifndef _WIN32
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_EQ(QVSP_SetAudioPreview(a.player, &a, 1), 0) << "no audio device";
  EXPECT_EQ(QVSP_SetAudioPreview(a.player, nullptr, 0), 1);
  setenv("SDL_AUDIODRIVER", "disk", 1);
#endif
  ASSERT_EQ(QVSP_SetAudioPreview(a.player, &a, 1), 1);
  ASSERT_TRUE(WaitForSize(kBufferBytes)) << "the device plays silence before any sound";

  // One player: its tone's level and frequency (whole cycles in 100 ms windows), on both speakers.
  constexpr size_t kWindow = kRate / 10;
  size_t from = FileSize();
  Feed({&a}, 500);
  std::vector<int16_t> sound = Stretch(from, 200);
  ASSERT_FALSE(sound.empty()) << "no 200 ms without a gap";
  for (size_t w = 0; (w + 1) * kWindow <= sound.size() / 2; ++w) {
    const int16_t* window = sound.data() + 2 * w * kWindow;
    EXPECT_NEAR(Amplitude(window, kWindow, 440), kToneAmplitude, kTolerance * kToneAmplitude);
  }
  for (size_t i = 0; i < sound.size(); i += 2) ASSERT_EQ(sound[i], sound[i + 1]) << i;

  // Two players at once: both tones in the mix at their own levels.
  ASSERT_EQ(QVSP_SetAudioPreview(b.player, &b, 1), 1);
  from = FileSize();
  Feed({&a, &b}, 500);
  sound = Stretch(from, 200);
  ASSERT_FALSE(sound.empty());
  const int16_t* lastWindow = sound.data() + sound.size() - 2 * kWindow;  // both started by then
  EXPECT_NEAR(Amplitude(lastWindow, kWindow, 440), kToneAmplitude, kTolerance * kToneAmplitude);
  EXPECT_NEAR(Amplitude(lastWindow, kWindow, 1000), kToneAmplitude, kTolerance * kToneAmplitude);

  // Off: nothing of it after the buffer being mixed as the call returns; it still decodes.
  const uint64_t decoded = Stats(a.player).audioFramesDecoded;
  ASSERT_EQ(QVSP_SetAudioPreview(a.player, nullptr, 0), 1);
  from = FileSize() + kBufferBytes;
  Feed({&a, &b}, 300);
  sound = Played(from);
  ASSERT_GE(sound.size() / 2, 2 * kWindow);
  EXPECT_LT(Amplitude(sound.data(), 2 * kWindow, 440), 0.01 * kToneAmplitude);
  sound = Stretch(from, 100);
  ASSERT_FALSE(sound.empty());
  EXPECT_NEAR(Amplitude(sound.data(), kWindow, 1000), kToneAmplitude, kTolerance * kToneAmplitude);
  EXPECT_GT(Stats(a.player).audioFramesDecoded, decoded + 10);

  // A burst of 1 s written at once: at most the queue's 150 ms of it plays (plus what the device
  // took while it was decoded), and what is kept is its newest part, the last 100 ms at 250 Hz.
  ASSERT_EQ(QVSP_SetAudioPreview(a.player, &a, 1), 1);
  ASSERT_EQ(QVSP_SetAudioPreview(a.player, &a, 1), 1) << "on twice is harmless";
  from = FileSize();
  auto burst = Blocks(ToneCodec::kG711ALaw, 8000, 440, 900);
  const auto tail = Blocks(ToneCodec::kG711ALaw, 8000, 250, 100);
  burst.insert(burst.end(), tail.begin(), tail.end());
  for (const auto& block : burst) ASSERT_EQ(WriteFrame(a.player, block), 1);
  ASSERT_TRUE(WaitForSize(from + 400 * kBytesPerMs));
  sound = Played(from);
  size_t first = sound.size(), last = 0;
  for (size_t i = 0; i < sound.size(); i += 2) {
    if (sound[i] == 0) continue;
    first = std::min(first, i / 2);
    last = i / 2;
  }
  ASSERT_LT(first, last);
  EXPECT_LE(last - first, (150 + 50) * kRate / 1000) << "played " << (last - first) / 48 << " ms";
  constexpr size_t kTailWindow = kRate * 60 / 1000;  // whole cycles of 250 Hz
  EXPECT_NEAR(
      Amplitude(sound.data() + 2 * (last - 10 * kRate / 1000 - kTailWindow), kTailWindow, 250),
      kToneAmplitude, kTolerance * kToneAmplitude);
  // Left playing: released with the library.
}

}  // namespace
}  // namespace qvsp_test
