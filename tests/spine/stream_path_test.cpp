// Frames, decoder control, stream description and talk reports.
#include "support/channel_fixture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

class StreamPathTest : public ChannelFixture {
 protected:
  std::shared_ptr<TestChannel> ch = Open(true, "u", "p", this);
  const uint8_t frame[4] = {0, 0, 0, 1};

  void Info(uint16_t videoCodec, uint16_t deviceType = 1, uint16_t kind = 0,
            uint16_t audioCodec = 2, uint16_t rateDen = 0) {
    StreamInfoRecord r = MakeInfo({.deviceType = deviceType,
                                   .videoCodec = videoCodec,
                                   .width = 1920,
                                   .height = 1080,
                                   .rateDen = rateDen,
                                   .audioCodec = audioCodec,
                                   .kind = kind});
    StoreLe16(r.data() + info::kAudioParam1, 8000);
    StoreLe16(r.data() + info::kAudioParam2, 1);
    StoreLe16(r.data() + info::kAudioParam3, 16);
    StoreLe32(r.data() + info::kTotalFrames, 900);
    ch->OnStreamInfo(r.data());
  }
  int Writes() const { return fake.CountCalls("QVSP_WriteToStreamOneFrame"); }
};

TEST_F(StreamPathTest, StreamInfoMapsEveryCode) {
  StreamInfo si{};
  EXPECT_EQ(QCSDK_GetStreamInfo(0, &si), 0);  // waiting for data
  for (const TableRow& row : Table("spine/stream_codes.md")) {
    SCOPED_TRACE(row.Where());
    const auto field = [&](const char* column) { return static_cast<uint16_t>(row.Int(column)); };
    Info(field("video field"), 1, field("kind field"), field("audio field"),
         field("rate den field"));
    ASSERT_EQ(QCSDK_GetStreamInfo(0, &si), 1);
    EXPECT_EQ(std::tuple(si.videoCodec, si.audioCodec, si.recordingKind, si.frameRateDen),
              std::tuple(row.Int("video codec"), row.Int("audio codec"), row.Int("recording kind"),
                         row.Int("frame rate den")));
    EXPECT_EQ(std::tuple(si.width, si.height, si.frameRateNum, si.totalFrames),
              std::tuple(1920, 1080, 25, 900));
    EXPECT_EQ(std::tuple(si.audioParam1, si.audioParam2, si.audioParam3), std::tuple(8000, 1, 16));
    const size_t raw = host.Raw().size();
    ch->OnFrame(1, frame, 4);
    EXPECT_EQ(host.Raw().size(), raw + (row.Bool("raw data") ? 1 : 0));
    // Every codec on: each frame reaches the host, across records; off again: as before.
    ASSERT_EQ(QCSDK_SetRawDataAllCodecs(0, 1), 1);
    ch->OnFrame(3, frame, 4);
    Info(field("video field"), 1, field("kind field"), field("audio field"));
    ch->OnFrame(1, frame, 4);
    EXPECT_EQ(host.Raw().size(), raw + (row.Bool("raw data") ? 3 : 2));
    ASSERT_EQ(QCSDK_SetRawDataAllCodecs(0, 0), 1);
    ch->OnFrame(3, frame, 4);
    EXPECT_EQ(host.Raw().size(), raw + (row.Bool("raw data") ? 4 : 2));
  }
  EXPECT_EQ(QCSDK_GetStreamInfo(0, nullptr), 0);
}

TEST_F(StreamPathTest, FrameTypes) {
  for (const TableRow& row : Table("spine/frame_types.md")) {
    SCOPED_TRACE(row.Where());
    RemoveAllChannels();
    ch = Open();
    ch->OnFrame(0, frame, 4);  // before any record: raw data off, no gate
    Info(1);
    ASSERT_EQ(QCSDK_EnableDecoder(ch->Number(), 1), 1);
    const int writes = Writes();
    const size_t raw = host.Raw().size();
    const auto type = static_cast<int32_t>(row.Int("type"));
    ch->OnFrame(type, frame, 3);
    StreamInfo si{};
    ASSERT_EQ(QCSDK_GetStreamInfo(ch->Number(), &si), 1);
    EXPECT_EQ(si.framesReceived, row.Bool("counted") ? 1 : 0);
    EXPECT_EQ(Writes(), writes + (row.Bool("opens the gate") ? 1 : 0));
    ch->OnFrame(1, frame, 4);
    EXPECT_EQ(Writes(), writes + (row.Bool("opens the gate") ? 2 : 0));
    ch->OnFrame(0, frame, 4);
    ch->OnFrame(type, frame, 3);
    EXPECT_EQ(Writes(),
              writes + (row.Bool("opens the gate") ? 3 : 1) + (row.Bool("written") ? 1 : 0));
    ASSERT_EQ(host.Raw().size(), raw + 4);
    EXPECT_EQ(std::tuple(host.Raw()[raw].type, host.Raw()[raw].length), std::tuple(type, 3));
    EXPECT_EQ(host.Raw().back().type, type);
  }
}

TEST_F(StreamPathTest, TalkReports) {
  Info(1, 2, 3);
  for (const TableRow& row : Table("spine/talk_steps.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& code = row.Text("code");
    const size_t before = host.Talk().size();
    if (code == "start" || code == "stop") {
      ASSERT_EQ((code == "start" ? QCSDK_StartTalk : QCSDK_StopTalk)(0), 1);
    } else {
      ch->OnTalkEvent(static_cast<int32_t>(row.Int("code")), frame, 4);
    }
    EXPECT_EQ(host.TalkSince(before, 0, this), row.Text("report"));
  }

  for (const TableRow& row : Table("spine/talk_audio_types.md")) {
    for (uint16_t kind = 2; kind <= 5; ++kind) {
      Info(1, static_cast<uint16_t>(row.Int("device type")), kind);
      ASSERT_EQ(QCSDK_StartTalk(0), 1);
      ch->OnTalkEvent(0, nullptr, 0);
      EXPECT_EQ(host.Talk().back().audioType, row.Int("kind " + std::to_string(kind)))
          << row.Where() << " kind " << kind;
      ASSERT_EQ(QCSDK_StopTalk(0), 1);
    }
  }
}

}  // namespace
}  // namespace qcsdk::test
