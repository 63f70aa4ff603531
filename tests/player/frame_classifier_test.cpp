// Video/audio and key-frame classification of crafted frames that imitate
// start codes, and the codec numbers of the stream record.
#include "frame_classifier.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace qvsp {
namespace {

using Bytes = std::vector<uint8_t>;

FrameClass Classify(const FrameClassifier& classifier, const Bytes& frame) {
  return classifier.Classify(frame.data(), frame.size());
}
bool IsVideo(const FrameClassifier& classifier, const Bytes& frame) {
  return classifier.IsVideo(frame.data(), frame.size());
}

TEST(FrameClassifier, AudioThatImitatesStartCodesStaysAudio) {
  // An IMA ADPCM block with predictor 0 and step index 1 opens with
  // 00 00 01 00; near-silent samples bring zero runs after it.
  const Bytes adpcm = {0x00, 0x00, 0x01, 0x00, 0x01, 0x10, 0x00, 0x00, 0x00, 0x08};
  for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265, VideoCodec::kMpeg4Part2}) {
    EXPECT_EQ(Classify(FrameClassifier(codec, true), adpcm).kind, FrameKind::kAudio);
  }
  // Emulation-prevention rule: 00 00 02 never occurs inside H.264/H.265.
  const FrameClassifier h264(VideoCodec::kH264, true);
  EXPECT_FALSE(IsVideo(h264, {0, 0, 0, 1, 0x41, 0x9a, 0x00, 0x00, 0x02, 0x55}));
  // ... but is ordinary data in MPEG-4 Part 2 (a P-VOP here).
  const Bytes vop = {0, 0, 1, 0xB6, 0x51, 0x00, 0x00, 0x02, 0x77};
  const FrameClassifier mpeg4(VideoCodec::kMpeg4Part2, true);
  EXPECT_TRUE(IsVideo(mpeg4, vop));
  EXPECT_FALSE(Classify(mpeg4, vop).key);
  // An MPEG-4 start code value that is not defined.
  EXPECT_FALSE(IsVideo(mpeg4, {0, 0, 1, 0x40, 0x12, 0x34}));
  // H.264: an IDR slice alone is a key frame, a non-IDR slice is not; NAL
  // type 0 and a set forbidden bit are not video; trailing zeros are fine.
  EXPECT_TRUE(Classify(h264, {0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x00}).key);
  EXPECT_EQ(Classify(h264, {0, 0, 1, 0x00, 0x88}).kind, FrameKind::kAudio);
  EXPECT_EQ(Classify(h264, {0, 0, 1, 0xE5, 0x88}).kind, FrameKind::kAudio);
  // H.265 needs a non-zero temporal id and layer 0 in its two-byte header.
  const FrameClassifier h265(VideoCodec::kH265, true);
  EXPECT_TRUE(Classify(h265, {0, 0, 0, 1, 0x2A, 0x01, 0xAF}).key);
  EXPECT_FALSE(IsVideo(h265, {0, 0, 0, 1, 0x2A, 0x00, 0xAF}));
  // Without audio in the stream every frame is video, whatever it holds.
  const FrameClassifier videoOnly(VideoCodec::kH264, false);
  EXPECT_EQ(Classify(videoOnly, adpcm).kind, FrameKind::kVideo);
  EXPECT_FALSE(Classify(videoOnly, adpcm).key);
  EXPECT_EQ(videoOnly.Classify(nullptr, 0).kind, FrameKind::kAudio);
}

// The codec numbers of the 96-byte record: video 0 MPEG-4 Part 2, 1 H.264,
// 2 H.265 (anything else refused); audio 0 IMA ADPCM, 1 G.711 A-law, 2 G.711
// mu-law, 3 AAC (anything else: the video plays without audio).
TEST(StreamDescription, CodecNumbersOfTheRecord) {
  const struct {
    uint16_t video;
    std::optional<VideoCodec> expected;
  } videos[] = {{0, VideoCodec::kMpeg4Part2}, {1, VideoCodec::kH264},
                {2, VideoCodec::kH265},       {3, std::nullopt},
                {0x0101, std::nullopt},       {0xFFFF, std::nullopt}};
  const struct {
    uint16_t present, codec;
    std::optional<AudioCodec> expected;
  } audios[] = {{1, 0, AudioCodec::kImaAdpcm},  {1, 1, AudioCodec::kG711ALaw},
                {1, 2, AudioCodec::kG711MuLaw}, {1, 3, AudioCodec::kAac},
                {1, 4, std::nullopt},           {1, 0x0103, std::nullopt},
                {0, 3, std::nullopt},           {2, 3, std::nullopt}};
  std::vector<uint8_t> record(kStreamInfoSize, 0);
  auto put = [&](size_t at, uint16_t value) {
    record[at] = static_cast<uint8_t>(value);
    record[at + 1] = static_cast<uint8_t>(value >> 8);
  };
  put(44, 1920);
  put(46, 1080);
  put(54, 48000);
  put(56, 2);
  for (const auto& v : videos) {
    for (const auto& a : audios) {
      put(38, v.video);
      put(40, a.present);
      put(52, a.codec);
      const auto d = ParseStreamInfo(record.data(), kStreamInfoSize);
      ASSERT_EQ(d.has_value(), v.expected.has_value()) << v.video;
      if (!d) continue;
      EXPECT_EQ(d->video, *v.expected) << v.video;
      EXPECT_EQ(d->width, 1920);
      EXPECT_EQ(d->audioPresent, a.present == 1) << a.present;
      EXPECT_EQ(d->audio, a.expected) << a.present << "/" << a.codec;
      EXPECT_EQ(d->sampleRate, a.expected ? 48000 : 8000);
      EXPECT_EQ(d->channels, a.expected ? 2 : 1);
    }
  }
  EXPECT_FALSE(ParseStreamInfo(nullptr, kStreamInfoSize));
  EXPECT_FALSE(ParseStreamInfo(record.data(), kStreamInfoSize - 1));
}

}  // namespace
}  // namespace qvsp
