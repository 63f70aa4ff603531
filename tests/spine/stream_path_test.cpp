// Frames, decoder control, stream description and talk reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include "qcsdk/facade/bytes.h"
#include "qcsdk/facade/registry.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/test_channel.h"

namespace qcsdk::test {
namespace {

class StreamPathTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  TestChannelFactory factory;
  HostRecorder host;
  std::shared_ptr<TestChannel> ch;
  const uint8_t frame[4] = {0, 0, 0, 1};

  void SetUp() override {
    int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
    ASSERT_EQ(n, 0);
    ch = FindTestChannel(n);
    ch->OnLinkEvent(0, nullptr);
  }
  void Info(uint16_t videoCodec, uint16_t deviceType = 1, uint16_t kind = 0) {
    StreamInfoRecord r{};
    StoreLe16(r.data() + info::kDeviceType, deviceType);
    StoreLe16(r.data() + info::kVideoCodec, videoCodec);
    StoreLe16(r.data() + info::kRecordKind, kind);
    StoreLe16(r.data() + info::kWidth, 1920);
    StoreLe16(r.data() + info::kHeight, 1080);
    StoreLe16(r.data() + info::kRateNum, 25);
    StoreLe16(r.data() + info::kAudioCodec, 2);
    StoreLe16(r.data() + info::kAudioParam1, 8000);
    StoreLe16(r.data() + info::kAudioParam2, 1);
    StoreLe16(r.data() + info::kAudioParam3, 16);
    StoreLe32(r.data() + info::kTotalFrames, 900);
    ch->OnStreamInfo(r.data());
  }
};

TEST_F(StreamPathTest, RawDataFollowsTheVideoCodec) {
  ch->OnFrame(QCSDK_FRAME_KEY, frame, 4);  // before any record: raw data off
  Info(1);
  ch->OnFrame(QCSDK_FRAME_P, frame, 4);
  ch->OnFrame(9, frame, 4);  // unknown types are still reported raw
  Info(2);
  ch->OnFrame(QCSDK_FRAME_P, frame, 4);
  Info(1);
  ch->OnFrame(QCSDK_FRAME_AUDIO, frame, 3);
  auto raw = host.Raw();
  ASSERT_EQ(raw.size(), 3u);
  EXPECT_EQ(raw[0].type, QCSDK_FRAME_P);
  EXPECT_EQ(raw[1].type, 9);
  EXPECT_EQ(raw[2].type, QCSDK_FRAME_AUDIO);
  EXPECT_EQ(raw[2].length, 3);
}

TEST_F(StreamPathTest, PlayerGateOpensAtFirstKeyFrameAfterRecord) {
  Info(1);
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  EXPECT_EQ(QCSDK_EnableDecoder(0, 1), 1);  // no second stream, no second key-frame request
  EXPECT_EQ(fake.CountCalls("QVSP_OpenStream"), 1);
  auto calls = ch->Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "InsertKeyFrame"), 1);

  ch->OnFrame(QCSDK_FRAME_P, frame, 4);
  ch->OnFrame(QCSDK_FRAME_AUDIO, frame, 4);
  EXPECT_EQ(fake.CountCalls("QVSP_WriteToStreamOneFrame"), 0);
  ch->OnFrame(QCSDK_FRAME_KEY, frame, 4);
  ch->OnFrame(QCSDK_FRAME_B, frame, 4);
  ch->OnFrame(QCSDK_FRAME_AUDIO, frame, 4);
  ch->OnFrame(4, frame, 4);  // above 3: raw only
  EXPECT_EQ(fake.CountCalls("QVSP_WriteToStreamOneFrame"), 3);

  StreamInfo si{};
  ASSERT_EQ(QCSDK_GetStreamInfo(0, &si), 1);
  EXPECT_EQ(si.framesReceived, 3);  // P, key, B; audio is not counted

  // A later record keeps the gate open and restarts the count.
  Info(1);
  ch->OnFrame(QCSDK_FRAME_P, frame, 4);
  EXPECT_EQ(fake.CountCalls("QVSP_WriteToStreamOneFrame"), 4);
  ASSERT_EQ(QCSDK_EnableDecoder(0, 0), 1);
  ch->OnFrame(QCSDK_FRAME_P, frame, 4);
  EXPECT_EQ(fake.CountCalls("QVSP_WriteToStreamOneFrame"), 4);
  EXPECT_EQ(fake.CountCalls("QVSP_CloseStream"), 1);
}

TEST_F(StreamPathTest, DecoderNeedsARecordAndThePlayersConsent) {
  EXPECT_EQ(QCSDK_EnableDecoder(0, 1), 0);
  EXPECT_EQ(fake.CountCalls("QVSP_OpenStream"), 0);
  Info(1);
  fake.SetResult("QVSP_OpenStream", 0);
  EXPECT_EQ(QCSDK_EnableDecoder(0, 1), 0);
  ch->OnFrame(QCSDK_FRAME_KEY, frame, 4);
  EXPECT_EQ(fake.CountCalls("QVSP_WriteToStreamOneFrame"), 0);
}

TEST_F(StreamPathTest, StreamInfoMapping) {
  StreamInfo si{};
  EXPECT_EQ(QCSDK_GetStreamInfo(0, &si), 0);  // waiting for data
  Info(2, 1, 3);
  ASSERT_EQ(QCSDK_GetStreamInfo(0, &si), 1);
  EXPECT_EQ(si.videoCodec, 11);
  EXPECT_EQ(si.width, 1920);
  EXPECT_EQ(si.height, 1080);
  EXPECT_EQ(si.frameRateNum, 25);
  EXPECT_EQ(si.frameRateDen, 1);  // record holds 0
  EXPECT_EQ(si.audioCodec, 5);
  EXPECT_EQ(si.audioParam1, 8000);
  EXPECT_EQ(si.audioParam2, 1);
  EXPECT_EQ(si.audioParam3, 16);
  EXPECT_EQ(si.recordingKind, 4);
  EXPECT_EQ(si.totalFrames, 900);
  Info(0, 1, 7);
  ASSERT_EQ(QCSDK_GetStreamInfo(0, &si), 1);
  EXPECT_EQ(si.videoCodec, 1);
  EXPECT_EQ(si.recordingKind, 0);
  Info(5);
  ASSERT_EQ(QCSDK_GetStreamInfo(0, &si), 1);
  EXPECT_EQ(si.videoCodec, 0);
  EXPECT_EQ(QCSDK_GetStreamInfo(0, nullptr), 0);
}

TEST_F(StreamPathTest, PreviewsReportThePlayersAnswer) {
  QCSDK_Rect rect{0, 0, 640, 480};
  int window = 0;
  EXPECT_EQ(QCSDK_SetVideoPreview(0, &window, &rect), 1);
  EXPECT_EQ(fake.Calls().back(), "QVSP_SetVideoPreview(1, ptr, ptr, 1)");
  EXPECT_EQ(QCSDK_SetVideoPreview(0, &window, nullptr), 1);
  EXPECT_EQ(fake.Calls().back(), "QVSP_SetVideoPreview(1, ptr, null, 0)");
  fake.SetResult("QVSP_SetAudioPreview", 0);
  EXPECT_EQ(QCSDK_SetAudioPreview(0, &window), 0);
  EXPECT_EQ(fake.Calls().back(), "QVSP_SetAudioPreview(1, ptr, 1)");
  fake.SetResult("QVSP_SetAudioPreview", 1);
  EXPECT_EQ(QCSDK_SetAudioPreview(0, nullptr), 1);
  EXPECT_EQ(fake.Calls().back(), "QVSP_SetAudioPreview(1, null, 0)");
}

TEST_F(StreamPathTest, TalkReports) {
  Info(1, 2, 3);
  ch->OnTalkEvent(QCSDK_TALK_AUDIO, frame, 4);       // not accepted yet: dropped
  ch->OnTalkEvent(QCSDK_TALK_ACCEPTED, nullptr, 0);  // not requested: nothing
  ch->OnTalkEvent(QCSDK_TALK_ENDED, nullptr, 0);     // both flags clear: nothing
  EXPECT_TRUE(host.Talk().empty());

  ASSERT_EQ(QCSDK_StartTalk(0), 1);
  ch->OnTalkEvent(QCSDK_TALK_ACCEPTED, nullptr, 0);
  ch->OnTalkEvent(QCSDK_TALK_AUDIO, frame, 4);
  ch->OnTalkEvent(7, frame, 4);  // unknown code: nothing
  ch->OnTalkEvent(QCSDK_TALK_ENDED, nullptr, 0);
  ch->OnTalkEvent(QCSDK_TALK_ENDED, nullptr, 0);  // flags already cleared
  ch->OnTalkEvent(QCSDK_TALK_AUDIO, frame, 4);
  auto talk = host.Talk();
  ASSERT_EQ(talk.size(), 3u);
  EXPECT_EQ(talk[0].event, QCSDK_TALK_ACCEPTED);
  EXPECT_EQ(talk[0].audioType, 9);  // device type 2 with an MP4 recording kind
  EXPECT_EQ(talk[1].event, QCSDK_TALK_AUDIO);
  EXPECT_EQ(talk[1].audioType, 255);
  EXPECT_EQ(talk[1].length, 4);
  EXPECT_EQ(talk[2].event, QCSDK_TALK_ENDED);
  EXPECT_EQ(talk[2].audioType, 255);

  // The audio type follows the device type and the recording kind.
  const struct {
    uint16_t device, kind;
    int32_t type;
  } cases[] = {{1, 3, 7}, {5, 0, 7}, {3, 0, 8}, {4, 4, 9}, {0, 0, 0}, {6, 3, 0}};
  for (const auto& c : cases) {
    Info(1, c.device, c.kind);
    ASSERT_EQ(QCSDK_StartTalk(0), 1);
    ch->OnTalkEvent(QCSDK_TALK_ACCEPTED, nullptr, 0);
    EXPECT_EQ(host.Talk().back().audioType, c.type) << c.device << "/" << c.kind;
    ASSERT_EQ(QCSDK_StopTalk(0), 1);
  }
}

TEST_F(StreamPathTest, DecodedPicturesReachTheHost) {
  Info(1);
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  QVSP_PictureCallback picture = fake.picture();
  if (picture == nullptr) {
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    picture = fake.picture();
  }
  ASSERT_NE(picture, nullptr);
  const uint8_t planes[3] = {1, 2, 3};
  FakeLibraries::RunOnLibraryThread(
      [&] { picture(ch->PlayerHandle(), &planes[0], &planes[1], &planes[2], 64, 32); });
  FakeLibraries::RunOnLibraryThread([&] { picture(9999, planes, planes, planes, 1, 1); });
  auto decoded = host.Decoded();
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_EQ(decoded[0].y, &planes[0]);
  EXPECT_EQ(decoded[0].v, &planes[2]);
  EXPECT_EQ(decoded[0].yStride, 64);
  EXPECT_EQ(decoded[0].uStride, 32);
  EXPECT_EQ(decoded[0].vStride, 32);
  EXPECT_EQ(fake.Calls().back(), "QVSP_GetBitmapSize(1, ptr, ptr)");
  QCSDK_ReleaseSDK();
}

}  // namespace
}  // namespace qcsdk::test
