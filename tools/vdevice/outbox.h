// What a device sends, per transport: straight to the device engine, or,
// on a hostile device, mutated by HostileAnswers first. A hostile device's
// live messages also carry, now and then, a message of another kind that
// nobody asked for, and a dropped, closed or broken link.
#pragma once

#include <atomic>
#include <cstdint>

#include "octc_device/device.h"
#include "qvc/device/device_server.h"
#include "vdevice/hostile_answers.h"

namespace vdevice {

class NxlOutbox {
 public:
  using ClientId = qvc::device::ClientId;
  // hostile may be null (a normal device).
  NxlOutbox(qvc::device::DeviceServer& server, HostileAnswers* hostile)
      : server_(server), hostile_(hostile) {}
  qvc::device::DeviceServer& server() { return server_; }

  bool Live(ClientId id, uint8_t type, const uint8_t* data, size_t size);
  bool Playback(ClientId id, uint8_t type, const uint8_t* data, size_t size);
  bool FileList(ClientId id, const uint8_t* data, size_t size);
  bool Talk(ClientId id, uint8_t kind, const uint8_t* data, size_t size);
  bool Text(ClientId id, uint8_t type, const uint8_t* data, size_t size);
  bool Download(ClientId id, uint8_t type, uint32_t total, const uint8_t* data, size_t size);

 private:
  // Sends m as a message of an Nxl message type (32 live ... 37 download).
  bool Send(int message_type, ClientId id, const HostileAnswers::Message& m);

  qvc::device::DeviceServer& server_;
  HostileAnswers* const hostile_;
};

class OctOutbox {
 public:
  using SubRef = octc::device::SubRef;
  OctOutbox(octc::device::DeviceEngine& engine, HostileAnswers* hostile)
      : engine_(engine), hostile_(hostile) {}
  octc::device::DeviceEngine& engine() { return engine_; }

  int SetMediaInfo(int32_t channel, int32_t stream, const OctMediaInfo& info);
  int PushFrame(int32_t channel, int32_t stream, int32_t type, const uint8_t* data, size_t size,
                uint32_t timestamp_ms);
  int PushAudio(int32_t channel, int32_t stream, const uint8_t* data, size_t size,
                uint32_t timestamp_ms);
  bool PlaybackMediaInfo(SubRef ref, const OctMediaInfo& info);
  bool PlaybackFrame(SubRef ref, int32_t type, const uint8_t* data, size_t size,
                     uint32_t timestamp_ms);
  bool PlaybackAudio(SubRef ref, const uint8_t* data, size_t size, uint32_t timestamp_ms);
  bool EndPlayback(SubRef ref, int32_t status, int32_t flag);
  bool DownloadData(SubRef ref, const uint8_t* data, size_t size, uint64_t total,
                    uint64_t received);
  bool EndDownload(SubRef ref, int32_t status, int32_t flag);
  bool TalkAudio(SubRef ref, const uint8_t* data, size_t size);
  int SendNotice(int32_t type, const void* data, size_t size);
  bool SendNoticeTo(uint64_t session, int32_t type, const void* data, size_t size);

 private:
  octc::device::DeviceEngine& engine_;
  HostileAnswers* const hostile_;
  std::atomic<unsigned> malformed_{0};
};

}  // namespace vdevice
