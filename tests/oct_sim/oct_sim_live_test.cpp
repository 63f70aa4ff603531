// Live streams over OCT from the simulator: shared sessions, the stream
// description built from the device's media information, decoding, a
// refused password and a slow device. (Broken links: the library's hostile
// peer tests, the channel tables and the device stopping mid-playback.)
#include "oct_sim/oct_sim_fixture.h"

namespace qcsdk::test {
namespace {

TEST_F(OctSimTest, ChannelsShareOneSessionAndARefusedPasswordLeavesThemStreaming) {
  const size_t d = Add("type=3,channels=2");
  const int32_t a = ConnectLive(d, 1);
  const int32_t b = ConnectLive(d, 2);
  EXPECT_EQ(Oct(d).client_count(), 1u);

  const int32_t refused = Connect(d, 1, "wrong");
  ASSERT_GE(refused, 0);
  ASSERT_TRUE(WaitEvent(refused, QCSDK_EVENT_AUTH_FAILED)) << Codes(refused);
  EXPECT_TRUE(WaitUntil([&] { return FindChannel(refused) == nullptr; }));
  EXPECT_TRUE(WaitUntil([&] { return Oct(d).client_count() == 1; }));
  ASSERT_TRUE(WaitFrames(a));
  ASSERT_TRUE(WaitFrames(b));

  // Closing one channel keeps the session for the other.
  ASSERT_EQ(QCSDK_Disconnect(a), 1);
  ASSERT_TRUE(WaitFrames(b));
  EXPECT_EQ(Oct(d).client_count(), 1u);
  ASSERT_EQ(QCSDK_Disconnect(b), 1);
  EXPECT_TRUE(WaitUntil([&] { return Oct(d).client_count() == 0; }));
  EXPECT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
}

TEST_F(OctSimTest, StreamDescriptionFollowsTheDeviceAndPicturesDecode) {
  // As the host reads them: H.264 2, H.265 11; A-law 4, mu-law 5; device
  // type 5 records ".mp4" of kind 4 (reported 5), the others kind 3 (4).
  const struct {
    const char* settings;
    int32_t deviceType, videoCodec, audioCodec, recordingKind;
  } cases[] = {{"type=2,codec=h265,audio=ulaw", 2, 11, 5, 4},
               {"type=5,codec=h264,audio=alaw", 4, 2, 4, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings);
    const int32_t n = ConnectLive(Add(c.settings));
    StreamInfo info{};
    ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
    EXPECT_EQ(info.videoCodec, c.videoCodec);
    EXPECT_EQ(info.width, 160);
    EXPECT_EQ(info.height, 120);
    EXPECT_EQ(info.frameRateNum, 25);
    EXPECT_EQ(info.frameRateDen, 1);
    EXPECT_EQ(info.audioCodec, c.audioCodec);
    EXPECT_EQ(info.audioParam1, 8000);  // sample rate
    EXPECT_EQ(info.audioParam2, 1);     // channels
    EXPECT_EQ(info.audioParam3, 16);    // bits
    EXPECT_EQ(info.recordingKind, c.recordingKind);
    int32_t type = -1;
    ASSERT_EQ(QCSDK_GetDeviceInfo(n, &type), 1);
    EXPECT_EQ(type, c.deviceType);

    const size_t decoded = host->Decoded().size();
    ASSERT_EQ(QCSDK_EnableDecoder(n, 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return host->Decoded().size() >= decoded + 3; }));
    EXPECT_EQ(host->Decoded().back().width, 160);
    EXPECT_EQ(host->Decoded().back().height, 120);
    ASSERT_EQ(QCSDK_Disconnect(n), 1);
  }
}

TEST_F(OctSimTest, SlowDevicesAreReachedAndAChannelGivenUpEarlyLeavesNothing) {
  const size_t slow = Add("fault=slow:300");
  const int32_t n = ConnectLive(slow);
  EXPECT_TRUE(WaitFrames(n));
  ASSERT_EQ(QCSDK_Disconnect(n), 1);
  EXPECT_TRUE(WaitUntil([&] { return Oct(slow).client_count() == 0; }));
  // Given up while its login is still under way: the session that logs in
  // later is closed.
  const int32_t early = Connect(slow);
  ASSERT_EQ(early, 0);
  ASSERT_EQ(QCSDK_Disconnect(early), 1);
  EXPECT_EQ(FindChannel(early), nullptr);
  EXPECT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
  EXPECT_TRUE(WaitUntil([&] { return Oct(slow).client_count() == 0; }));
}

}  // namespace
}  // namespace qcsdk::test
