// What must never crash or corrupt: bad arguments, bad handles and a
// process killed while packaging.
#include <gtest/gtest.h>
#include <qp/qp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "media.h"

namespace qp_test {
namespace {

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

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

// A recording process killed without closing: the file holds every frame
// up to the last finished fragment and the index points only at fragments
// that are in the file.
TEST(RobustnessTest, KilledRecorderLeavesAReadableFile) {
  if (H264().empty()) GTEST_SKIP() << "libx264 is not available";
  TempDir dir;
  const std::string file = dir.File("killed.mp4");
  const std::string index = file + ".qdx";
  const auto tone = Audio(ToneCodec::kG711ALaw, 8000, 1, 1)[0];
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QP_Handle h = Open(file, index.c_str(), true, QP_AUDIO_ALAW);
    if (h == nullptr) _exit(2);
    for (const EncodedPacket& f : H264()) {
      if (Put(h, QP_FRAME_VIDEO, f.data) != 1) _exit(3);
      Put(h, QP_FRAME_AUDIO, tone);  // 40 ms of audio to each 40 ms frame
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

  EXPECT_GE(ExpectIndexMatches(file, *media->video), 5u);
}

}  // namespace
}  // namespace qp_test
