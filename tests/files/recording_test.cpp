// Local recordings of the live stream.
#include <gmock/gmock.h>

#include "files_fixture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using RecordingTest = FilesFixture;

TEST_F(RecordingTest, ExtensionMustMatchTheRecordingKind) {
  EXPECT_EQ(QCSDK_StartRec(0, Path("early.sv4").c_str()), 0);  // not connected yet
  // The one extension each kind takes; kind 5 takes none.
  const char* const expected[] = {".sv4", ".sv5", ".sv6", ".mp4", ".mp4", ""};
  for (uint16_t kind = 0; kind <= 5; ++kind) {
    Describe(Record(kind));
    for (const std::string ext : {".sv4", ".sv5", ".sv6", ".mp4"})
      EXPECT_EQ(QCSDK_StartRec(0, Path("a" + ext).c_str()), ext == expected[kind] ? 1 : 0)
          << kind << ext;
  }
  // The middle two characters in any ASCII case, the dot and the last character exactly.
  Describe(Record(1));
  for (const char* name : {"a.SV5", "a.sV5", "a.Sv5"})
    EXPECT_EQ(QCSDK_StartRec(0, Path(name).c_str()), 1) << name;
  Describe(Record(3));
  EXPECT_EQ(QCSDK_StartRec(0, Path("a.MP4").c_str()), 1);
  for (const char* name : {"a,mp4", "a.mp5", "a.mp", "a.mp4 "})
    EXPECT_EQ(QCSDK_StartRec(0, Path(name).c_str()), 0) << name;
  EXPECT_EQ(QCSDK_StartRec(0, "mp4"), 0);  // shorter than an extension
  EXPECT_EQ(QCSDK_StartRec(0, ".mp4"), 1);
  EXPECT_EQ(QCSDK_StartRec(0, nullptr), 0);
  Describe(Record(0));
  EXPECT_EQ(QCSDK_StartRec(0, (dir / "missing" / "a.sv4").string().c_str()),
            0);  // cannot be created
  EXPECT_EQ(QCSDK_StopRec(0), 1);
}

TEST_F(RecordingTest, SvxFileLayoutAndFrameCount) {
  const StreamInfoRecord r = Record(0);
  Describe(r);
  ASSERT_EQ(QCSDK_StartRec(0, Path("clip.sv4").c_str()), 1);
  std::vector<uint8_t> expected;
  const uint8_t p[3] = {1, 2, 3};
  const uint8_t key[5] = {9, 9, 9, 9, 9};
  const uint8_t audio[2] = {7, 7};
  ch->OnFrame(1, p, 3);  // before the gate: not recorded
  ch->OnFrame(0, key, 5);
  expected.insert(expected.end(), key, key + 5);
  ch->OnFrame(1, p, 0);  // an empty frame counts too
  for (int i = 0; i < 98; ++i) {
    ch->OnFrame(1, p, 3);
    expected.insert(expected.end(), p, p + 3);
    if (i % 10 == 0) {
      ch->OnFrame(3, audio, 2);
      expected.insert(expected.end(), audio, audio + 2);
    }
  }
  ASSERT_EQ(QCSDK_StopRec(0), 1);
  ch->OnFrame(1, p, 3);  // after the stop: not recorded

  auto bytes = ReadFile(Path("clip.sv4"));
  ASSERT_EQ(bytes.size(), 64 + expected.size());
  std::vector<uint8_t> head(r.begin(), r.begin() + 32);
  StoreLe32(head.data() + 12, 0);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
  StoreLe32(head.data() + 12, 100);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + 32));
  EXPECT_EQ(LoadLe32(bytes.data() + 44), 100u);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + 64));

  // A writer waits for its own key frame, gate open or not; a new record leaves open recordings be.
  Describe(Record(2));
  ASSERT_EQ(QCSDK_StartRec(0, Path("late.sv6").c_str()), 1);
  ch->OnFrame(1, p, 1);
  ch->OnFrame(0, key, 2);
  ch->OnFrame(1, p, 1);
  Describe(Record(0));
  ch->OnFrame(1, p, 1);
  ASSERT_EQ(QCSDK_StopRec(0), 1);
  bytes = ReadFile(Path("late.sv6"));
  ASSERT_EQ(bytes.size(), 64u + 4u);
  EXPECT_EQ(LoadLe32(bytes.data() + 44), 3u);
}

// An MP4 recording hands the packager the record's picture, audio flag, value; frames from a key.
TEST_F(RecordingTest, Mp4RecordingHandsThePackagerTheRecordsValues) {
  const std::string name = Path("v.mp4");
  for (const TableRow& row : Table("files/mp4_recording_audio.md")) {
    SCOPED_TRACE(row.Where());
    Describe(Record(3, static_cast<uint16_t>(row.Int("audio present")),
                    static_cast<uint16_t>(row.Int("audio codec"))));
    fake.ClearCalls();
    const bool opens = row.Bool("opens");
    EXPECT_EQ(QCSDK_StartRec(0, name.c_str()), opens ? 1 : 0);
    EXPECT_EQ(fake.CountCalls("QP_OpenPackage"), opens ? 1 : 0);
    if (opens) {
      EXPECT_EQ(fake.Calls().back(), "QP_OpenPackage({704x576 25}, 1, " + row.Text("audio flag") +
                                         ", \"" + name + "\", \"" + name + ".qdx\", " +
                                         row.Text("format value") + ", 0)");
    }
  }
  StreamInfoRecord r = Record(4);
  StoreLe16(r.data() + info::kRateNum, 30000);
  StoreLe16(r.data() + info::kRateDen, 1001);
  Describe(r);
  const std::string other = Path("w.Mp4");
  ASSERT_EQ(QCSDK_StartRec(0, other.c_str()), 1);
  EXPECT_EQ(fake.Calls().back(), "QP_OpenPackage({704x576 29.97}, 1, 0, \"" + other + "\", \"" +
                                     other + ".qdx\", 0, 0)");
  const uint8_t p[2] = {1, 1};
  const uint8_t key[3] = {2, 2, 2};
  fake.ClearCalls();
  ch->OnFrame(1, p, 2);
  ch->OnFrame(0, key, 3);
  ch->OnFrame(3, p, 2);
  ch->OnFrame(1, p, 2);
  EXPECT_THAT(fake.Calls(), ::testing::ElementsAre("QP_PackageOneFrame(ptr, {1 3 0})",
                                                   "QP_PackageOneFrame(ptr, {2 2 0})",
                                                   "QP_PackageOneFrame(ptr, {1 2 0})"));
  // A second start finishes the first recording; the packager's refusal fails the start.
  fake.SetResult("QP_OpenPackage", 0);
  EXPECT_EQ(QCSDK_StartRec(0, Path("y.mp4").c_str()), 0);
  EXPECT_EQ(fake.CountCalls("QP_ClosePackage"), 1);
  EXPECT_EQ(QCSDK_StopRec(0), 1);
}

}  // namespace
}  // namespace qcsdk::test
