// Decoding through the C interface: codecs, sizes, pixels, order, plane lifetime, audio.
#include "player_fixture.h"
#include "support/tone_encoder.h"

namespace qvsp_test {
namespace {

constexpr std::array<uint8_t, 3> kFlat = {81, 90, 240};

void ExpectFlat(const Picture& p) {
  ASSERT_FALSE(p.ySamples.empty());
  for (uint8_t y : p.ySamples) EXPECT_NEAR(y, kFlat[0], 3);
  for (uint8_t u : p.uSamples) EXPECT_NEAR(u, kFlat[1], 3);
  for (uint8_t v : p.vSamples) EXPECT_NEAR(v, kFlat[2], 3);
}

class PlayerDecode : public PlayerTest, public ::testing::WithParamInterface<PatternCodec> {
 protected:
  void SetUp() override {
    if (!vdevice::PatternEncoderAvailable(GetParam())) GTEST_SKIP() << "encoder missing";
    PlayerTest::SetUp();
  }
};

TEST_P(PlayerDecode, EveryFrameInOrderAtItsSizeWithPlanesKeptUntilTheNext) {
  const PatternCodec codec = GetParam();
  const auto packets = Encode(codec, 320, 240, 30, 10);
  ASSERT_EQ(packets.size(), 30u);
  const StreamRecord record = MakeRecord(codec, 320, 240);
  const int32_t player = OpenPlayer(record);
  ASSERT_TRUE(Play(player, packets, 30));

  const auto pictures = m_log.Pictures(player);
  ASSERT_EQ(pictures.size(), 30u);
  for (size_t i = 0; i < pictures.size(); ++i) {
    EXPECT_EQ(std::pair(pictures[i].width, pictures[i].height), std::pair(320, 240));
    double error = 0;
    EXPECT_EQ(PatternIndex(pictures[i], 30, &error), static_cast<int>(i));
    EXPECT_LT(error, 12.0) << "picture " << i;
  }
  QVSP_Statistics stats = Stats(player);
  EXPECT_EQ(std::tuple(stats.videoFramesQueued, stats.picturesReported), std::tuple(30u, 30u));
  EXPECT_EQ(stats.audioFramesQueued + stats.videoFramesDropped + stats.overflows, 0u);
  EXPECT_EQ(stats.decodeErrors + stats.framesRefused, 0u);
  EXPECT_EQ(QVSP_RefreshWindow(player), 1);

  // The last picture's planes outlive its callback, and the stream's close.
  const Picture& last = pictures.back();
  EXPECT_EQ(PlaneChecksum(last), last.checksum);
  ASSERT_EQ(QVSP_CloseStream(player), 1);
  EXPECT_EQ(PlaneChecksum(last), last.checksum);
  int32_t w = 0, h = 0;
  EXPECT_EQ(QVSP_GetBitmapSize(player, &w, &h), 1);
  EXPECT_EQ(std::pair(w, h), std::pair(320, 240));
  EXPECT_EQ(Stats(player).picturesReported, 30u) << "counters kept after the close";

  // A new stream starts without a picture and with fresh counters; a change of picture size inside
  // a stream shows in the reported size; a flat colour comes back within tolerance.
  m_log.Forget(player);
  ASSERT_EQ(QVSP_OpenStream(player, record.data(), 96), 1);
  EXPECT_EQ(QVSP_GetBitmapSize(player, &w, &h), 0);
  EXPECT_EQ(QVSP_RefreshWindow(player), 0);
  EXPECT_EQ(Stats(player).picturesReported, 0u);
  WriteAll(player, Encode(codec, 176, 144, 3, 3, kFlat));
  ASSERT_TRUE(Play(player, Encode(codec, 320, 240, 3, 3), 36));
  const auto more = m_log.Pictures(player);
  EXPECT_EQ(std::tuple(more[30].width, more[32].height, more[33].width), std::tuple(176, 144, 320));
  for (int i = 30; i < 33; ++i) ExpectFlat(more[i]);
  EXPECT_EQ(QVSP_GetBitmapSize(player, &w, &h), 1);
  EXPECT_EQ(h, 240);
}

INSTANTIATE_TEST_SUITE_P(Codecs, PlayerDecode,
                         ::testing::Values(PatternCodec::kMpeg4, PatternCodec::kH264,
                                           PatternCodec::kH265),
                         [](const auto& info) {
                           return std::string(vdevice::PatternEncoderName(info.param));
                         });

using PlayerColour = PlayerTest;

TEST_F(PlayerColour, OtherChromaSamplingArrivesAs420) {
  if (!vdevice::PatternEncoderAvailable(PatternCodec::kH264)) GTEST_SKIP();
  for (auto chroma : {vdevice::PatternChroma::k422, vdevice::PatternChroma::k444}) {
    const int32_t player = OpenPlayer(MakeRecord(PatternCodec::kH264, 96, 64));
    ASSERT_TRUE(Play(player, Encode(PatternCodec::kH264, 96, 64, 3, 25, kFlat, chroma), 3));
    for (const Picture& p : m_log.Pictures(player)) {
      EXPECT_GE(p.uvStride, 48);
      ExpectFlat(p);
    }
  }
}

using PlayerAudio = PlayerTest;

// Every codec after a broken first block; an unknown codec number leaves the video without audio.
TEST_F(PlayerAudio, AudioFramesBesideVideoAreToldApartAndDecoded) {
  if (!vdevice::PatternEncoderAvailable(PatternCodec::kH264)) GTEST_SKIP() << "encoder missing";
  using qcsdk::test::ToneCodec;
  const auto video = Encode(PatternCodec::kH264, 160, 120, 12, 4);
  for (const auto& [tone, recordCodec] :
       {std::pair{ToneCodec::kImaAdpcm, 0}, std::pair{ToneCodec::kG711ALaw, 1},
        std::pair{ToneCodec::kG711MuLaw, 2}, std::pair{ToneCodec::kAac, 3},
        std::pair{ToneCodec::kG711ALaw, 9}}) {
    SCOPED_TRACE(qcsdk::test::ToneEncoderName(tone));
    const qcsdk::test::ToneOptions options{
        .codec = tone, .sampleRate = tone == ToneCodec::kAac ? 16000 : 8000, .packets = 24};
    const auto audio = qcsdk::test::EncodeTone(options);
    const int32_t player =
        OpenPlayer(MakeRecord(PatternCodec::kH264, 160, 120, recordCodec, options.sampleRate, 1));
    const uint8_t broken[] = {0xFF, 0xF1, 0x00, 0x00, 0x01};
    ASSERT_EQ(QVSP_WriteToStreamOneFrame(player, broken, sizeof broken), 1);
    // Two audio frames before each video frame: all audio is decoded by the last picture.
    for (size_t i = 0; i < video.size(); ++i) {
      ASSERT_EQ(WriteFrame(player, audio[2 * i]), 1);
      ASSERT_EQ(WriteFrame(player, audio[2 * i + 1]), 1);
      ASSERT_EQ(WriteFrame(player, video[i].data), 1);
    }
    ASSERT_TRUE(m_log.WaitFor(player, video.size(), Timeout()));
    const QVSP_Statistics stats = Stats(player);
    EXPECT_EQ(stats.videoFramesQueued, video.size());
    EXPECT_EQ(stats.picturesReported, video.size());
    const bool known = recordCodec != 9;
    EXPECT_EQ(stats.audioFramesQueued, audio.size() + 1);
    EXPECT_EQ(stats.audioFramesDecoded + stats.decodeErrors, known ? audio.size() + 1 : 0);
    EXPECT_GE(stats.audioFramesDecoded, known ? audio.size() : 0);
    EXPECT_EQ(stats.audioAbsent, known ? 0u : 1u);
  }
}

}  // namespace
}  // namespace qvsp_test
