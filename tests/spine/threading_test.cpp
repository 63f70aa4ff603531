// Reports from library threads racing host calls, calls from inside
// callbacks, and where channels are destroyed.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "qcsdk/facade/bytes.h"
#include "qcsdk/facade/registry.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/test_channel.h"

namespace qcsdk::test {
namespace {

class ThreadingTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  TestChannelFactory factory;
  HostRecorder host;

  static void Connected(Channel& ch) {
    ch.OnLinkEvent(0, "up");
    StreamInfoRecord r{};
    StoreLe16(r.data() + info::kVideoCodec, 1);
    ch.OnStreamInfo(r.data());
  }
};

TEST_F(ThreadingTest, HostCallsExportsFromInsideItsEventCallback) {
  std::atomic<int32_t> reconnected{-2};
  host.onEvent = [&](const HostEvent& e) {
    if (e.code == QCSDK_EVENT_CONNECTED) {
      StreamInfo info{};
      EXPECT_EQ(QCSDK_GetStreamInfo(e.channel, &info), 1);
      EXPECT_EQ(QCSDK_Disconnect(e.channel), 1);  // raises event 7 inside this call
    } else if (e.code == QCSDK_EVENT_DISCONNECTED) {
      // The number is still ours until this event returns.
      reconnected = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
    }
  };
  ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
  auto ch = FindTestChannel(0);
  FakeLibraries::RunOnLibraryThread([&] { Connected(*ch); });
  EXPECT_EQ(host.Count(QCSDK_EVENT_CONNECTED), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_DISCONNECTED), 1);
  EXPECT_EQ(reconnected.load(), 1);
  // Channel 0 left the table after its event; the new one lives on.
  EXPECT_FALSE(FindChannel(0));
  EXPECT_TRUE(FindChannel(1));
}

TEST_F(ThreadingTest, ChannelDiesOnTheThreadThatDropsTheLastReference) {
  ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
  const int before = TestChannel::destroyed.load();
  std::thread::id libraryThread;
  FakeLibraries::RunOnLibraryThread([&] {
    libraryThread = std::this_thread::get_id();
    ChannelPtr held = FindChannel(0);  // a transport callback's reference
    held->OnLinkEvent(6, nullptr);     // link failed: the registry lets go
    EXPECT_EQ(TestChannel::destroyed.load(), before);
  });
  EXPECT_EQ(TestChannel::destroyed.load(), before + 1);
  EXPECT_EQ(TestChannel::destroyedOn.load(), libraryThread);

  // A host call in progress keeps a released channel alive the same way.
  ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
  host.onEvent = [&](const HostEvent& e) {
    if (e.code == QCSDK_EVENT_DISCONNECTED) {
      EXPECT_EQ(TestChannel::destroyed.load(), before + 1);
    }
  };
  EXPECT_EQ(QCSDK_Disconnect(0), 1);
  EXPECT_EQ(TestChannel::destroyed.load(), before + 2);
  EXPECT_EQ(TestChannel::destroyedOn.load(), std::this_thread::get_id());
}

TEST_F(ThreadingTest, ReleaseWhileACallbackIsInFlight) {
  ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
  ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 1);
  const int before = TestChannel::destroyed.load();
  os::ManualResetEvent inCallback, released;
  host.onEvent = [&](const HostEvent& e) {
    if (e.code == QCSDK_EVENT_CONNECTED) {
      inCallback.Set();
      EXPECT_TRUE(released.Wait(ScaledMs(5000)));
      // The channel is out of the table but still whole.
      EXPECT_EQ(QCSDK_GetStreamInfo(e.channel, nullptr), 0);
    }
  };
  std::thread library([&] {
    ChannelPtr held = FindChannel(0);
    Connected(*held);
  });
  ASSERT_TRUE(inCallback.Wait(ScaledMs(5000)));
  EXPECT_EQ(QCSDK_ReleaseSDK(), 1);
  // Channel 1 had no other holder and is gone; channel 0 waits for its callback.
  EXPECT_EQ(TestChannel::destroyed.load(), before + 1);
  released.Set();
  library.join();
  EXPECT_EQ(TestChannel::destroyed.load(), before + 2);
  EXPECT_FALSE(FindChannel(0));
  EXPECT_FALSE(FindChannel(1));
}

TEST_F(ThreadingTest, ReportsRaceExportsOnManyChannels) {
  constexpr int kChannels = 64;
  for (int i = 0; i < kChannels; ++i) {
    ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), i);
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> library;
  for (int t = 0; t < 2; ++t) {
    library.emplace_back([&, t] {
      const uint8_t bytes[8] = {};
      for (int round = 0; round < 50; ++round) {
        for (int i = t; i < kChannels; i += 2) {
          if (ChannelPtr ch = FindChannel(i)) {
            if (round == 0) Connected(*ch);
            ch->OnFrame(round % 4, bytes, sizeof bytes);
            ch->OnRemoteRecFileList(nullptr, 0);
          }
        }
      }
    });
  }
  std::thread hostThread([&] {
    StreamInfo info{};
    int32_t type = 0;
    while (!stop) {
      for (int i = 0; i < kChannels; ++i) {
        QCSDK_GetStreamInfo(i, &info);
        QCSDK_GetDeviceInfo(i, &type);
        QCSDK_EnableDecoder(i, i % 2);
      }
    }
  });
  for (auto& th : library) th.join();
  stop = true;
  hostThread.join();
  for (int i = 0; i < kChannels; i += 3) EXPECT_EQ(QCSDK_Disconnect(i), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_CONNECTED), kChannels);
  EXPECT_EQ(host.Count(QCSDK_EVENT_REC_LIST), kChannels * 50);
  EXPECT_EQ(static_cast<int>(host.Raw().size()), kChannels * 50);
}

TEST_F(ThreadingTest, AllCallbacksNullIsSilent) {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_RegisterTalkCallback(nullptr);
  QCSDK_RegisterUserDataCallback(nullptr);
  ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
  auto ch = FindTestChannel(0);
  const uint8_t bytes[4] = {};
  Connected(*ch);
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
