// A release while a report is in flight, and reports with no host callbacks.
#include <atomic>
#include <thread>

#include "platform/os.h"
#include "qcsdk/facade/registry.h"
#include "support/channel_fixture.h"

namespace qcsdk::test {
namespace {

using ThreadingTest = ChannelFixture;

TEST_F(ThreadingTest, ReleaseWhileACallbackIsInFlight) {
  auto ch = Open();
  Open();
  const int before = TestChannel::destroyed.load();
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
