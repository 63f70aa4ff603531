// A frame on its way into the decoder: classes of crafted frames that imitate start codes, the
// record's codec numbers, the queue's overflow policy (whole groups go, each discarded one counts).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_classifier.h"
#include "frame_queue.h"
#include "qcsdk/base/bytes.h"

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
  // An IMA ADPCM block (predictor 0, step 1) opens 00 00 01 00, then near-silence brings zero runs.
  const Bytes adpcm = {0x00, 0x00, 0x01, 0x00, 0x01, 0x10, 0x00, 0x00, 0x00, 0x08};
  for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265, VideoCodec::kMpeg4Part2})
    EXPECT_EQ(Classify(FrameClassifier(codec, true), adpcm).kind, FrameKind::kAudio);
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
  // H.264: IDR alone is key, non-IDR not; NAL type 0 or a forbidden bit: no video; trailing 0s ok.
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

TEST(StreamDescription, CodecNumbersOfTheRecord) {
  const std::pair<uint16_t, std::optional<VideoCodec>> videos[] = {
      {0, VideoCodec::kMpeg4Part2}, {1, VideoCodec::kH264},
      {2, VideoCodec::kH265},       {3, std::nullopt},
      {0x0101, std::nullopt},       {0xFFFF, std::nullopt}};
  // Audio present, audio codec, what they make.
  const std::tuple<uint16_t, uint16_t, std::optional<AudioCodec>> audios[] = {
      {1, 0, AudioCodec::kImaAdpcm}, {1, 1, AudioCodec::kG711ALaw}, {1, 2, AudioCodec::kG711MuLaw},
      {1, 3, AudioCodec::kAac},      {1, 4, std::nullopt},          {1, 0x0103, std::nullopt},
      {0, 3, std::nullopt},          {2, 3, std::nullopt}};
  std::vector<uint8_t> record(kStreamInfoSize, 0);
  for (auto [at, value] : {std::pair<size_t, uint16_t>{44, 1920}, {46, 1080}, {54, 48000}, {56, 2}})
    qcsdk::StoreLe16(&record[at], value);
  for (const auto& [video, videoCodec] : videos) {
    for (const auto& [present, codec, audioCodec] : audios) {
      for (auto [at, value] : {std::pair<size_t, uint16_t>{38, video}, {40, present}, {52, codec}})
        qcsdk::StoreLe16(&record[at], value);
      const auto d = ParseStreamInfo(record.data(), kStreamInfoSize);
      ASSERT_EQ(d.has_value(), videoCodec.has_value()) << video;
      if (!d) continue;
      EXPECT_EQ(
          std::tuple(d->video, d->width, d->audioPresent, d->audio, d->sampleRate, d->channels),
          std::tuple(*videoCodec, 1920, present == 1, audioCodec, audioCodec ? 48000 : 8000,
                     audioCodec ? 2 : 1))
          << video << "/" << present << "/" << codec;
    }
  }
  EXPECT_FALSE(ParseStreamInfo(nullptr, kStreamInfoSize));
  EXPECT_FALSE(ParseStreamInfo(record.data(), kStreamInfoSize - 1));
}

// A frame whose payload bytes all hold its name, so that the order of what is taken can be checked:
// upper case a key frame, lower case another video frame, a digit audio.
QueuedFrame Frame(char name, int size = 1) {
  PacketPtr packet(av_packet_alloc());
  EXPECT_EQ(av_new_packet(packet.get(), size), 0);
  std::memset(packet->data, name, static_cast<size_t>(size));
  const FrameKind kind = std::isdigit(name) ? FrameKind::kAudio : FrameKind::kVideo;
  return QueuedFrame{std::move(packet), FrameClass{kind, std::isupper(name) != 0}};
}

// Adds a frame of `size` bytes per name; each (q)ueued, (d)ropped, (r)efused or (s)topped.
std::string Add(FrameQueue& queue, const std::string& names, int size = 1) {
  std::string results;
  for (char name : names) {
    switch (queue.Add(Frame(name, size))) {
      case FrameQueue::Push::kQueued: results += 'q'; break;
      case FrameQueue::Push::kDropped: results += 'd'; break;
      case FrameQueue::Push::kRefused: results += 'r'; break;
      case FrameQueue::Push::kStopped: results += 's'; break;
    }
  }
  return results;
}

std::string TakeAll(FrameQueue& queue) {
  std::string names;
  size_t frames = 0, bytes = 0;
  for (queue.Depth(frames, bytes); frames > 0; queue.Depth(frames, bytes))
    names += static_cast<char>(queue.Take()->packet->data[0]);
  return names;
}

TEST(FrameQueue, OverflowDiscardsWholeGroupsAndCountsThem) {
  StreamCounters counters;
  FrameQueue queue(QueueLimits{4, 1000}, counters);
  // Video before the first key frame cannot be decoded: discarded, not counted as a drop.
  EXPECT_EQ(Add(queue, "x1Z"), "dqq");
  EXPECT_EQ(TakeAll(queue), "1Z");
  EXPECT_EQ(counters.videoDropped.load(), 0u);
  // Full with the tail of one group and the start of the next: the tail goes.
  EXPECT_EQ(Add(queue, "abCde"), "qqqqq");
  EXPECT_EQ(TakeAll(queue), "Cde");
  EXPECT_EQ(counters.overflows.load(), 1u);
  EXPECT_EQ(counters.videoDropped.load(), 2u);
  EXPECT_EQ(counters.bytesDropped.load(), 2u);

  // Full of one group: a new key frame replaces all of it, audio included.
  EXPECT_EQ(Add(queue, "Kpq1L"), "qqqqq");
  EXPECT_EQ(TakeAll(queue), "L");
  EXPECT_EQ(counters.videoDropped.load(), 5u);
  EXPECT_EQ(counters.audioDropped.load(), 1u);

  // Full of one group, no later key frame: all goes, video dropped to the next key; audio passes.
  EXPECT_EQ(Add(queue, "Kpqrst"), "qqqqdd");
  EXPECT_EQ(Add(queue, "3Vw"), "qqq");
  EXPECT_EQ(TakeAll(queue), "3Vw");
  EXPECT_EQ(std::tuple(counters.videoDropped.load(), counters.overflows.load(),
                       counters.videoQueued.load(), counters.audioQueued.load()),
            std::tuple(5u + 6u, 3u, 1u + 5u + 4u + 4u + 2u, 1u + 2u));

  // A queue holding only audio loses it, but video continuity is kept.
  EXPECT_EQ(Add(queue, "1234x"), "qqqqq");
  EXPECT_EQ(TakeAll(queue), "x");
}

TEST(FrameQueue, ByteLimitRefusalAndStop) {
  StreamCounters counters;
  FrameQueue queue(QueueLimits{100, 10}, counters);
  EXPECT_EQ(Add(queue, "A", 11), "r");
  EXPECT_EQ(counters.refused.load(), 1u);
  EXPECT_EQ(Add(queue, "Abc", 4), "qqd");  // 12 bytes > 10
  EXPECT_EQ(counters.bytesDropped.load(), 12u);
  size_t frames = 1, bytes = 1;
  queue.Depth(frames, bytes);
  EXPECT_EQ(std::pair(frames, bytes), std::pair(size_t{0}, size_t{0}));
  queue.SetLimits(QueueLimits{100, 100});
  EXPECT_EQ(Add(queue, "D", 50), "q");

  EXPECT_EQ(queue.Take()->packet->size, 50);

  // Stop wakes a waiting taker and discards what is queued.
  std::thread taker([&] { EXPECT_FALSE(queue.Take().has_value()); });
  queue.Stop();
  taker.join();
  EXPECT_EQ(Add(queue, "E"), "s");
}

}  // namespace
}  // namespace qvsp
