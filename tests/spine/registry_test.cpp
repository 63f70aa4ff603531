// The channel table and the frame of the exports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include "qcsdk/facade/registry.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/test_channel.h"

namespace qcsdk::test {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  TestChannelFactory factory;
  HostRecorder host;

  int32_t Connect(void* user = nullptr) {
    return QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "secret", 0, user);
  }
};

TEST_F(RegistryTest, LowestFreeNumberUpTo512) {
  for (int32_t i = 0; i < kMaxChannels; ++i) ASSERT_EQ(Connect(), i);
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(QCSDK_Connect2(1, "127.0.0.1", 1, 1, 0, "u", "p", 0, nullptr), -1);
  EXPECT_EQ(fake.CountCalls("QVSP_CreatePlayer"), kMaxChannels);

  ASSERT_EQ(QCSDK_Disconnect(300), 1);
  ASSERT_EQ(QCSDK_Disconnect(7), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_DISCONNECTED), 2);
  EXPECT_EQ(Connect(), 7);
  EXPECT_EQ(Connect(), 300);
  EXPECT_EQ(Connect(), -1);
}

TEST_F(RegistryTest, TransportChoiceAndConnectArguments) {
  int32_t n = QCSDK_Connect2(1, "10.1.2.3", 80, 2, 5, "u", "p", 0, nullptr);
  ASSERT_GE(n, 0);
  EXPECT_TRUE(FindTestChannel(n)->m_bOct);
  EXPECT_THAT(FindTestChannel(n)->Calls(), ::testing::ElementsAre("Connect(10.1.2.3,80,2,5,0)"));
  for (int32_t transport : {0, 2, -1}) {
    n = QCSDK_Connect2(transport, "A123", 0, 3, 1, "u", "p", 7, nullptr);
    ASSERT_GE(n, 0);
    EXPECT_FALSE(FindTestChannel(n)->m_bOct) << transport;
    EXPECT_EQ(FindTestChannel(n)->Calls().at(0), "Connect(A123,0,3,1,1)");
  }
  n = Connect();
  EXPECT_EQ(FindTestChannel(n)->Calls().at(0), "Connect(127.0.0.1,8000,1,-1,0)");
}

TEST_F(RegistryTest, RefusedConnectFreesTheNumber) {
  TestChannelFactory::connectAnswer = false;
  const int before = TestChannel::destroyed.load();
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(TestChannel::destroyed.load(), before + 1);
  EXPECT_EQ(QCSDK_GetStreamInfo(0, nullptr), 0);
  // The player it created is released with it.
  EXPECT_EQ(fake.CountCalls("QVSP_ReleasePlayer"), 1);
  TestChannelFactory::connectAnswer = true;
  EXPECT_EQ(Connect(), 0);

  // No player: the base refuses and nothing is left behind.
  fake.SetResult("QVSP_CreatePlayer", -1);
  EXPECT_EQ(Connect(), -1);
  EXPECT_FALSE(FindChannel(1));
}

TEST_F(RegistryTest, NumbersThatNameNoChannel) {
  StreamInfo info{};
  int32_t type = 0;
  uint8_t* buffer = nullptr;
  int32_t w = 0, h = 0;
  const int32_t dates[6] = {2024, 1, 1, 2024, 1, 2};
  ASSERT_EQ(Connect(), 0);
  for (int32_t n : {-1, 1, 511, 512, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(QCSDK_Disconnect(n), 0);
    EXPECT_EQ(QCSDK_GetDeviceInfo(n, &type), 0);
    EXPECT_EQ(QCSDK_EnableDecoder(n, 1), 0);
    EXPECT_EQ(QCSDK_SetVideoPreview(n, nullptr, nullptr), 0);
    EXPECT_EQ(QCSDK_SetAudioPreview(n, nullptr), 0);
    EXPECT_EQ(QCSDK_EnableVideoData(n, 1), 0);
    EXPECT_EQ(QCSDK_GetStreamInfo(n, &info), 0);
    EXPECT_EQ(QCSDK_StartRec(n, "a.sv4"), 0);
    EXPECT_EQ(QCSDK_StopRec(n), 0);
    EXPECT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 0);
    EXPECT_EQ(QCSDK_RemotePlay(n, 0), 0);
    EXPECT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 0);
    EXPECT_EQ(QCSDK_Refresh(n), 0);
    EXPECT_EQ(QCSDK_DownloadRemoteFile(n, -1, nullptr), 0);
    EXPECT_EQ(QCSDK_RemoteRecording(n, 1), 0);
    EXPECT_EQ(QCSDK_StartTalk(n), 0);
    EXPECT_EQ(QCSDK_StopTalk(n), 0);
    EXPECT_EQ(QCSDK_SendTalkData(n, "x", 1), 0);
    EXPECT_EQ(QCSDK_SaveBitmap(n, "x.bmp"), 0);
    EXPECT_EQ(QCSDK_SaveBitmapToBuffer(n, &buffer, &w, &h), 0);
    EXPECT_EQ(QCSDK_RemoteConfig(n, 0), 0);
    EXPECT_EQ(QCSDK_SendPTZCommand(n, 0, 1), 0);
    EXPECT_EQ(QCSDK_SendUserData(n, "x", 1), 0);
    EXPECT_EQ(QCSDK_GRPC_Begin(n), 0);
    EXPECT_EQ(QCSDK_GRPC_End(n), 0);
  }
  // Nothing reached the one channel there is.
  EXPECT_EQ(FindTestChannel(0)->Calls().size(), 1u);
  EXPECT_TRUE(host.Events().empty());
  QCSDK_FreeBitmapBuffer(nullptr);
}

TEST_F(RegistryTest, ExportsReachTheirSlots) {
  ASSERT_EQ(Connect(), 0);
  auto channel = FindTestChannel(0);
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 7};
  EXPECT_EQ(QCSDK_EnableVideoData(0, 5), 1);
  EXPECT_EQ(QCSDK_StartTalk(0), 1);
  EXPECT_EQ(QCSDK_SendTalkData(0, "abc", 3), 1);
  EXPECT_EQ(QCSDK_StopTalk(0), 1);
  EXPECT_EQ(QCSDK_GetRemoteRecFileList(0, dates), 1);
  EXPECT_EQ(QCSDK_RemotePlay(0, 2), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(0, 5, 300), 1);
  EXPECT_EQ(QCSDK_RemoteRecording(0, 9), 1);
  EXPECT_EQ(QCSDK_RemoteConfig(0, 11), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(0, 3, 256), 1);
  EXPECT_EQ(QCSDK_SendUserData(0, "xy", 2), 1);
  EXPECT_EQ(QCSDK_GRPC_Begin(0), 1);
  EXPECT_EQ(QCSDK_GRPC_End(0), 1);
  // A negative index only stops a download, and succeeds.
  EXPECT_EQ(QCSDK_DownloadRemoteFile(0, -1, nullptr), 1);
  EXPECT_EQ(QCSDK_StopRec(0), 1);
  EXPECT_THAT(channel->Calls(),
              ::testing::ElementsAre(
                  "Connect(127.0.0.1,8000,1,-1,0)", "EnableVideoData 1", "StartTalk",
                  "SendTalkData 3", "StopTalk", "GetRemoteRecFileList", "RemotePlay 2",
                  "RemotePlayControl 5 300", "RemoteRecording 1", "RemoteConfig 11",
                  "SendPTZCommand 3 1", "SendUserData 2", "GrpcBegin", "GrpcEnd", "StopDownload"));
  channel->answer = false;
  EXPECT_EQ(QCSDK_StartTalk(0), 0);
  fake.SetResult("QVSP_RefreshWindow", 0);
  EXPECT_EQ(QCSDK_Refresh(0), 0);
  fake.SetResult("QVSP_RefreshWindow", 3);
  EXPECT_EQ(QCSDK_Refresh(0), 1);
}

TEST_F(RegistryTest, FindChannelByPlayer) {
  ASSERT_EQ(Connect(), 0);
  ASSERT_EQ(Connect(), 1);
  const int32_t player = FindChannel(1)->PlayerHandle();
  EXPECT_EQ(FindChannelByPlayer(player), FindChannel(1));
  EXPECT_FALSE(FindChannelByPlayer(-1));
  EXPECT_FALSE(FindChannelByPlayer(123456));
}

}  // namespace
}  // namespace qcsdk::test
