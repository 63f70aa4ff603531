// A camera feeding a virtual device: a thread reads the source URL
// (SourceInput), keeps the last minutes of what it received (the device's
// recording of the day) and hands each packet to the live feeds. When the
// source stops it marks the stream's end, for the feeds to end their links,
// and connects again after 1 s, 2 s, 4 s ... up to 30 s between tries (back
// to 1 s once a connection has delivered video).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vdevice/media_clip.h"
#include "vdevice/source_input.h"

namespace vdevice {

class LiveSource {
 public:
  struct Packet {
    uint64_t seq = 0;
    bool audio = false;
    bool key = false;
    std::chrono::system_clock::time_point at;  // when it arrived
    std::vector<uint8_t> data;
  };
  using PacketPtr = std::shared_ptr<const Packet>;

  // Starts reading at once.
  LiveSource(std::string url, bool udp, int keep_minutes);
  ~LiveSource();  // stops and joins the thread
  LiveSource(const LiveSource&) = delete;
  LiveSource& operator=(const LiveSource&) = delete;

  // Waits up to `timeout` for the first connection that delivers a key
  // frame: the format the device announces from then on.
  bool WaitFormat(std::chrono::milliseconds timeout, SourceFormat* out) const;

  // A reader of the live stream: the packets after the last it took.
  struct Cursor {
    uint64_t seq = 0;   // last packet taken; 0: none yet (starts at the newest)
    uint64_t ends = 0;  // stream ends seen
  };
  // Waits up to `wait` for packets after the cursor. `ended` tells that the
  // stream ended (the source stopped) since the cursor's last call.
  std::vector<PacketPtr> Next(Cursor* cursor, std::chrono::milliseconds wait, bool* ended) const;
  // Wakes every waiting reader (the device stops).
  void WakeReaders();

  // The kept minutes from their first key frame as a clip (pictures with
  // the audio that follows each), and when its first picture arrived;
  // null when nothing is kept.
  std::shared_ptr<const MediaClip> Kept(std::chrono::system_clock::time_point* start) const;

 private:
  void Run();
  // Keeps and hands out a packet; `first` is the format of a connection's
  // first key frame.
  void Publish(SourcePacket&& p, const SourceFormat* first);
  void EndStream();
  bool Sleep(std::chrono::milliseconds d);

  const std::string url_;
  const bool udp_;
  const std::chrono::minutes keep_;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool stop_ = false;
  bool has_format_ = false;
  SourceFormat format_;
  std::deque<PacketPtr> kept_;
  uint64_t next_seq_ = 1;
  uint64_t ends_ = 0;
  uint64_t wake_ = 0;
  std::thread thread_;
};

}  // namespace vdevice
