// Local recordings of the live stream.
#include <gmock/gmock.h>

#include "files_fixture.h"

namespace qcsdk::test {
namespace {

using RecordingTest = FilesFixture;

TEST_F(RecordingTest, ExtensionMustMatchTheRecordingKind) {
  EXPECT_EQ(QCSDK_StartRec(0, Path("early.sv5").c_str()), 0);  // not connected yet
  Describe(Record(1));
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.sv4").c_str()), 0);
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.mp4").c_str()), 0);
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.sV5").c_str()), 1);
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.SV5").c_str()), 1);
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.Sv5").c_str()), 1);
  EXPECT_EQ(QCSDK_StartRec(0, Path("a,sv5").c_str()), 0);
  EXPECT_EQ(QCSDK_StartRec(0, "sv5"), 0);  // shorter than an extension
  EXPECT_EQ(QCSDK_StartRec(0, nullptr), 0);
  EXPECT_EQ(QCSDK_StartRec(0, (dir / "missing" / "a.sv5").c_str()), 0);  // cannot be created
  EXPECT_EQ(QCSDK_StopRec(0), 1);
  Describe(Record(7));
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.sv5").c_str()), 0);
}

TEST_F(RecordingTest, SvxFileLayoutAndFrameCount) {
  const StreamInfoRecord r = Record(0);
  Describe(r);
  ASSERT_EQ(QCSDK_StartRec(0, Path("clip.sv4").c_str()), 1);
  std::vector<uint8_t> expected;
  const uint8_t p[3] = {1, 2, 3};
  const uint8_t key[5] = {9, 9, 9, 9, 9};
  const uint8_t audio[2] = {7, 7};
  ch->OnFrame(QCSDK_FRAME_P, p, 3);  // before the gate: not recorded
  ch->OnFrame(QCSDK_FRAME_KEY, key, 5);
  expected.insert(expected.end(), key, key + 5);
  ch->OnFrame(QCSDK_FRAME_P, p, 0);  // an empty frame counts too
  for (int i = 0; i < 98; ++i) {
    ch->OnFrame(QCSDK_FRAME_P, p, 3);
    expected.insert(expected.end(), p, p + 3);
    if (i % 10 == 0) {
      ch->OnFrame(QCSDK_FRAME_AUDIO, audio, 2);
      expected.insert(expected.end(), audio, audio + 2);
    }
  }
  ASSERT_EQ(QCSDK_StopRec(0), 1);
  ch->OnFrame(QCSDK_FRAME_P, p, 3);  // after the stop: not recorded

  auto bytes = ReadFile(Path("clip.sv4"));
  ASSERT_EQ(bytes.size(), 64 + expected.size());
  std::vector<uint8_t> head(r.begin(), r.begin() + 32);
  StoreLe32(head.data() + 12, 0);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
  StoreLe32(head.data() + 12, 100);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + 32));
  EXPECT_EQ(LoadLe32(bytes.data() + 44), 100u);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + 64));
}

TEST_F(RecordingTest, WriterWaitsForItsOwnKeyFrame) {
  Describe(Record(2));
  const uint8_t key[2] = {5, 5};
  const uint8_t p[1] = {6};
  ch->OnFrame(QCSDK_FRAME_KEY, key, 2);  // opens the channel's gate
  ASSERT_EQ(QCSDK_StartRec(0, Path("late.sv6").c_str()), 1);
  ch->OnFrame(QCSDK_FRAME_P, p, 1);  // the recording has not seen a key frame
  ch->OnFrame(QCSDK_FRAME_KEY, key, 2);
  ch->OnFrame(QCSDK_FRAME_P, p, 1);
  // A new record while recording does not change the open file.
  Describe(Record(0));
  ch->OnFrame(QCSDK_FRAME_P, p, 1);
  ASSERT_EQ(QCSDK_StopRec(0), 1);
  auto bytes = ReadFile(Path("late.sv6"));
  ASSERT_EQ(bytes.size(), 64u + 4u);
  EXPECT_EQ(LoadLe32(bytes.data() + 44), 3u);
}

TEST_F(RecordingTest, Mp4RecordingOpensThePackager) {
  Describe(Record(3));
  ASSERT_EQ(QCSDK_StartRec(0, Path("v.mp4").c_str()), 1);
  EXPECT_EQ(fake.Calls().back(), "QP_OpenPackage(ptr, 1, 0, \"" + Path("v.mp4") + "\", \"" +
                                     Path("v.mp4") + ".qdx\", 0, 0)");
  const uint8_t p[2] = {1, 1};
  const uint8_t key[2] = {2, 2};
  ch->OnFrame(QCSDK_FRAME_P, p, 2);
  ch->OnFrame(QCSDK_FRAME_KEY, key, 2);
  ch->OnFrame(QCSDK_FRAME_AUDIO, p, 2);
  EXPECT_EQ(fake.CountCalls("QP_PackageOneFrame"), 2);
  // A second start finishes the first recording.
  Describe(Record(4, 1, 2));
  ASSERT_EQ(QCSDK_StartRec(0, Path("w.Mp4").c_str()), 1);
  EXPECT_EQ(fake.CountCalls("QP_ClosePackage"), 1);
  EXPECT_THAT(fake.Calls().back(), ::testing::EndsWith(".qdx\", 1, 0)"));
  EXPECT_THAT(fake.Calls().back(), ::testing::HasSubstr(", 1, 1, \""));

  // An audio codec the packager cannot take, and the packager's refusal.
  Describe(Record(3, 1, 0));
  EXPECT_EQ(QCSDK_StartRec(0, Path("x.mp4").c_str()), 0);
  Describe(Record(3));
  fake.SetResult("QP_OpenPackage", 0);
  EXPECT_EQ(QCSDK_StartRec(0, Path("y.mp4").c_str()), 0);
  EXPECT_EQ(QCSDK_StopRec(0), 1);
}

}  // namespace
}  // namespace qcsdk::test
