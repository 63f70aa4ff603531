// Handles, records, display and sound settings, hostile input, threads stopped in their callbacks.
#include <climits>
#include <future>
#include <random>

#include "player_fixture.h"

namespace qvsp_test {
namespace {

using PlayerApi = PlayerTest;

TEST_F(PlayerApi, HandlesAreBoundedReusedAndInvalidAfterRelease) {
  ASSERT_EQ(QVSP_ReleaseSDK(), 1);
  EXPECT_LT(QVSP_CreatePlayer(), 0) << "no player before InitSDK";
  ASSERT_EQ(QVSP_InitSDK(), 1);

  std::vector<int32_t> handles;
  for (int32_t h = QVSP_CreatePlayer(); h >= 0; h = QVSP_CreatePlayer()) handles.push_back(h);
  ASSERT_EQ(handles.size(), 1024u);
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end());
  EXPECT_EQ(handles.front(), 0);

  // A released handle names nothing until it is given out again.
  EXPECT_EQ(QVSP_ReleasePlayer(17), 1);
  EXPECT_EQ(QVSP_ReleasePlayer(17), 0);
  EXPECT_EQ(QVSP_CloseStream(17), 0);
  EXPECT_EQ(QVSP_CreatePlayer(), 17);
  EXPECT_LT(QVSP_CreatePlayer(), 0);

  // ReleaseSDK releases every player.
  ASSERT_EQ(QVSP_ReleaseSDK(), 1);
  int32_t w = 5, h = 6;
  for (int32_t handle : {0, 17, 1023, -1, 1024, INT_MAX, INT_MIN}) {
    EXPECT_EQ(QVSP_ReleasePlayer(handle), 0);
    const StreamRecord record = MakeRecord(PatternCodec::kH264, 64, 64);
    EXPECT_EQ(QVSP_OpenStream(handle, record.data(), 96), 0);
    EXPECT_EQ(QVSP_WriteToStreamOneFrame(handle, record.data(), 96), 0);
    EXPECT_EQ(QVSP_SetVideoPreview(handle, &w, nullptr, 1), 0);
    EXPECT_EQ(QVSP_SetAudioPreview(handle, &w, 1), 0);
    EXPECT_EQ(QVSP_RefreshWindow(handle), 0);
    uint32_t times[1];
    EXPECT_EQ(QVSP_GetDrawTimes(handle, times, 1), 0);
    EXPECT_EQ(QVSP_GetBitmapSize(handle, &w, &h), 0);
    QVSP_Statistics stats{};
    EXPECT_EQ(QVSP_GetStatistics(handle, &stats), 0);
    EXPECT_EQ(QVSP_SetQueueLimits(handle, 10, 1000), 0);
  }
  EXPECT_EQ(std::pair(w, h), std::pair(5, 6)) << "left alone";
  ASSERT_EQ(QVSP_InitSDK(), 1);
}

// Answers of a player without a picture; records of another size or codec refused, closing the
// stream that was open; frames beyond the limits refused; hostile frames accepted and decoded past.
TEST_F(PlayerApi, RefusalsAnswersWithoutAPictureAndRecoveryFromHostileFrames) {
  if (!vdevice::PatternEncoderAvailable(PatternCodec::kH264)) GTEST_SKIP() << "encoder missing";
  const int32_t player = QVSP_CreatePlayer();
  ASSERT_GE(player, 0);
  int window = 0;
  const QVSP_Rect rect{0, 0, 320, 240};
  // Not a window of any X server (the display cases run under Xvfb).
  EXPECT_EQ(QVSP_SetVideoPreview(player, &window, &rect, 1), 0);
  EXPECT_EQ(QVSP_SetVideoPreview(player, &window, nullptr, 0), 1);
  EXPECT_EQ(QVSP_RefreshWindow(player), 0);
  int32_t w = 0, h = 0;
  EXPECT_EQ(QVSP_GetBitmapSize(player, &w, &h), 0);
  EXPECT_EQ(QVSP_GetBitmapSize(player, nullptr, &h), 0);
  EXPECT_EQ(QVSP_GetStatistics(player, nullptr), 0);
  EXPECT_EQ(QVSP_SetQueueLimits(player, 0, 1000), 0);
  EXPECT_EQ(QVSP_SetQueueLimits(player, 10, -1), 0);
  StreamRecord record = MakeRecord(PatternCodec::kH264, 160, 120);
  for (int32_t length : {95, 97, -96, 0})
    EXPECT_EQ(QVSP_OpenStream(player, record.data(), length), 0) << length;
  EXPECT_EQ(QVSP_OpenStream(player, nullptr, 96), 0);
  const auto packets = Encode(PatternCodec::kH264, 160, 120, 10, 5);
  EXPECT_EQ(WriteFrame(player, packets[0].data), 0) << "no stream open";
  ASSERT_EQ(QVSP_OpenStream(player, record.data(), 96), 1);
  ASSERT_EQ(QVSP_SetQueueLimits(player, 1000, 1 << 20), 1);
  // Refused outright: null data, no length, lengths beyond the limit.
  const uint8_t byte = 0;
  EXPECT_EQ(QVSP_WriteToStreamOneFrame(player, nullptr, 100), 0);
  for (int32_t length : {0, -5, INT_MAX, (1 << 20) + 1})
    EXPECT_EQ(QVSP_WriteToStreamOneFrame(player, &byte, length), 0) << length;
  // Garbage behind start codes, cut frames, frames of another codec: accepted, decoded past.
  std::mt19937 random(1234);
  std::vector<std::vector<uint8_t>> hostile = {{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}};
  for (int i = 0; i < 20; ++i) {
    std::vector<uint8_t> junk = {0, 0, 0, 1, static_cast<uint8_t>(0x61 + i % 5)};
    junk.resize(5 + random() % 3000);
    for (size_t k = 5; k < junk.size(); ++k) junk[k] = static_cast<uint8_t>(random());
    hostile.push_back(junk);
  }
  for (const auto& packet : packets)
    hostile.emplace_back(packet.data.begin(), packet.data.begin() + packet.data.size() / 2);
  for (const auto& packet : Encode(PatternCodec::kH265, 160, 120, 2, 1))
    hostile.push_back(packet.data);
  for (const auto& f : hostile) WriteFrame(player, f);
  // A clean group of pictures afterwards still decodes, to its last picture.
  WriteAll(player, packets);
  const int last = static_cast<int>(packets.size()) - 1;
  ASSERT_TRUE(m_log.WaitFor(
      [&](const std::vector<Picture>& pictures) {
        double error = 0;
        return !pictures.empty() && pictures.back().width == 160 &&
               PatternIndex(pictures.back(), last + 1, &error) == last && error < 12;
      },
      Timeout()));
  const QVSP_Statistics stats = Stats(player);
  EXPECT_EQ(stats.framesRefused, 5u);
  EXPECT_EQ(stats.videoFramesDropped + stats.audioFramesDropped, 0u);
  EXPECT_GT(stats.decodeErrors, 0u);
  record[38] = 3;  // no such video codec
  EXPECT_EQ(QVSP_OpenStream(player, record.data(), 96), 0);
  EXPECT_EQ(WriteFrame(player, packets[0].data), 0);
  EXPECT_EQ(QVSP_CloseStream(player), 1);
}

using PlayerThreads = PlayerTest;

TEST_F(PlayerThreads, ACallbackMayCloseReopenOrReleaseItsPlayerOrTheLibrary) {
  const auto packets = Encode(PatternCodec::kMpeg4, 160, 120, 10, 5);
  const StreamRecord record = MakeRecord(PatternCodec::kMpeg4, 160, 120);
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
  for (size_t i = 0; i < 3; ++i)
    WriteAll(players[i], {packets.begin(), packets.begin() + 5}, /*mayBeRefused=*/true);
  for (auto& d : done) d.get_future().wait();
  // Later frames: refused by the closed and released players, decoded anew by the reopened one.
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(WriteFrame(players[i], packets[5].data), 0);
  ASSERT_TRUE(Play(players[2], packets, 3 + packets.size()));
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(m_log.Count(players[i]), 3u) << i;
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
