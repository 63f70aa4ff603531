// Live streams over OCT from the simulator: shared sessions, the stream
// description built from the device's media information, decoding, and the
// refusal and link faults of the device.
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

  // Both channels of the shared session go on receiving pictures.
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
  struct Case {
    const char* settings;
    int32_t deviceType, videoCodec, audioCodec, recordingKind;
  };
  // Device types map 2 -> 2, 3 and 4 -> 3, 5 -> 4, others -> 0; H.264 is
  // reported as 2, H.265 as 11; A-law as 4, mu-law as 5; device type 5
  // records ".mp4" of kind 4 (reported 5), the others kind 3 (reported 4).
  const Case cases[] = {
      {"type=1,codec=h264,audio=alaw", 0, 2, 4, 4},
      {"type=2,codec=h265,audio=ulaw", 2, 11, 5, 4},
      {"type=4,codec=h264,audio=ulaw", 3, 2, 5, 4},
      {"type=5,codec=h265,audio=alaw", 4, 11, 4, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const size_t d = Add(c.settings);
    const int32_t n = ConnectLive(d);
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
    EXPECT_EQ(info.totalFrames, 0);
    int32_t type = -1;
    ASSERT_EQ(QCSDK_GetDeviceInfo(n, &type), 1);
    EXPECT_EQ(type, c.deviceType);

    const size_t decoded = host->Decoded().size();
    ASSERT_EQ(QCSDK_EnableDecoder(n, 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return host->Decoded().size() >= decoded + 3; }));
    const DecodedFrame last = host->Decoded().back();
    EXPECT_EQ(last.width, 160);
    EXPECT_EQ(last.height, 120);
    ASSERT_EQ(QCSDK_Disconnect(n), 1);
  }
}

TEST_F(OctSimTest, RefusalsRaiseTheirEventsAndFreeTheChannelNumber) {
  struct Case {
    const char* fault;
    int32_t event;
  };
  const Case cases[] = {{"fault=refuse-password", QCSDK_EVENT_AUTH_FAILED},
                        {"fault=client-limit", QCSDK_EVENT_CLIENT_LIMIT},
                        {"fault=no-channel", QCSDK_EVENT_NO_CHANNEL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const size_t d = Add(c.fault);
    const int before = Count(0, c.event);
    // Nothing else is connected: every attempt gets the lowest number.
    ASSERT_EQ(Connect(d), 0);
    ASSERT_TRUE(WaitEvent(0, c.event, before + 1)) << Codes(0);
    EXPECT_TRUE(WaitUntil([] { return FindChannel(0) == nullptr; }));
    EXPECT_TRUE(WaitUntil([&] { return Oct(d).client_count() == 0; }));
  }
  EXPECT_EQ(Count(0, QCSDK_EVENT_CONNECTED), 0);
  EXPECT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));

  // A device slow to answer is still reached.
  const size_t slow = Add("fault=slow:300");
  const int32_t n = ConnectLive(slow);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(WaitFrames(n));
  ASSERT_EQ(QCSDK_Disconnect(n), 1);
  EXPECT_TRUE(WaitUntil([&] { return Oct(slow).client_count() == 0; }));
  // A channel given up while its login is still under way leaves nothing
  // behind: the session that logs in later is closed.
  const int32_t early = Connect(slow);
  ASSERT_EQ(early, 0);
  ASSERT_EQ(QCSDK_Disconnect(early), 1);
  EXPECT_EQ(FindChannel(early), nullptr);
  EXPECT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
  EXPECT_TRUE(WaitUntil([&] { return Oct(slow).client_count() == 0; }));
}

TEST_F(OctSimTest, LinkFaultsEndEveryChannelOfTheSessionCleanly) {
  for (const char* fault :
       {"fault=drop-after:25", "fault=close-after:25", "fault=malformed-after:25"}) {
    SCOPED_TRACE(fault);
    const size_t d = Add(std::string("channels=2,") + fault);
    // Each link meets the fault; the device serves the next one again.
    for (int round = 0; round < 2; ++round) {
      const int32_t a = ConnectLive(d, 1);
      const int32_t b = ConnectLive(d, 2);
      const int endedA = Count(a, QCSDK_EVENT_CONNECTED);
      const int endedB = Count(b, QCSDK_EVENT_CONNECTED);
      // Every event 1 of these numbers is followed by one event 9.
      ASSERT_TRUE(WaitEvent(a, QCSDK_EVENT_REMOTE_CLOSED, endedA)) << Codes(a);
      ASSERT_TRUE(WaitEvent(b, QCSDK_EVENT_REMOTE_CLOSED, endedB)) << Codes(b);
      EXPECT_TRUE(
          WaitUntil([&] { return FindChannel(a) == nullptr && FindChannel(b) == nullptr; }));
      EXPECT_TRUE(WaitUntil([&] { return Oct(d).client_count() == 0; }));
      EXPECT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
    }
  }
}

}  // namespace
}  // namespace qcsdk::test
