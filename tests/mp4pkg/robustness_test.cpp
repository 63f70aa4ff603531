// What must never crash or corrupt: bad arguments, bad handles, hostile
// frames, a process killed while packaging, and packages on many threads.
#include <gtest/gtest.h>
#include <qp/qp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "annexb.h"
#include "media.h"
#include "qdx_index.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qp_test {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

const std::vector<VideoFrame>& H264() {
  static const std::vector<VideoFrame> frames =
      EncodeVideo("libx264", kWidth, kHeight, 25, 150, 25);
  return frames;
}

QP_Handle Open(const std::string& file, const char* index, bool audio, int32_t format) {
  QP_VideoDesc desc{kWidth, kHeight, 25.0f, {0, 0, 0, 0}};
  return QP_OpenPackage(&desc, 1, audio ? 1 : 0, file.c_str(), index, format, 0);
}

int32_t Put(QP_Handle h, int32_t kind, const std::vector<uint8_t>& data, int64_t timestamp = 0) {
  QP_Frame frame{kind, data.data(), static_cast<int32_t>(data.size()), 0, timestamp, 0};
  return QP_PackageOneFrame(h, &frame);
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(RobustnessTest, OpenChecksEveryArgument) {
  TempDir dir;
  const std::string file = dir.File("a.mp4");
  const char* f = file.c_str();
  const std::string index = dir.File("a.mp4.qdx");
  const char* ix = index.c_str();
  const QP_VideoDesc good{640, 480, 25.0f, {0, 0, 0, 0}};
  auto with = [](int w, int h) { return QP_VideoDesc{w, h, 25.0f, {0, 0, 0, 0}}; };
  const QP_VideoDesc bad_descs[] = {with(0, 480),    with(640, 0),       with(-1, 480),
                                    with(640, -480), with(INT_MAX, 480), with(640, 100000)};
  for (const QP_VideoDesc& d : bad_descs) EXPECT_EQ(QP_OpenPackage(&d, 1, 0, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(nullptr, 1, 0, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 0, 0, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, ix, 0, 1), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 2, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, -1, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, nullptr, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, "", ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, "", 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, f, 0, 0), nullptr);
  for (int32_t format : {3, 0xff, 0x300, 0x101 | 0x10000, -1, 0x400, INT_MIN}) {
    EXPECT_EQ(QP_OpenPackage(&good, 1, 1, f, ix, format, 0), nullptr) << format;
  }
  const std::string long_name(5000, 'x');
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, long_name.c_str(), nullptr, 0, 0), nullptr);
  EXPECT_FALSE(Exists(file));
  EXPECT_FALSE(Exists(index));
  // Files that cannot be created.
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, dir.File("no/such/dir.mp4").c_str(), nullptr, 0, 0),
            nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, dir.File("no/dir.qdx").c_str(), 0, 0), nullptr);
  EXPECT_FALSE(Exists(file));

  // Every valid combination opens, and a name with a colon is a file name.
  for (int32_t video : {0, QP_VIDEO_H264, QP_VIDEO_H265}) {
    for (int32_t audio : {QP_AUDIO_ALAW, QP_AUDIO_ULAW, QP_AUDIO_AAC}) {
      QP_Handle h =
          QP_OpenPackage(&good, 1, 1, dir.File("x:y.mp4").c_str(), nullptr, video | audio, 0);
      EXPECT_NE(h, nullptr);
      EXPECT_EQ(QP_ClosePackage(h), 1);
    }
  }
  EXPECT_TRUE(Exists(dir.File("x:y.mp4")));
}

TEST(RobustnessTest, FramesAndHandlesAreChecked) {
  TempDir dir;
  QP_Handle h = Open(dir.File("b.mp4"), nullptr, false, 0);
  ASSERT_NE(h, nullptr);
  const std::vector<uint8_t> bytes(64, 0);
  int local = 0;
  for (QP_Handle bad :
       {QP_Handle{nullptr}, reinterpret_cast<QP_Handle>(0x1234),
        reinterpret_cast<QP_Handle>(&local), reinterpret_cast<QP_Handle>(~uintptr_t{0})}) {
    EXPECT_EQ(Put(bad, QP_FRAME_VIDEO, bytes), 0);
    EXPECT_EQ(QP_SetAudioFormat(bad, 8000, 1), 0);
    EXPECT_EQ(QP_ClosePackage(bad), 0);
  }
  EXPECT_EQ(QP_PackageOneFrame(h, nullptr), 0);
  QP_Frame frame{QP_FRAME_VIDEO, nullptr, 64, 0, 0, 0};
  EXPECT_EQ(QP_PackageOneFrame(h, &frame), 0);
  frame.data = bytes.data();
  for (int32_t length : {0, -1, INT_MIN, INT_MAX}) {
    frame.length = length;
    EXPECT_EQ(QP_PackageOneFrame(h, &frame), 0) << length;
  }
  frame.length = 64;
  for (int32_t kind : {0, 3, -1, 0x101}) {
    frame.kind = kind;
    EXPECT_EQ(QP_PackageOneFrame(h, &frame), 0) << kind;
  }
  // Audio into a package without audio; audio settings out of range.
  EXPECT_EQ(Put(h, QP_FRAME_AUDIO, bytes), 0);
  EXPECT_EQ(QP_SetAudioFormat(h, 7999, 1), 0);
  EXPECT_EQ(QP_SetAudioFormat(h, 8000, 3), 0);
  EXPECT_EQ(QP_SetAudioFormat(h, 8000, 0), 0);
  EXPECT_EQ(QP_ClosePackage(h), 1);
  EXPECT_EQ(QP_ClosePackage(h), 0);
  EXPECT_EQ(Put(h, QP_FRAME_VIDEO, bytes), 0);
  // Handles are not reused: a new package never answers to the old one.
  QP_Handle again = Open(dir.File("c.mp4"), nullptr, false, 0);
  EXPECT_NE(again, h);
  EXPECT_EQ(QP_ClosePackage(h), 0);
  EXPECT_EQ(QP_ClosePackage(again), 1);
}

// Frames made to look almost right: truncated, corrupted, with forged
// start codes and NAL headers, and ADTS headers with wrong lengths.
std::vector<std::vector<uint8_t>> HostileFrames(const std::vector<VideoFrame>& real,
                                                uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < 300; ++i) {
    const std::vector<uint8_t>& base = real[static_cast<size_t>(i) % real.size()].data;
    std::vector<uint8_t> f;
    switch (i % 6) {
      case 0:  // pure noise
        f.resize(static_cast<size_t>(rng() % 2000 + 1));
        for (auto& b : f) b = static_cast<uint8_t>(byte(rng));
        break;
      case 1:  // a real frame cut anywhere
        f.assign(base.begin(), base.begin() + static_cast<long>(rng() % base.size() + 1));
        break;
      case 2:  // a real frame with bytes flipped, parameter sets included
        f = base;
        for (int k = 0; k < 20; ++k) f[rng() % f.size()] = static_cast<uint8_t>(byte(rng));
        break;
      case 3:  // forged parameter sets and IDR/IRAP headers with noise
        for (uint8_t header : {0x67, 0x68, 0x65, 0x40, 0x42, 0x44, 0x26}) {
          f.insert(f.end(), {0, 0, 0, 1, header, 0x01});
          for (int k = 0; k < static_cast<int>(rng() % 12); ++k) {
            f.push_back(static_cast<uint8_t>(byte(rng) | 1));
          }
        }
        break;
      case 4:  // start codes only
        for (int k = 0; k < 50; ++k) f.insert(f.end(), {0, 0, 1});
        break;
      default:  // ADTS headers claiming more than there is, or nothing
        f = {0xff, 0xf1, 0x50, 0x80, static_cast<uint8_t>(byte(rng)), 0x1f, 0xfc};
        f.resize(f.size() + rng() % 40, 0x21);
        break;
    }
    out.push_back(std::move(f));
  }
  return out;
}

TEST(RobustnessTest, HostileFramesNeverCrashAndValidOnesStillCount) {
  if (H264().size() != 150) GTEST_SKIP() << "libx264 is not available";
  const std::vector<VideoFrame> h265 = EncodeVideo("libx265", kWidth, kHeight, 25, 30, 10);
  TempDir dir;
  int n = 0;
  for (int32_t format :
       {0, QP_VIDEO_H264 | QP_AUDIO_AAC, QP_VIDEO_H265 | QP_AUDIO_ALAW, QP_AUDIO_AAC}) {
    const bool hevc = (format & 0xff00) == QP_VIDEO_H265;
    const std::vector<VideoFrame>& real = hevc && !h265.empty() ? h265 : H264();
    const auto hostile = HostileFrames(real, static_cast<uint32_t>(format + 7));

    // Noise alone: whatever it makes of the file, nothing breaks, and
    // libavformat can be pointed at the result.
    const std::string noise = dir.File("noise" + std::to_string(n) + ".mp4");
    QP_Handle h = Open(noise, (noise + ".qdx").c_str(), true, format);
    ASSERT_NE(h, nullptr);
    for (const auto& f : hostile) {
      Put(h, QP_FRAME_VIDEO, f, static_cast<int64_t>(f.size()) * 1'000'000'007);
      Put(h, QP_FRAME_AUDIO, f, -static_cast<int64_t>(f.size()));
    }
    EXPECT_EQ(QP_ClosePackage(h), 1);
    Summarise(noise);
    qp::ReadQdx(noise + ".qdx");

    // Noise around real frames once the first real key frame started the
    // file: every real frame is in it.
    const std::string file = dir.File("hostile" + std::to_string(n++) + ".mp4");
    h = Open(file, (file + ".qdx").c_str(), true, format);
    ASSERT_NE(h, nullptr);
    for (size_t i = 0; i < hostile.size(); i += 3) {
      if (!qp::SplitAnnexB(hostile[i]).empty()) continue;  // noise without start codes only
      EXPECT_EQ(Put(h, QP_FRAME_VIDEO, hostile[i]), 0);
    }
    int accepted = 0;
    for (size_t i = 0; i < 30; ++i) {
      accepted += Put(h, QP_FRAME_VIDEO, real[i].data);
      Put(h, QP_FRAME_AUDIO, hostile[i]);
      Put(h, QP_FRAME_VIDEO, hostile[i + 1], static_cast<int64_t>(i * 977));
    }
    for (const auto& f : hostile) Put(h, QP_FRAME_VIDEO, f, -1);
    EXPECT_EQ(QP_ClosePackage(h), 1);
    auto media = Summarise(file);
    ASSERT_TRUE(media && media->video) << format;
    EXPECT_EQ(accepted, 30) << format;
    EXPECT_GE(media->video->pts_ms.size(), static_cast<size_t>(accepted));
    auto qdx = qp::ReadQdx(file + ".qdx");
    ASSERT_TRUE(qdx);
    EXPECT_GE(qdx->entries.size(), 1u);
  }
}

// A recording process killed without closing: the file holds every frame
// up to the last finished fragment and the index points only at fragments
// that are in the file.
TEST(RobustnessTest, KilledRecorderLeavesAReadableFile) {
  if (H264().size() != 150) GTEST_SKIP() << "libx264 is not available";
  TempDir dir;
  const std::string file = dir.File("killed.mp4");
  const std::string index = file + ".qdx";
  const std::vector<uint8_t> tone = G711Tone(320, true);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QP_Handle h = Open(file, index.c_str(), true, QP_AUDIO_ALAW);
    if (h == nullptr) _exit(2);
    for (const VideoFrame& f : H264()) {
      if (Put(h, QP_FRAME_VIDEO, f.data) != 1) _exit(3);
      Put(h, QP_FRAME_AUDIO, tone);
    }
    raise(SIGKILL);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video && media->audio);
  // 150 frames in 6 s; at most the last fragment (one second, 25 frames)
  // never reached the file.
  const size_t frames = media->video->pts_ms.size();
  EXPECT_GE(frames, 125u);
  EXPECT_LE(frames, 150u);
  for (size_t i = 0; i < frames; ++i)
    EXPECT_EQ(media->video->pts_ms[i], static_cast<int64_t>(i) * 40);
  EXPECT_GE(media->audio->end_ms, 4000);

  auto qdx = qp::ReadQdx(index);
  ASSERT_TRUE(qdx);
  EXPECT_FALSE(qdx->truncated);
  EXPECT_GE(qdx->entries.size(), 5u);
  const auto size = std::filesystem::file_size(file);
  std::ifstream mp4(file, std::ios::binary);
  for (const qp::QdxEntry& e : qdx->entries) {
    ASSERT_LT(e.offset + 8, size);
    char type[5] = {};
    mp4.seekg(static_cast<std::streamoff>(e.offset + 4));
    mp4.read(type, 4);
    EXPECT_STREQ(type, "moof");
    ASSERT_LT(e.frame_number, frames);
    EXPECT_TRUE(media->video->keys[e.frame_number]);
    EXPECT_EQ(e.time_ms, static_cast<int64_t>(e.frame_number) * 40);
  }
}

TEST(RobustnessTest, PackagesOnManyThreads) {
  if (H264().size() != 150) GTEST_SKIP() << "libx264 is not available";
  TempDir dir;
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string file = dir.File("thread" + std::to_string(t) + ".mp4");
      QP_Handle h = Open(file, (file + ".qdx").c_str(), t % 2 == 1, QP_AUDIO_ULAW);
      const std::vector<uint8_t> tone = G711Tone(320, false);
      for (size_t i = 0; i < 50; ++i) {
        Put(h, QP_FRAME_VIDEO, H264()[i].data);
        if (t % 2 == 1) Put(h, QP_FRAME_AUDIO, tone);
      }
      QP_ClosePackage(h);
    });
  }
  // One more package closed while another thread still feeds it: the late
  // frames are refused, nothing breaks.
  QP_Handle shared = Open(dir.File("shared.mp4"), nullptr, false, 0);
  std::atomic<bool> closed{false};
  std::atomic<int> accepted{0};
  std::thread feeder([&] {
    for (size_t i = 0; i < H264().size(); ++i) {
      const bool was_closed = closed.load();
      const int32_t r = Put(shared, QP_FRAME_VIDEO, H264()[i].data);
      if (was_closed) {
        EXPECT_EQ(r, 0);
      }
      if (r != 0) accepted.fetch_add(1);
    }
  });
  std::thread closer([&] {
    // Close once the file has a few frames (a package without any is
    // legitimately empty), while the feeder is still going.
    for (int i = 0; i < 5000 && accepted.load() < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(QP_ClosePackage(shared), 1);
    closed.store(true);
  });
  feeder.join();
  closer.join();
  for (auto& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    const std::string file = dir.File("thread" + std::to_string(t) + ".mp4");
    auto media = Summarise(file);
    ASSERT_TRUE(media && media->video) << t;
    EXPECT_EQ(media->video->pts_ms.size(), 50u) << t;
    EXPECT_EQ(media->audio.has_value(), t % 2 == 1) << t;
    auto qdx = qp::ReadQdx(file + ".qdx");
    ASSERT_TRUE(qdx);
    EXPECT_EQ(qdx->entries.size(), 2u);
  }
  EXPECT_TRUE(Summarise(dir.File("shared.mp4")).has_value());
}

}  // namespace
}  // namespace qp_test
