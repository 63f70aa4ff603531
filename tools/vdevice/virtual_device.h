// A virtual device, independent of the transport that carries it: its
// description, the video it streams, the recordings it keeps per date and
// channel, its RPC state store and its configuration library. Front ends
// (one per transport) turn client requests into calls of this class and
// carry its answers; pushes from the device (user data, recording state)
// reach every front end through its sinks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rpc/rpc_state_store.h"
#include "vdevice/device_settings.h"
#include "vdevice/hostile_answers.h"
#include "vdevice/live_source.h"
#include "vdevice/media_clip.h"

namespace vdevice {

struct Date {
  int year = 0, month = 0, day = 0;
  bool operator==(const Date&) const = default;
};

// Today in local time.
Date Today();

// A local date and time of day.
struct DateTime {
  Date date;
  int hour = 0, minute = 0, second = 0;
};

struct Recording {
  int channel = 0;
  Date date;
  std::string name;    // six characters (the start time hhmmss)
  std::string prefix;  // three characters of the 10-byte entry form
  char drive = 'C';    // drive letter; 'C' + disk number in the 10-byte form
  uint32_t frames = 0;
  std::string path;  // as clients name it in play and download requests
  // A camera's kept minutes, for a device fed by one; null: the device's clip.
  std::shared_ptr<const MediaClip> clip;
};

// What a device pushes to its clients outside any request.
struct DeviceSinks {
  std::function<void(const std::vector<uint8_t>& data)> user_data;
  std::function<void(bool recording)> recording_state;
};

class VirtualDevice {
 public:
  // Encodes (or loads) the media; throws std::runtime_error when it cannot.
  VirtualDevice(DeviceSpec spec, int index);
  ~VirtualDevice();
  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  const DeviceSpec& spec() const { return spec_; }
  int index() const { return index_; }
  const MediaClip& clip() const { return *clip_; }
  // The camera feeding the device; null for a device that loops its clip.
  LiveSource* source() const { return source_.get(); }
  // The mutator of every message, on a hostile device; null otherwise.
  HostileAnswers* hostile() const { return hostile_.get(); }

  // Recordings of a device channel on a date (three a day, today only).
  std::vector<Recording> Recordings(int channel, const Date& date) const;
  // Recordings of a device channel that start from `from` to `to`, both
  // included, whichever days the range spans.
  std::vector<Recording> RecordingsBetween(int channel, const DateTime& from,
                                           const DateTime& to) const;
  // The recording a client names by its path; false when there is none. A
  // hostile device takes any path for its first recording.
  bool FindRecording(int channel, const std::string& path, Recording* out) const;
  // The file-list answer for the days `from` to `to`: 7-byte entries for
  // device types 1 and 5, 10-byte entries otherwise.
  std::vector<uint8_t> FileListAnswer(int channel, const Date& from, const Date& to) const;
  // Picture `i` of a recording (recordings loop the clip), the clip it
  // comes from, and the audio that goes with it.
  const MediaFrame& RecordingFrame(const Recording& r, uint32_t i) const;
  const MediaClip& RecordingClip(const Recording& r) const { return r.clip ? *r.clip : *clip_; }
  std::vector<uint8_t> RecordingAudio(const Recording& r, uint32_t i) const;
  // Audio bytes that go with one picture.
  std::vector<uint8_t> AudioForFrame(uint64_t frame) const;

  // Downloads: a recording as the bytes of its ".sv" file, or as the
  // 96-byte "QFH" record followed by blocks of "QVS" chunks (each block
  // holds whole chunks of at most about block_size bytes).
  std::vector<uint8_t> RawRecordingFile(const Recording& r) const;
  // Its size, without building it.
  size_t RawRecordingSize(const Recording& r) const;
  std::vector<std::vector<uint8_t>> ChunkedRecording(const Recording& r, size_t block_size) const;
  // Downloads use the chunked form for the MP4 recording kinds.
  bool ChunkedDownloads() const { return spec_.recording_kind >= 3; }

  // One RPC request text in, its answer out.
  std::string HandleRpc(std::string_view request);
  rpc::RpcStateStore& rpc() { return rpc_; }

  // The configuration message for a client whose installed library has
  // `client_version`: the library compressed when the versions differ,
  // otherwise none; then the parameter block.
  std::vector<uint8_t> ConfigMessage(uint32_t client_version) const;
  uint32_t ConfigVersion() const;

  // Control codes received (recording start/stop and PTZ), in order.
  void NoteControl(uint32_t code);
  std::vector<uint32_t> Controls() const;

  // Pushes to every client of every front end.
  void PushUserData(const std::vector<uint8_t>& data);
  void PushRecordingState(bool recording);
  int AddSinks(DeviceSinks sinks);
  void RemoveSinks(int id);
  // G.711 at 8 kHz: the audio bytes that go with one picture.
  size_t AudioBytesPerFrame() const;

 private:
  void StartSource();

  DeviceSpec spec_;
  int index_;
  std::shared_ptr<const MediaClip> clip_;
  std::unique_ptr<LiveSource> source_;
  std::vector<uint8_t> cfg_library_;
  std::vector<uint8_t> cfg_packed_;  // what is sent when the client's version differs
  std::unique_ptr<HostileAnswers> hostile_;
  rpc::RpcStateStore rpc_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> controls_;
  std::map<int, DeviceSinks> sinks_;
  int next_sink_ = 1;
};

}  // namespace vdevice
