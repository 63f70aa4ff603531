// Decoding threads stopped from inside their own callback: a player's
// stream closed, reopened or released, and the whole library released.
#include <future>

#include "player_fixture.h"

namespace qvsp_test {
namespace {

using PlayerThreads = PlayerTest;

TEST_F(PlayerThreads, ACallbackMayCloseReopenOrReleaseItsPlayerOrTheLibrary) {
  const auto packets = Encode(PatternCodec::kH264, 160, 120, 10, 5);
  const StreamRecord record = MakeRecord(PatternCodec::kH264, 160, 120);
  std::vector<int32_t> players;  // closer, releaser, reopener, library releaser
  for (int i = 0; i < 4; ++i) players.push_back(OpenPlayer(record));
  EXPECT_EQ(DecoderThreads(), 4);
  std::promise<void> done[3];
  std::promise<int> threadsAfterRelease;
  m_log.SetHook([&](const Picture& picture) {
    const int32_t player = picture.player;
    if (m_log.Count(player) != 3) return;
    if (player == players[0]) {
      EXPECT_EQ(QVSP_CloseStream(player), 1);
      done[0].set_value();
    } else if (player == players[1]) {
      EXPECT_EQ(QVSP_ReleasePlayer(player), 1);
      done[1].set_value();
    } else if (player == players[2]) {
      m_log.Forget(player);
      EXPECT_EQ(QVSP_OpenStream(player, record.data(), 96), 1);
      done[2].set_value();
    } else {
      EXPECT_EQ(QVSP_ReleaseSDK(), 1);
      // Only this thread, which ends when the callback returns, is left.
      threadsAfterRelease.set_value(DecoderThreads());
    }
  });
  for (size_t i = 0; i < 3; ++i) {
    WriteAll(players[i], {packets.begin(), packets.begin() + 5}, /*mayBeRefused=*/true);
  }
  for (auto& d : done) d.get_future().wait();
  // Later frames: refused by the closed and the released player, decoded
  // from the start by the reopened one.
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(WriteFrame(players[i], packets[5].data), 0);
  }
  WriteAll(players[2], packets);
  ASSERT_TRUE(m_log.WaitFor(players[2], 3 + packets.size(), Timeout()));
  EXPECT_EQ(m_log.Count(players[0]), 3u);
  EXPECT_EQ(m_log.Count(players[1]), 3u);
  // The last player releases the whole library from its callback.
  WriteAll(players[3], packets, /*mayBeRefused=*/true);
  EXPECT_EQ(threadsAfterRelease.get_future().get(), 1);
  const size_t reported = m_log.Count(players[2]);
  EXPECT_EQ(QVSP_CreatePlayer(), -1) << "released";
  // That thread ends once its callback returns; the next start joins it.
  qcsdk::test::WaitUntil([] { return DecoderThreads() == 0; }, 10000);
  ASSERT_EQ(QVSP_InitSDK(), 1);
  m_log.SetHook(nullptr);
  EXPECT_EQ(m_log.Count(players[2]), reported) << "no picture after the release returned";
}

}  // namespace
}  // namespace qvsp_test
