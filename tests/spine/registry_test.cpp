// The channel table, the frame of the exports, a release while a report is
// in flight, and reports with no host callbacks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <climits>
#include <map>
#include <thread>

#include "platform/os.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/channel/stream_path.h"
#include "support/channel_fixture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

using RegistryTest = ChannelFixture;

int32_t Connect() {
  return QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "secret", 0, nullptr);
}

TEST_F(RegistryTest, LowestFreeNumberUpTo512) {
  for (int32_t i = 0; i < kMaxChannels; ++i) ASSERT_EQ(Connect(), i);
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(QCSDK_Connect2(1, "127.0.0.1", 1, 1, 0, "u", "p", 0, nullptr), -1);
  EXPECT_EQ(fake.CountCalls("QVSP_CreatePlayer"), kMaxChannels);
  // 511 is the last number that names a channel, 512 the first that does not.
  EXPECT_EQ(QCSDK_StopRec(511), 1);
  EXPECT_EQ(QCSDK_StopRec(512), 0);
  EXPECT_EQ(QCSDK_StopRec(-1), 0);

  ASSERT_EQ(QCSDK_Disconnect(300), 1);
  ASSERT_EQ(QCSDK_Disconnect(7), 1);
  EXPECT_EQ(host.Count(7), 2);
  EXPECT_EQ(Connect(), 7);
  EXPECT_EQ(Connect(), 300);
  EXPECT_EQ(Connect(), -1);
}

TEST_F(RegistryTest, TransportChoiceAndConnectArguments) {
  int32_t n = QCSDK_Connect2(1, "10.1.2.3", 80, 2, 5, "u", "p", 0, nullptr);
  ASSERT_GE(n, 0);
  EXPECT_TRUE(FindTestChannel(n)->m_bOct);
  EXPECT_THAT(FindTestChannel(n)->Calls(), ElementsAre("Connect(10.1.2.3,80,2,5,0)"));
  for (int32_t transport : {0, 2, -1, 257}) {
    n = QCSDK_Connect2(transport, "A123", 0, 3, 1, "u", "p", 256, nullptr);
    ASSERT_GE(n, 0);
    EXPECT_FALSE(FindTestChannel(n)->m_bOct) << transport;
    EXPECT_EQ(FindTestChannel(n)->Calls().at(0), "Connect(A123,0,3,1,1)");
  }
  n = Connect();
  EXPECT_FALSE(FindTestChannel(n)->m_bOct);
  EXPECT_EQ(FindTestChannel(n)->Calls().at(0), "Connect(127.0.0.1,8000,1,-1,0)");
}

TEST_F(RegistryTest, RefusedConnectFreesTheNumberAndPlayersFindTheirChannel) {
  TestChannelFactory::connectAnswer = false;
  const int before = TestChannel::destroyed.load();
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(TestChannel::destroyed.load(), before + 1);
  EXPECT_EQ(fake.CountCalls("QVSP_ReleasePlayer"), 1);  // its player goes with it
  TestChannelFactory::connectAnswer = true;
  ASSERT_EQ(Connect(), 0);
  ASSERT_EQ(Connect(), 1);
  EXPECT_EQ(FindChannelByPlayer(FindChannel(1)->PlayerHandle()), FindChannel(1));
  EXPECT_FALSE(FindChannelByPlayer(-1));
  EXPECT_FALSE(FindChannelByPlayer(123456));
  // No player, or a connect that throws: refused, and nothing is left behind.
  fake.SetResult("QVSP_CreatePlayer", -1);
  EXPECT_EQ(Connect(), -1);
  fake.SetResultByFirstArg("QVSP_CreatePlayer", [](int64_t) -> int64_t { throw std::bad_alloc(); });
  EXPECT_EQ(Connect(), -1);
  EXPECT_FALSE(FindChannel(2));
}

// The export named `e` with the arguments a and b of its table row; where
// an argument is a pointer, a's bit 0 and bit 1 say whether it is given;
// for Refresh, a is the player's answer, for the previews b.
int32_t CallExport(FakeLibraries& fake, const std::string& e, int32_t n, int32_t a, int32_t b) {
  static const int32_t dates[6] = {2024, 5, 6, 2024, 5, 7};
  static StreamInfo info;
  static int32_t type, w, h;
  static uint8_t* buffer;
  static QCSDK_Rect rect{0, 0, 10, 10};
  const auto given = [a](int bit, auto* p) { return (a >> bit & 1) ? p : nullptr; };
  if (e == "GetDeviceInfo") return QCSDK_GetDeviceInfo(n, &type);
  if (e == "EnableDecoder") return QCSDK_EnableDecoder(n, a);
  fake.SetResult("QVSP_SetVideoPreview", b), fake.SetResult("QVSP_SetAudioPreview", b);
  if (e == "SetVideoPreview") return QCSDK_SetVideoPreview(n, given(0, &rect), given(1, &rect));
  if (e == "SetAudioPreview") return QCSDK_SetAudioPreview(n, given(0, &rect));
  if (e == "EnableVideoData") return QCSDK_EnableVideoData(n, a);
  if (e == "SetRawDataAllCodecs") return QCSDK_SetRawDataAllCodecs(n, a);
  if (e == "GetStreamInfo") return QCSDK_GetStreamInfo(n, &info);
  if (e == "StartRec") return QCSDK_StartRec(n, "a.sv4");
  if (e == "StopRec") return QCSDK_StopRec(n);
  if (e == "GetRemoteRecFileList") return QCSDK_GetRemoteRecFileList(n, dates);
  if (e == "RemotePlay") return QCSDK_RemotePlay(n, a);
  if (e == "RemotePlayControl") return QCSDK_RemotePlayControl(n, a, b);
  if (e == "Refresh") return fake.SetResult("QVSP_RefreshWindow", a), QCSDK_Refresh(n);
  if (e == "DownloadRemoteFile") return QCSDK_DownloadRemoteFile(n, a, nullptr);
  if (e == "RemoteRecording") return QCSDK_RemoteRecording(n, a);
  if (e == "StartTalk") return QCSDK_StartTalk(n);
  if (e == "StopTalk") return QCSDK_StopTalk(n);
  if (e == "SendTalkData") return QCSDK_SendTalkData(n, given(0, "abc"), b);
  if (e == "SaveBitmap") return QCSDK_SaveBitmap(n, "x.bmp");
  if (e == "SaveBitmapToBuffer") return QCSDK_SaveBitmapToBuffer(n, &buffer, &w, &h);
  if (e == "RemoteConfig") return QCSDK_RemoteConfig(n, a);
  if (e == "SendPTZCommand") return QCSDK_SendPTZCommand(n, a, b);
  if (e == "SendUserData") return QCSDK_SendUserData(n, given(0, "ab"), b);
  if (e == "GRPC_Begin") return QCSDK_GRPC_Begin(n);
  if (e == "GRPC_End") return QCSDK_GRPC_End(n);
  if (e == "GRPC_FreeResults") return QCSDK_GRPC_FreeResults(n);
  if (e == "Disconnect") return QCSDK_Disconnect(n);
  ADD_FAILURE() << "no export " << e;
  return -1;
}

// Each row of the table's exports, with the calls they make.
TEST_F(RegistryTest, EveryExportPassesItsArgumentsOnOrAnswersNoChannel) {
  ASSERT_EQ(Connect(), 0);
  auto channel = FindTestChannel(0);
  for (const TableRow& row : Table("spine/exports.md")) {
    SCOPED_TRACE(row.Where());
    const auto a = static_cast<int32_t>(row.Int("a")), b = static_cast<int32_t>(row.Int("b"));
    const auto call = [&](int32_t n) { return CallExport(fake, row.Text("export"), n, a, b); };
    for (int32_t n : {-1, 1, 511, 512, INT_MIN, INT_MAX}) EXPECT_EQ(call(n), 0) << n;
    for (bool answer : {false, true}) {
      channel->answer = answer;
      const size_t before = channel->Calls().size();
      fake.ClearCalls();
      EXPECT_EQ(call(0), row.Int(answer ? "when true" : "when false")) << answer;
      std::string calls;
      auto made = channel->Calls();
      made.erase(made.begin(), made.begin() + static_cast<std::ptrdiff_t>(before));
      for (const std::string& c : fake.Calls()) made.push_back(c);
      for (const std::string& c : made) calls += (calls.empty() ? "" : "; ") + c;
      EXPECT_EQ(calls, row.Text("calls")) << answer;
      if (row.Text("export") == "Disconnect") break;  // the channel is gone now
    }
  }
  EXPECT_FALSE(FindChannel(0));
  EXPECT_EQ(host.Codes(), std::vector<int32_t>{7});
}

using ThreadingTest = ChannelFixture;

TEST_F(ThreadingTest, ReleaseWhileACallbackIsInFlight) {
  auto ch = Open();
  const int32_t decoding = Open()->PlayerHandle();
  const int before = TestChannel::destroyed.load();
  // Released, channel 1's player joins its decoding thread as it hands a picture over.
  os::Thread decoder;
  fake.SetResultByFirstArg("QVSP_ReleasePlayer", [&](int64_t player) -> int64_t {
    if (player != decoding) return 1;
    decoder.Start([=] { OnPlayerPicture(decoding, {}, {}, {}, 0, 0); });
    EXPECT_TRUE(decoder.Join(ScaledMs(2000))) << "release held the table";
    return 1;
  });
  os::ManualResetEvent inCallback, released;
  host.onEvent = [&](const HostEvent& e) {
    if (e.code != QCSDK_EVENT_CONNECTED) return;
    inCallback.Set();
    EXPECT_TRUE(released.Wait(ScaledMs(5000)));
    EXPECT_EQ(QCSDK_GetStreamInfo(e.channel, nullptr), 0);  // out of the table, still whole
  };
  std::thread library([&, held = ch] { Describe(*held); });
  ch.reset();
  ASSERT_TRUE(inCallback.Wait(ScaledMs(5000)));
  EXPECT_EQ(QCSDK_ReleaseSDK(), 1);
  EXPECT_EQ(TestChannel::destroyed.load(), before + 1);  // channel 1 had no other holder
  released.Set();
  library.join();
  EXPECT_EQ(TestChannel::destroyed.load(), before + 2);
  EXPECT_FALSE(FindChannel(0));
}

// A frame's lookup answers while a channel is being made under the table's
// lock, and never sees a slot half changed.
TEST_F(ThreadingTest, LookupsDoNotWaitForTheTable) {
  ASSERT_EQ(Connect(), 0);
  static std::thread lookup;
  static os::ManualResetEvent answered;
  answered.Reset();
  SetChannelFactory([](int32_t n, bool oct) -> ChannelPtr {
    lookup = std::thread([] { FindChannel(0) ? answered.Set() : void(); });
    EXPECT_TRUE(answered.Wait(ScaledMs(2000))) << "the lookup waited for the table";
    return std::make_shared<TestChannel>(n, oct);
  });
  EXPECT_EQ(Connect(), 1);
  lookup.join();
  TestChannelFactory restored;
  std::atomic<bool> stop{false};
  std::thread frames([&] {
    for (int32_t n = 0; !stop; n ^= 1) {
      const ChannelPtr channel = FindChannel(n);
      EXPECT_TRUE(!channel || channel->Number() == n);
    }
  });
  for (int i = 0; i < 200; ++i) EXPECT_TRUE(QCSDK_Disconnect(1) == 1 && Connect() == 1);
  stop = true;
  frames.join();
}

TEST_F(ThreadingTest, AllCallbacksNullIsSilent) {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_RegisterTalkCallback(nullptr);
  QCSDK_RegisterUserDataCallback(nullptr);
  auto ch = Open();
  const uint8_t bytes[4] = {};
  Describe(*ch);
  ch->OnFrame(0, bytes, 4);
  ASSERT_EQ(QCSDK_StartTalk(0), 1);
  ch->OnTalkEvent(0, nullptr, 0);
  ch->OnTalkEvent(1, bytes, 4);
  ch->OnRemoteRecFileList(nullptr, -1);
  ch->OnRemoteRecordingState(1);
  ch->OnDownloadData(2, nullptr, 0, 0);
  ch->OnLinkEvent(9, nullptr);
  EXPECT_FALSE(FindChannel(0));
  EXPECT_TRUE(host.Events().empty());
}

}  // namespace
}  // namespace qcsdk::test
