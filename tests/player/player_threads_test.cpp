// Decoding threads: joined on release, safe to stop from inside their own
// callback, and many players side by side.
#include <future>
#include <thread>

#include "player_fixture.h"

namespace qvsp_test {
namespace {

using PlayerThreads = PlayerTest;

TEST_F(PlayerThreads, ReleaseWithAStreamOpenJoinsItsThread) {
  const auto packets = Encode(PatternCodec::kH264, 160, 120, 20, 10);
  const StreamRecord record = MakeRecord(PatternCodec::kH264, 160, 120);
  std::vector<int32_t> players;
  for (int i = 0; i < 3; ++i) {
    players.push_back(QVSP_CreatePlayer());
    ASSERT_EQ(QVSP_OpenStream(players.back(), record.data(), 96), 1);
  }
  EXPECT_EQ(DecoderThreads(), 3);
  for (int32_t player : players) WriteAll(player, packets);
  // Released while frames are still queued or being decoded.
  std::vector<size_t> countAtRelease;
  for (int32_t player : players) {
    ASSERT_EQ(QVSP_ReleasePlayer(player), 1);
    countAtRelease.push_back(m_log.Count(player));
  }
  EXPECT_EQ(DecoderThreads(), 0);
  // Two streams left open at ReleaseSDK are joined by it.
  const int32_t a = QVSP_CreatePlayer();
  const int32_t b = QVSP_CreatePlayer();
  ASSERT_EQ(QVSP_OpenStream(a, record.data(), 96), 1);
  ASSERT_EQ(QVSP_OpenStream(b, record.data(), 96), 1);
  WriteAll(a, packets);
  WriteAll(b, packets);
  ASSERT_EQ(QVSP_ReleaseSDK(), 1);
  EXPECT_EQ(DecoderThreads(), 0);
  const size_t aAtRelease = m_log.Count(a);
  // No picture of a released player is reported after its release returned.
  ASSERT_EQ(QVSP_InitSDK(), 1);
  for (size_t i = 0; i < players.size(); ++i) {
    EXPECT_EQ(m_log.Count(players[i]), countAtRelease[i]);
  }
  EXPECT_EQ(m_log.Count(a), aAtRelease);
}

TEST_F(PlayerThreads, ACallbackMayCloseReopenOrReleaseItsOwnPlayer) {
  const auto packets = Encode(PatternCodec::kH264, 160, 120, 10, 5);
  const StreamRecord record = MakeRecord(PatternCodec::kH264, 160, 120);
  const int32_t closer = QVSP_CreatePlayer();
  const int32_t releaser = QVSP_CreatePlayer();
  const int32_t reopener = QVSP_CreatePlayer();
  for (int32_t p : {closer, releaser, reopener}) {
    ASSERT_EQ(QVSP_OpenStream(p, record.data(), 96), 1);
  }
  std::promise<void> closed;
  std::promise<void> released;
  std::promise<void> reopened;
  m_log.SetHook([&](int32_t player, const Picture&) {
    const size_t n = m_log.Count(player);
    if (n != 3) return;
    if (player == closer) {
      EXPECT_EQ(QVSP_CloseStream(player), 1);
      closed.set_value();
    } else if (player == releaser) {
      EXPECT_EQ(QVSP_ReleasePlayer(player), 1);
      released.set_value();
    } else if (player == reopener) {
      m_log.Forget(player);
      EXPECT_EQ(QVSP_OpenStream(player, record.data(), 96), 1);
      reopened.set_value();
    }
  });
  for (int32_t p : {closer, releaser, reopener})
    WriteAll(p, {packets.begin(), packets.begin() + 5}, /*mayBeRefused=*/true);
  closed.get_future().wait();
  released.get_future().wait();
  reopened.get_future().wait();
  // Later frames: refused by the closed and the released player, decoded
  // from the start by the reopened one.
  for (int32_t p : {closer, releaser}) {
    EXPECT_EQ(QVSP_WriteToStreamOneFrame(p, packets[5].data.data(),
                                         static_cast<int32_t>(packets[5].data.size())),
              0);
  }
  WriteAll(reopener, packets);
  ASSERT_TRUE(m_log.WaitFor(reopener, 3 + packets.size(), Timeout()));
  EXPECT_EQ(m_log.Count(closer), 3u);
  EXPECT_EQ(m_log.Count(releaser), 3u);
  m_log.SetHook(nullptr);
}

TEST_F(PlayerThreads, ReleaseSdkFromInsideACallbackStopsEveryOtherThread) {
  const auto packets = Encode(PatternCodec::kH264, 160, 120, 10, 5);
  const StreamRecord record = MakeRecord(PatternCodec::kH264, 160, 120);
  const int32_t a = QVSP_CreatePlayer();
  const int32_t b = QVSP_CreatePlayer();
  ASSERT_EQ(QVSP_OpenStream(a, record.data(), 96), 1);
  ASSERT_EQ(QVSP_OpenStream(b, record.data(), 96), 1);
  WriteAll(b, packets);
  ASSERT_TRUE(m_log.WaitFor(b, packets.size(), Timeout()));
  std::promise<int> threadsAfter;
  m_log.SetHook([&](int32_t player, const Picture&) {
    if (player != a || m_log.Count(a) != 2) return;
    EXPECT_EQ(QVSP_ReleaseSDK(), 1);
    // Only this thread, which ends when the callback returns, is left.
    threadsAfter.set_value(DecoderThreads());
  });
  WriteAll(a, packets, /*mayBeRefused=*/true);
  EXPECT_EQ(threadsAfter.get_future().get(), 1);
  EXPECT_EQ(QVSP_CreatePlayer(), -1) << "released";
  ASSERT_EQ(QVSP_InitSDK(), 1);
  m_log.SetHook(nullptr);
}

TEST_F(PlayerThreads, ManyPlayersFedFromManyThreads) {
  constexpr int kPlayers = 8;
  const auto packets = Encode(PatternCodec::kH264, 160, 120, 16, 8);
  const StreamRecord record = MakeRecord(PatternCodec::kH264, 160, 120);
  std::vector<int32_t> players;
  for (int i = 0; i < kPlayers; ++i) {
    players.push_back(QVSP_CreatePlayer());
    ASSERT_EQ(QVSP_OpenStream(players.back(), record.data(), 96), 1);
  }
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      for (int32_t p : players) {
        int32_t w = 0;
        int32_t h = 0;
        QVSP_GetBitmapSize(p, &w, &h);
        QVSP_RefreshWindow(p);
        QVSP_Statistics stats{};
        QVSP_GetStatistics(p, &stats);
        QVSP_SetVideoPreview(p, nullptr, nullptr, 0);
      }
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      WriteAll(players[static_cast<size_t>(2 * w)], packets);
      WriteAll(players[static_cast<size_t>(2 * w + 1)], packets);
    });
  }
  for (auto& t : writers) t.join();
  for (int32_t p : players) {
    ASSERT_TRUE(m_log.WaitFor(p, packets.size(), Timeout()));
    const auto pictures = m_log.Pictures(p);
    for (size_t i = 0; i < pictures.size(); ++i) {
      EXPECT_EQ(PatternIndex(pictures[i], 16), static_cast<int>(i));
    }
  }
  done = true;
  reader.join();
}

}  // namespace
}  // namespace qvsp_test
