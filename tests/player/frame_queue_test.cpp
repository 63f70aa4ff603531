// The overflow policy of the frame queue: whole groups of pictures go, the
// decoder always resumes at a key frame, and every discarded frame counts.
#include "frame_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace qvsp {
namespace {

// A frame whose single payload byte names it, so that the order of what is
// taken can be checked.
QueuedFrame Frame(char name, FrameKind kind, bool key, int size = 1) {
  PacketPtr packet(av_packet_alloc());
  EXPECT_EQ(av_new_packet(packet.get(), size), 0);
  std::memset(packet->data, name, static_cast<size_t>(size));
  return QueuedFrame{std::move(packet), FrameClass{kind, key}};
}
QueuedFrame Key(char name, int size = 1) {
  return Frame(name, FrameKind::kVideo, true, size);
}
QueuedFrame Inter(char name, int size = 1) {
  return Frame(name, FrameKind::kVideo, false, size);
}
QueuedFrame Audio(char name) {
  return Frame(name, FrameKind::kAudio, false);
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
  EXPECT_EQ(queue.Add(Inter('x')), FrameQueue::Push::kDropped);
  EXPECT_EQ(queue.Add(Audio('y')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Key('Z')), FrameQueue::Push::kQueued);
  EXPECT_EQ(TakeAll(queue), "yZ");
  EXPECT_EQ(counters.videoDropped.load(), 0u);
  // Full with the tail of one group and the start of the next: the tail goes.
  EXPECT_EQ(queue.Add(Inter('a')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Inter('b')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Key('C')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Inter('d')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Inter('e')), FrameQueue::Push::kQueued);
  EXPECT_EQ(TakeAll(queue), "Cde");
  EXPECT_EQ(counters.overflows.load(), 1u);
  EXPECT_EQ(counters.videoDropped.load(), 2u);
  EXPECT_EQ(counters.bytesDropped.load(), 2u);

  // Full of one group: a new key frame replaces all of it, audio included.
  for (char c : std::string("Kpqa")) {
    queue.Add(c == 'K' ? Key(c) : c == 'a' ? Audio(c) : Inter(c));
  }
  EXPECT_EQ(queue.Add(Key('L')), FrameQueue::Push::kQueued);
  EXPECT_EQ(TakeAll(queue), "L");
  EXPECT_EQ(counters.videoDropped.load(), 5u);
  EXPECT_EQ(counters.audioDropped.load(), 1u);

  // Full of one group and no later key frame: everything goes and video is
  // discarded up to the next key frame; audio still passes.
  for (char c : std::string("Kpqr")) queue.Add(c == 'K' ? Key(c) : Inter(c));
  EXPECT_EQ(queue.Add(Inter('s')), FrameQueue::Push::kDropped);
  EXPECT_EQ(queue.Add(Inter('t')), FrameQueue::Push::kDropped);
  EXPECT_EQ(queue.Add(Audio('u')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Key('V')), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Inter('w')), FrameQueue::Push::kQueued);
  EXPECT_EQ(TakeAll(queue), "uVw");
  EXPECT_EQ(counters.videoDropped.load(), 5u + 6u);
  EXPECT_EQ(counters.overflows.load(), 3u);
  EXPECT_EQ(counters.videoQueued.load(), 1u + 5u + 4u + 4u + 2u);
  EXPECT_EQ(counters.audioQueued.load(), 1u + 2u);

  // A queue holding only audio loses it, but video continuity is kept.
  for (char c : std::string("abcd")) queue.Add(Audio(c));
  EXPECT_EQ(queue.Add(Inter('x')), FrameQueue::Push::kQueued);
  EXPECT_EQ(TakeAll(queue), "x");
}

TEST(FrameQueue, ByteLimitRefusalAndStop) {
  StreamCounters counters;
  FrameQueue queue(QueueLimits{100, 10}, counters);
  EXPECT_EQ(queue.Add(Key('A', 11)), FrameQueue::Push::kRefused);
  EXPECT_EQ(counters.refused.load(), 1u);
  EXPECT_EQ(queue.Add(Key('A', 4)), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Inter('b', 4)), FrameQueue::Push::kQueued);
  EXPECT_EQ(queue.Add(Inter('c', 4)), FrameQueue::Push::kDropped);  // 12 bytes > 10
  EXPECT_EQ(counters.bytesDropped.load(), 12u);
  size_t frames = 0;
  size_t bytes = 0;
  queue.Depth(frames, bytes);
  EXPECT_EQ(frames, 0u);
  EXPECT_EQ(bytes, 0u);
  queue.SetLimits(QueueLimits{100, 100});
  EXPECT_EQ(queue.Add(Key('D', 50)), FrameQueue::Push::kQueued);

  EXPECT_EQ(queue.Take()->packet->size, 50);

  // Stop wakes a waiting taker and discards what is queued.
  std::thread taker([&] { EXPECT_FALSE(queue.Take().has_value()); });
  queue.Stop();
  taker.join();
  EXPECT_EQ(queue.Add(Key('E')), FrameQueue::Push::kStopped);
}

}  // namespace
}  // namespace qvsp
