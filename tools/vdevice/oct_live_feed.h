// The live video of a virtual device on the OCT transport. One thread sends,
// for every device channel and stream that has a viewer, the next picture
// of the clip and its audio: paced at the clip's frame rate, or as fast as
// the links take them for an unpaced device. Every viewer of a channel and
// stream sees the same pictures; a new viewer, or one asking for a key
// frame, makes that stream jump to the clip's next key frame. A device fed
// by a camera sends the camera's packets as they arrive instead (a stream
// waiting for a key frame skips the pictures before it), and closes every
// live stream when the camera's stream ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "octc_device/device.h"
#include "vdevice/outbox.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class OctLiveFeed {
 public:
  OctLiveFeed(VirtualDevice& device, OctOutbox& out);
  ~OctLiveFeed();  // stops and joins the thread
  OctLiveFeed(const OctLiveFeed&) = delete;
  OctLiveFeed& operator=(const OctLiveFeed&) = delete;

  void Start();
  void Stop();

  void AddViewer(octc::device::SubRef ref, int32_t channel, int32_t stream);
  void RemoveViewer(octc::device::SubRef ref);
  // false when ref is no viewer.
  bool RequestKeyFrame(octc::device::SubRef ref);
  // Pictures sent so far (one per picture, however many viewers it reached).
  uint64_t pictures_sent() const;

 private:
  using Key = std::pair<int32_t, int32_t>;  // channel, stream
  struct Feed {
    int viewers = 0;
    uint64_t index = 0;
    bool key_next = true;
  };
  struct Picture {
    Key key;
    uint64_t index;
  };
  void Run();
  void RunSource(LiveSource& source);
  void SendSource(const LiveSource::Packet& p, uint32_t ms);
  void Send(const Picture& p);
  void CountAndFault();
  uint64_t NextKeyFrom(uint64_t index) const;

  VirtualDevice& device_;
  OctOutbox& out_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::map<Key, Feed> feeds_;
  std::map<std::pair<uint64_t, int32_t>, Key> viewers_;
  uint64_t sent_ = 0;
  uint64_t since_fault_ = 0;
  std::thread thread_;
};

}  // namespace vdevice
