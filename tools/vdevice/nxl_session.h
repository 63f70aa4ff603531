// One logged-in Nxl client of a virtual device. The front end's live feed
// asks it for its next live frame on every tick (header first); a thread of
// its own, started with the first playback or download, sends the playback
// of a recording (with pause, speeds and seek, then an end kind) and the
// downloads. The front end changes its state from the server's loop thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qvc/device/device_server.h"
#include "vdevice/outbox.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class NxlSession {
 public:
  NxlSession(VirtualDevice& device, NxlOutbox& out, qvc::device::ClientInfo info);
  ~NxlSession();  // stops and joins the thread, if any
  NxlSession(const NxlSession&) = delete;
  NxlSession& operator=(const NxlSession&) = delete;

  const qvc::device::ClientInfo& info() const { return info_; }
  // Sends the stream header of a device without live frames.
  void Start();
  // Asks the thread to end without waiting for it.
  void RequestStop();
  // Asks and waits (not from the session's own thread).
  void Stop();
  bool finished() const { return finished_; }

  void SetLive(bool on);
  // The live frame of that index (or `video` in its place) and its audio,
  // as encoded messages.
  static std::vector<uint8_t> EncodeLive(const VirtualDevice& device, uint64_t index,
                                         const MediaFrame* video = nullptr);
  using Encoded = std::function<const std::vector<uint8_t>&(uint64_t index)>;
  // Sends the next live frame and its audio with one write (the stream
  // header before the first): `encoded` answers EncodeLive, kept by the
  // caller. False when the live stream is off.
  bool SendLiveFrame(const Encoded& encoded);
  // A camera's packet as a live message of its kind (picture or audio).
  static std::vector<uint8_t> EncodePacket(const VirtualDevice& device,
                                           const LiveSource::Packet& p);
  // Sends a camera's packet, encoded by EncodePacket: after the stream
  // header, from a key frame on. False when the live stream is off.
  bool SendSourcePacket(const LiveSource::Packet& p, const std::vector<uint8_t>& encoded);
  // The camera's stream ended: the device closes the link, as a device
  // whose camera stops does.
  void EndLive();
  // Playback: starts (false when the path names no recording), stops
  // without an end message, and the controls.
  bool Play(const std::string& path);
  void StopPlayback();
  void Pause(bool paused);
  void ChangeSpeed(int step);  // +1 faster, -1 slower, 0 normal
  void Seek(int32_t frame);
  // Downloads: false when the path names no recording. Every download
  // asked for ends with exactly one end message: done, failed or aborted,
  // or "stopped" when a stop or the next download ends it first; no block
  // of it follows that message.
  bool Download(const std::string& path);
  void CancelDownload();

 private:
  void Run();
  // Starts the thread for playback and downloads unless it runs.
  void StartThreadLocked();
  void SendPlaybackFrame();
  void RunDownload(const Recording& r, uint64_t generation);
  // Ends the download asked for or running, if any, with "stopped" (under
  // download_send_).
  void EndDownloadLocked();
  bool SendFrame(bool playback, const MediaFrame& frame, const std::vector<uint8_t>& audio);
  std::shared_ptr<const MediaFrame> LiveKeyFrame(uint64_t index) const;

  using Clock = std::chrono::steady_clock;
  VirtualDevice& device_;
  NxlOutbox& out_;
  const qvc::device::ClientInfo info_;

  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool live_on_ = true;
  bool live_header_ = true;
  uint64_t live_index_ = 0;
  uint64_t live_sent_ = 0;
  bool faulted_ = false;

  std::optional<Recording> play_;
  bool play_header_ = false;
  bool paused_ = false;
  int speed_ = 0;  // playback runs 2^speed times the frame rate
  uint32_t play_pos_ = 0;
  Clock::time_point play_due_{};

  // Each request and stop starts a new generation; a download runs while its
  // generation is the current one. download_send_ orders its blocks and end
  // with the "stopped" message of a stop.
  std::mutex download_send_;
  std::optional<Recording> download_;
  uint64_t download_generation_ = 1;
  uint64_t running_generation_ = 0;  // 0: none running

  // True while no thread runs.
  std::atomic<bool> finished_{true};
  std::thread thread_;
};

}  // namespace vdevice
