// The live video of a virtual device on the Nxl transport. One thread sends
// every logged-in client its next frame and that frame's audio on each tick
// of the clip's frame rate, all clients in one pass as a recorder serving
// many channels does (or, with pace=spread, evenly over the tick, as
// free-running cameras would), or as a camera feeding the device sends them; for an unpaced device
// it goes round the clients as fast as their links take the frames. A frame and its audio are
// encoded once and reach each client with one write.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "qvc/device/device_server.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class NxlSession;

class NxlLiveFeed {
 public:
  explicit NxlLiveFeed(const VirtualDevice& device) : device_(device) {}
  ~NxlLiveFeed();  // stops and joins the thread
  NxlLiveFeed(const NxlLiveFeed&) = delete;
  NxlLiveFeed& operator=(const NxlLiveFeed&) = delete;

  void Start();
  void Stop();
  void Add(qvc::device::ClientId id, std::shared_ptr<NxlSession> session);
  void Remove(qvc::device::ClientId id);
  // A client's live stream was switched on: the next tick sends to it.
  void Wake();

 private:
  void Run();
  // A device fed by a camera: every packet goes to every client as it
  // arrives, and the camera's stream ending closes every link.
  void RunSource(LiveSource& source);
  // The encoded live frame of an index and its audio, built on first use
  // and kept (feed thread only): every client gets the same bytes.
  const std::vector<uint8_t>& Encoded(uint64_t index);

  const VirtualDevice& device_;
  std::vector<std::vector<uint8_t>> encoded_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool woken_ = false;
  std::map<qvc::device::ClientId, std::shared_ptr<NxlSession>> sessions_;
  std::thread thread_;
};

}  // namespace vdevice
