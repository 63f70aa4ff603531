#include "vdevice/outbox.h"

namespace vdevice {
namespace {

using Message = HostileAnswers::Message;

enum : int { kLive = 32, kPlayback = 33, kFileList = 34, kTalk = 35, kText = 36, kDownload = 37 };

Message Make(int32_t type, const void* data, size_t size) {
  Message m;
  m.type = type;
  if (data != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    m.bytes.assign(bytes, bytes + size);
  }
  return m;
}

}  // namespace

bool NxlOutbox::Send(int message_type, ClientId id, const Message& m) {
  const auto type = static_cast<uint8_t>(m.type);
  const uint8_t* data = m.bytes.data();
  const size_t size = m.bytes.size();
  switch (message_type) {
    case kLive: return server_.SendLive(id, type, data, size);
    case kPlayback: return server_.SendPlayback(id, type, data, size);
    case kFileList: return server_.SendFileList(id, data, size);
    case kTalk: return server_.SendTalk(id, type, data, size);
    case kText: return server_.SendText(id, type, data, size);
    default: return server_.SendDownload(id, type, static_cast<uint32_t>(m.total), data, size);
  }
}

bool NxlOutbox::Live(ClientId id, uint8_t type, const uint8_t* data, size_t size) {
  if (hostile_ == nullptr) return server_.SendLive(id, type, data, size);
  Message m = Make(type, data, size);
  hostile_->NxlStream(false, &m);
  const bool sent = Send(kLive, id, m);
  if (auto stray = hostile_->NxlStray()) Send(stray->first, id, stray->second);
  switch (hostile_->Act()) {
    case HostileAnswers::LinkAct::kDrop: server_.Drop(id); break;
    case HostileAnswers::LinkAct::kClose: server_.Close(id, hostile_->Greeting()); break;
    case HostileAnswers::LinkAct::kMalformed: server_.SendMalformed(id); break;
    case HostileAnswers::LinkAct::kNone: break;
  }
  return sent;
}

bool NxlOutbox::Playback(ClientId id, uint8_t type, const uint8_t* data, size_t size) {
  if (hostile_ == nullptr) return server_.SendPlayback(id, type, data, size);
  Message m = Make(type, data, size);
  hostile_->NxlStream(true, &m);
  return Send(kPlayback, id, m);
}

bool NxlOutbox::FileList(ClientId id, const uint8_t* data, size_t size) {
  if (hostile_ == nullptr) return server_.SendFileList(id, data, size);
  Message m = Make(0, data, size);
  hostile_->NxlFileList(&m);
  return Send(kFileList, id, m);
}

bool NxlOutbox::Talk(ClientId id, uint8_t kind, const uint8_t* data, size_t size) {
  if (hostile_ == nullptr) return server_.SendTalk(id, kind, data, size);
  Message m = Make(kind, data, size);
  hostile_->NxlTalk(&m);
  return Send(kTalk, id, m);
}

bool NxlOutbox::Text(ClientId id, uint8_t type, const uint8_t* data, size_t size) {
  if (hostile_ == nullptr) return server_.SendText(id, type, data, size);
  Message m = Make(type, data, size);
  hostile_->NxlText(&m);
  return Send(kText, id, m);
}

bool NxlOutbox::Download(ClientId id, uint8_t type, uint32_t total, const uint8_t* data,
                         size_t size) {
  if (hostile_ == nullptr) return server_.SendDownload(id, type, total, data, size);
  Message m = Make(type, data, size);
  m.total = total;
  hostile_->NxlDownload(&m);
  return Send(kDownload, id, m);
}

int OctOutbox::SetMediaInfo(int32_t channel, int32_t stream, const OctMediaInfo& info) {
  return engine_.SetMediaInfo(channel, stream, hostile_ ? hostile_->MediaInfo(info) : info);
}

int OctOutbox::PushFrame(int32_t channel, int32_t stream, int32_t type, const uint8_t* data,
                         size_t size, uint32_t timestamp_ms) {
  if (hostile_ == nullptr)
    return engine_.PushFrame(channel, stream, type, data, size, timestamp_ms);
  Message m = Make(type, data, size);
  hostile_->OctVideo(&m);
  const int reached =
      engine_.PushFrame(channel, stream, m.type, m.bytes.data(), m.bytes.size(), timestamp_ms);
  if (auto stray = hostile_->OctStray())
    SendNotice(stray->type, stray->bytes.data(), stray->bytes.size());
  switch (hostile_->Act()) {
    case HostileAnswers::LinkAct::kDrop: engine_.DropLinks(); break;
    case HostileAnswers::LinkAct::kClose: engine_.CloseLinks(); break;
    case HostileAnswers::LinkAct::kMalformed: {
      static constexpr octc::device::Malformed kKinds[] = {
          octc::device::Malformed::kBadMagic, octc::device::Malformed::kOversize,
          octc::device::Malformed::kTruncatedBody, octc::device::Malformed::kUnknownType};
      engine_.SendMalformed(kKinds[malformed_++ % std::size(kKinds)]);
      break;
    }
    case HostileAnswers::LinkAct::kNone: break;
  }
  return reached;
}

int OctOutbox::PushAudio(int32_t channel, int32_t stream, const uint8_t* data, size_t size,
                         uint32_t timestamp_ms) {
  if (hostile_ == nullptr) return engine_.PushAudio(channel, stream, data, size, timestamp_ms);
  Message m = Make(0, data, size);
  hostile_->OctAudio(&m);
  return engine_.PushAudio(channel, stream, m.bytes.data(), m.bytes.size(), timestamp_ms);
}

bool OctOutbox::PlaybackMediaInfo(SubRef ref, const OctMediaInfo& info) {
  return engine_.PlaybackMediaInfo(ref, hostile_ ? hostile_->MediaInfo(info) : info);
}

bool OctOutbox::PlaybackFrame(SubRef ref, int32_t type, const uint8_t* data, size_t size,
                              uint32_t timestamp_ms) {
  if (hostile_ == nullptr) return engine_.PlaybackFrame(ref, type, data, size, timestamp_ms);
  Message m = Make(type, data, size);
  hostile_->OctVideo(&m);
  return engine_.PlaybackFrame(ref, m.type, m.bytes.data(), m.bytes.size(), timestamp_ms);
}

bool OctOutbox::PlaybackAudio(SubRef ref, const uint8_t* data, size_t size, uint32_t timestamp_ms) {
  if (hostile_ == nullptr) return engine_.PlaybackAudio(ref, data, size, timestamp_ms);
  Message m = Make(0, data, size);
  hostile_->OctAudio(&m);
  return engine_.PlaybackAudio(ref, m.bytes.data(), m.bytes.size(), timestamp_ms);
}

bool OctOutbox::EndPlayback(SubRef ref, int32_t status, int32_t flag) {
  if (hostile_ != nullptr) hostile_->OctState(&status, &flag);
  return engine_.EndPlayback(ref, status, flag);
}

bool OctOutbox::DownloadData(SubRef ref, const uint8_t* data, size_t size, uint64_t total,
                             uint64_t received) {
  if (hostile_ == nullptr) return engine_.DownloadData(ref, data, size, total, received);
  Message m = Make(0, data, size);
  m.total = total;
  m.received = received;
  hostile_->OctDownload(&m);
  return engine_.DownloadData(ref, m.bytes.data(), m.bytes.size(), m.total, m.received);
}

bool OctOutbox::EndDownload(SubRef ref, int32_t status, int32_t flag) {
  if (hostile_ != nullptr) hostile_->OctState(&status, &flag);
  return engine_.EndDownload(ref, status, flag);
}

bool OctOutbox::TalkAudio(SubRef ref, const uint8_t* data, size_t size) {
  if (hostile_ == nullptr) return engine_.TalkAudio(ref, data, size);
  Message m = Make(0, data, size);
  hostile_->OctAudio(&m);
  return engine_.TalkAudio(ref, m.bytes.data(), m.bytes.size());
}

int OctOutbox::SendNotice(int32_t type, const void* data, size_t size) {
  if (hostile_ == nullptr) return engine_.SendNotice(type, data, size);
  Message m = Make(type, data, size);
  hostile_->Notice(&m);
  return engine_.SendNotice(m.type, m.bytes.data(), m.bytes.size());
}

bool OctOutbox::SendNoticeTo(uint64_t session, int32_t type, const void* data, size_t size) {
  if (hostile_ == nullptr) return engine_.SendNoticeTo(session, type, data, size);
  Message m = Make(type, data, size);
  hostile_->Notice(&m);
  return engine_.SendNoticeTo(session, m.type, m.bytes.data(), m.bytes.size());
}

}  // namespace vdevice
