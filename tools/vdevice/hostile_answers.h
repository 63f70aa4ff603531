// The hostile fault mode of a device (fault=hostile:SEED): every message the
// device sends passes through here and comes out mutated, while the framing
// of the transport stays valid, so that the client's decoders read it.
// Lengths, counts, offsets, indexes and texts inside go to their limits and
// beyond: 0, 1, max - 1, max, max + 1, negative where signed, counts larger
// than the payload, unterminated texts, the wrong kind of message.
//
// Deterministic: the n-th message of each kind is mutated the same way for
// the same seed, whichever thread sends it.
#pragma once

#include <octc/octc.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "octc_device/device.h"

namespace vdevice {

class HostileAnswers {
 public:
  // One message: a type (Nxl frame type, talk kind, text type, download
  // type; OCT frame type, notice type or state status), the totals of a
  // download block (OCT: total and received; Nxl: total), and the bytes.
  struct Message {
    int32_t type = 0;
    uint64_t total = 0;
    uint64_t received = 0;
    std::vector<uint8_t> bytes;
  };
  // What a link does besides answering.
  enum class LinkAct { kNone, kDrop, kClose, kMalformed };

  // The transport a message goes out on.
  enum class Side : uint8_t { kNxl, kOct };

  explicit HostileAnswers(uint64_t seed);

  // Messages mutated so far for one transport, each of which the device then
  // sends: one per call below that changes a message (a list, a stray message
  // when one is made, the login texts once per front end); the link acts are
  // not counted. Any thread.
  uint64_t sent(Side side) const { return sent_[static_cast<size_t>(side)].load(); }

  // Nxl messages, changed in place: live and playback messages (stream
  // headers, frames with or without their "QVS" prefix, control messages,
  // playback ends), file lists, download blocks and ends, talk, text.
  void NxlStream(bool playback, Message* m);
  void NxlFileList(Message* m);
  void NxlDownload(Message* m);
  void NxlTalk(Message* m);
  void NxlText(Message* m);
  // The text of a login acceptance.
  std::string Greeting();
  // Now and then a message the client did not ask for, of any kind, sent
  // beside a live message: its Nxl message type (34 file list, 35 talk, 36
  // text, 37 download, 33 playback) and contents.
  std::optional<std::pair<int, Message>> NxlStray();

  // OCT: media information, pictures (type and bytes), audio, recording
  // lists, download blocks, the states that end a sub-handle, notices,
  // command results and the device information given at login.
  OctMediaInfo MediaInfo(const OctMediaInfo& normal);
  void OctVideo(Message* m);
  void OctAudio(Message* m);
  void RecordList(std::vector<octc::device::RecordEntry>* list);
  bool CorruptListCount();
  void OctDownload(Message* m);
  // status and flag of a state, changed in place.
  void OctState(int32_t* status, int32_t* flag);
  void Notice(Message* m);
  std::optional<Message> OctStray();
  int32_t Result(int32_t normal);
  void DeviceInfo(octc::device::DeviceConfig* config);

  // RPC answers of both transports (JSON text).
  std::string Rpc(const std::string& answer);
  // Drop, close or break the link now and then, after live pictures.
  LinkAct Act();

 private:
  enum Kind : uint8_t {
    kNxlLive,
    kNxlPlayback,
    kNxlList,
    kNxlDownload,
    kNxlTalk,
    kNxlText,
    kNxlStray,
    kLogin,
    kOctMedia,
    kOctVideo,
    kOctAudio,
    kOctList,
    kOctDownload,
    kOctState,
    kOctNotice,
    kOctStray,
    kResult,
    kRpc,
    kAct,
    kKinds
  };
  // The seed of the next message of a kind; counts the message as sent on
  // `side` (none: not a message, or not yet known to be one).
  uint64_t Next(Kind kind, std::optional<Side> side);
  uint64_t Next(Kind kind);  // on the side of the kind
  void Count(Side side) { ++sent_[static_cast<size_t>(side)]; }

  const uint64_t seed_;
  std::mutex mutex_;
  std::array<uint64_t, kKinds> counts_{};
  std::array<std::atomic<uint64_t>, 2> sent_{};
};

}  // namespace vdevice
