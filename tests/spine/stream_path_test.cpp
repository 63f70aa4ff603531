// Frames, decoder control, stream description and talk reports.
#include "qcsdk/facade/registry.h"
#include "support/channel_fixture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

class StreamPathTest : public ChannelFixture {
 protected:
  std::shared_ptr<TestChannel> ch = Open();
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

// The record's codes as the host sees them, with the raw-data switch the
// video codec sets.
TEST_F(StreamPathTest, StreamInfoMapsEveryCode) {
  StreamInfo si{};
  EXPECT_EQ(QCSDK_GetStreamInfo(0, &si), 0);  // waiting for data
  const struct {
    uint16_t video, audio, kind, den;
    int32_t videoCode, audioCode, kindCode, denOut;
    bool raw;
  } rows[] = {
      {0, 0, 0, 0, 1, 3, 1, 1, false},          {1, 1, 1, 1, 2, 4, 2, 1, true},
      {2, 2, 2, 2, 11, 5, 3, 2, false},         {3, 3, 3, 7, 0, 6, 4, 7, false},
      {0xFFFF, 4, 4, 0, 0, 0, 5, 1, false},     {0x0101, 0xFFFF, 5, 0, 0, 0, 0, 1, false},
      {1, 0x0100, 0xFFFF, 0, 2, 0, 0, 1, true},
  };
  for (const auto& row : rows) {
    Info(row.video, 1, row.kind, row.audio, row.den);
    SCOPED_TRACE(testing::Message() << row.video << "/" << row.audio << "/" << row.kind);
    ASSERT_EQ(QCSDK_GetStreamInfo(0, &si), 1);
    EXPECT_EQ(std::tuple(si.videoCodec, si.audioCodec, si.recordingKind, si.frameRateDen),
              std::tuple(row.videoCode, row.audioCode, row.kindCode, row.denOut));
    EXPECT_EQ(std::tuple(si.width, si.height, si.frameRateNum, si.totalFrames),
              std::tuple(1920, 1080, 25, 900));
    EXPECT_EQ(std::tuple(si.audioParam1, si.audioParam2, si.audioParam3), std::tuple(8000, 1, 16));
    const size_t raw = host.Raw().size();
    ch->OnFrame(1, frame, 4);
    EXPECT_EQ(host.Raw().size(), raw + (row.raw ? 1 : 0));
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
    EXPECT_EQ(host.Raw()[raw].type, type);
    EXPECT_EQ(host.Raw()[raw].length, 3);
    EXPECT_EQ(host.Raw().back().type, type);
  }
}

// Each preview call with the player's answer to it.
TEST_F(StreamPathTest, PreviewsReportThePlayersAnswer) {
  QCSDK_Rect rect{0, 0, 640, 480};
  int w = 0;
  const struct {
    void* window;
    QCSDK_Rect* rect;
    int32_t answer;
    const char* call;
  } rows[] = {{&w, &rect, 1, "QVSP_SetVideoPreview(1, ptr, ptr, 1)"},
              {&w, nullptr, 1, "QVSP_SetVideoPreview(1, ptr, null, 0)"},
              {nullptr, &rect, 1, "QVSP_SetVideoPreview(1, null, ptr, 0)"},
              {&w, &rect, 0, "QVSP_SetVideoPreview(1, ptr, ptr, 1)"},
              {&w, nullptr, 0, "QVSP_SetAudioPreview(1, ptr, 1)"},
              {nullptr, nullptr, 1, "QVSP_SetAudioPreview(1, null, 0)"}};
  for (const auto& row : rows) {
    const bool video = std::string(row.call).find("Video") != std::string::npos;
    fake.SetResult(video ? "QVSP_SetVideoPreview" : "QVSP_SetAudioPreview", row.answer);
    EXPECT_EQ(video ? QCSDK_SetVideoPreview(0, row.window, row.rect)
                    : QCSDK_SetAudioPreview(0, row.window),
              row.answer)
        << row.call;
    EXPECT_EQ(fake.Calls().back(), row.call);
  }
}

TEST_F(StreamPathTest, TalkReports) {
  Info(1, 2, 3);
  // Code, then what the host sees: event, audio type, length (none: -1).
  const struct {
    const char* step;
    int32_t code;
    int32_t event, type, length;
  } steps[] = {
      {"audio before acceptance", 1, -1, 0, 0},
      {"answer without request", 0, -1, 0, 0},
      {"stop with both flags clear", 2, -1, 0, 0},
      {"request", -9, -1, 0, 0},
      {"answer", 0, 0, 9, 0},
      {"audio", 1, 1, 255, 4},
      {"unknown code", 7, -1, 0, 0},
      {"stop", 2, 2, 255, 0},
      {"stop again", 2, -1, 0, 0},
      {"audio after stop", 1, -1, 0, 0},
      {"request again", -9, -1, 0, 0},
      {"stop while requested", 2, 2, 255, 0},
  };
  for (const auto& s : steps) {
    const size_t before = host.Talk().size();
    if (s.code == -9) {
      ASSERT_EQ(QCSDK_StartTalk(0), 1);
    } else {
      ch->OnTalkEvent(s.code, frame, 4);
    }
    const auto talk = host.Talk();
    if (s.event < 0) {
      EXPECT_EQ(talk.size(), before) << s.step;
      continue;
    }
    ASSERT_EQ(talk.size(), before + 1) << s.step;
    EXPECT_EQ(std::tuple(talk.back().event, talk.back().audioType, talk.back().length),
              std::tuple(s.event, s.type, s.length))
        << s.step;
  }

  // The audio type follows the device type and the recording kind.
  const int32_t types[7][4] = {// kind 2, 3, 4, 5
                               {0, 0, 0, 0}, {7, 7, 7, 7}, {8, 9, 9, 8}, {8, 9, 9, 8},
                               {8, 9, 9, 8}, {7, 7, 7, 7}, {0, 0, 0, 0}};
  for (uint16_t device = 0; device <= 6; ++device) {
    for (uint16_t kind = 2; kind <= 5; ++kind) {
      Info(1, device, kind);
      ASSERT_EQ(QCSDK_StartTalk(0), 1);
      ch->OnTalkEvent(0, nullptr, 0);
      EXPECT_EQ(host.Talk().back().audioType, types[device][kind - 2]) << device << "/" << kind;
      ASSERT_EQ(QCSDK_StopTalk(0), 1);
    }
  }
}

}  // namespace
}  // namespace qcsdk::test
