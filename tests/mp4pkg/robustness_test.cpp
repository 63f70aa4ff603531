// What must never crash or corrupt: bad arguments and bad handles.
#include <gtest/gtest.h>
#include <qp/qp.h>

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

}  // namespace
}  // namespace qp_test
