// The overflow policy of the frame queue: whole groups of pictures go, the
// decoder always resumes at a key frame, and every discarded frame counts.
#include "frame_queue.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <thread>

namespace qvsp {
namespace {

// A frame whose payload bytes all hold its name, so that the order of what
// is taken can be checked: upper case a key frame, lower case another video
// frame, a digit audio.
QueuedFrame Frame(char name, int size = 1) {
  PacketPtr packet(av_packet_alloc());
  EXPECT_EQ(av_new_packet(packet.get(), size), 0);
  std::memset(packet->data, name, static_cast<size_t>(size));
  const FrameKind kind = std::isdigit(name) ? FrameKind::kAudio : FrameKind::kVideo;
  return QueuedFrame{std::move(packet), FrameClass{kind, std::isupper(name) != 0}};
}

// Adds a frame of `size` bytes for each name; what became of each:
// (q)ueued, (d)ropped, (r)efused or (s)topped.
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
  size_t frames = 0;
  size_t bytes = 0;
  for (queue.Depth(frames, bytes); frames > 0; queue.Depth(frames, bytes)) {
    names += static_cast<char>(queue.Take()->packet->data[0]);
  }
  return names;
}

TEST(FrameQueue, OverflowDiscardsWholeGroupsAndCountsThem) {
  StreamCounters counters;
  FrameQueue queue(QueueLimits{4, 1000}, counters);
  // Video before the stream's first key frame cannot be decoded: it is
  // discarded without counting as a drop.
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

  // Full of one group and no later key frame: everything goes and video is
  // discarded up to the next key frame; audio still passes.
  EXPECT_EQ(Add(queue, "Kpqrst"), "qqqqdd");
  EXPECT_EQ(Add(queue, "3Vw"), "qqq");
  EXPECT_EQ(TakeAll(queue), "3Vw");
  EXPECT_EQ(counters.videoDropped.load(), 5u + 6u);
  EXPECT_EQ(counters.overflows.load(), 3u);
  EXPECT_EQ(counters.videoQueued.load(), 1u + 5u + 4u + 4u + 2u);
  EXPECT_EQ(counters.audioQueued.load(), 1u + 2u);

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
  size_t frames = 0;
  size_t bytes = 0;
  queue.Depth(frames, bytes);
  EXPECT_EQ(frames, 0u);
  EXPECT_EQ(bytes, 0u);
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
