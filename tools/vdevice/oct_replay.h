// One playback of a recording on the OCT transport: its thread sends the
// media information, then the pictures and audio paced at the recording's
// rate times the speed, and at the end the device's end kind. Speed and
// position change from the engine's session thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "octc_device/device.h"
#include "vdevice/outbox.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class OctReplay {
 public:
  OctReplay(VirtualDevice& device, OctOutbox& out, octc::device::SubRef ref, Recording recording);
  ~OctReplay();  // stops and joins the thread
  OctReplay(const OctReplay&) = delete;
  OctReplay& operator=(const OctReplay&) = delete;

  void Start();
  void RequestStop();
  // The thread has ended (stopped, or the playback ended for good).
  bool finished() const { return finished_; }

  // 1 normal; 2, 4, 8, 16 faster; -2 .. -16 slower; 0 pauses. Returns 0,
  // or OCTC_ERR_FAILED for a speed outside -16..16.
  int32_t SetSpeed(int32_t speed);
  // Goes on from the key frame at or before position_ms; a playback that
  // reached its end starts again. OCTC_ERR_FAILED for a negative position.
  int32_t Skip(int32_t position_ms);

 private:
  using Clock = std::chrono::steady_clock;
  void Run();
  // Sends picture pos; false when the client is gone.
  bool SendPicture(uint32_t pos);
  // Sends the end kind; true when the playback is over for good.
  bool SendEnd();

  VirtualDevice& device_;
  OctOutbox& out_;
  const octc::device::SubRef ref_;
  const Recording recording_;

  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  int32_t speed_ = 1;
  uint32_t pos_ = 0;
  bool at_end_ = false;
  Clock::time_point due_{};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace vdevice
