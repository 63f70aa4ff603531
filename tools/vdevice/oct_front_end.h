// Serves a VirtualDevice over the OCT transport: an octc::device::DeviceEngine
// whose handler maps every client request onto the device. Live streams come
// from one OctLiveFeed; every playback and download runs on its own thread.
// Recording-state changes (pushed, or made through the RPC "record_set"
// method) reach clients as JSON notices of type 1025; user data travels in
// notices of type 1029 both ways (a client's own comes back to it, data the
// device pushes is addressed to channel 0).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "octc_device/device.h"
#include "vdevice/outbox.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class OctLiveFeed;
class OctReplay;
class OctDownload;

// A playback control a client sent: 's' speed, 'k' skip (milliseconds).
struct OctPlaybackControl {
  char kind = 's';
  int32_t value = 0;
  friend bool operator==(const OctPlaybackControl&, const OctPlaybackControl&) = default;
};

class OctFrontEnd : public octc::device::DeviceHandler {
 public:
  explicit OctFrontEnd(std::shared_ptr<VirtualDevice> device);
  ~OctFrontEnd() override;
  OctFrontEnd(const OctFrontEnd&) = delete;
  OctFrontEnd& operator=(const OctFrontEnd&) = delete;

  // Listens on 127.0.0.1:port (0: the system picks).
  bool Start(uint16_t port);
  void Stop();
  uint16_t port() const;
  size_t client_count() const;
  octc::device::DeviceEngine& engine() { return *engine_; }
  VirtualDevice& device() { return *device_; }
  // Live pictures sent so far, and the playback controls received in order.
  uint64_t live_pictures() const;
  std::vector<OctPlaybackControl> playback_controls() const;

  void OnSessionClosed(uint64_t session) override;
  void OnStreamOpened(octc::device::SubRef ref, int32_t channel, int32_t stream) override;
  void OnStreamClosed(octc::device::SubRef ref) override;
  int32_t OnKeyFrameRequest(octc::device::SubRef ref) override;
  std::vector<octc::device::RecordEntry> OnRecordList(const OctRecQuery& query) override;
  bool OnPlaybackOpen(octc::device::SubRef ref, const std::string& path) override;
  int32_t OnPlaybackSpeed(octc::device::SubRef ref, int32_t speed) override;
  int32_t OnPlaybackSkip(octc::device::SubRef ref, int32_t position_ms) override;
  int32_t OnTalkOpen(octc::device::SubRef ref) override;
  void OnPlaybackClosed(octc::device::SubRef ref) override;
  bool OnDownloadOpen(octc::device::SubRef ref, const std::string& path) override;
  void OnDownloadClosed(octc::device::SubRef ref) override;
  void OnTalkData(octc::device::SubRef ref, const uint8_t* data, size_t size,
                  uint64_t timestamp_ms) override;
  void OnNotice(uint64_t session, int32_t type, const std::string& data) override;
  std::string OnRemoteConfig(uint64_t session, const std::string& request) override;

 private:
  using Key = std::pair<uint64_t, int32_t>;
  void MakeEngine(uint16_t port);
  bool FindRecording(const std::string& path, Recording* out) const;
  void SendRecordingState(int32_t channel, bool recording);
  void NoteRecordSet(const std::string& request, const std::string& answer);
  // A command's result, as a hostile device gives it.
  int32_t Result(int32_t result) const;
  // Ends and forgets the workers of one sub-handle, of one session (handle
  // 0) or all; joins those whose threads have ended (or all, with join_all).
  void Retire(uint64_t session, int32_t handle, bool join_all);

  std::shared_ptr<VirtualDevice> device_;
  std::unique_ptr<octc::device::DeviceEngine> engine_;
  std::unique_ptr<OctOutbox> out_;
  std::unique_ptr<OctLiveFeed> live_;
  mutable std::mutex mutex_;
  std::map<Key, std::unique_ptr<OctReplay>> replays_;
  std::map<Key, std::unique_ptr<OctDownload>> downloads_;
  std::vector<std::unique_ptr<OctReplay>> retired_replays_;
  std::vector<std::unique_ptr<OctDownload>> retired_downloads_;
  std::vector<OctPlaybackControl> controls_;
  int sink_id_ = 0;
};

}  // namespace vdevice
