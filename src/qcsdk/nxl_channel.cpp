// The Nxl channel. Its transport operations arrive with the Nxl transport;
// until then every operation answers false, so a connect over Nxl is
// refused (-1) before anything is sent.
#include "qcsdk/nxl_channel.h"

namespace qcsdk {

NxlChannel::NxlChannel(int32_t nChannel) : Channel(nChannel), m_nLinkId(nChannel + 1) {}
NxlChannel::~NxlChannel() = default;

bool NxlChannel::Connect(const char*, int32_t, int32_t, int32_t, const char*, const char*, bool,
                         void*) {
  return false;
}
bool NxlChannel::Disconnect() {
  return false;
}
bool NxlChannel::EnableVideoData(bool) {
  return false;
}
void NxlChannel::InsertKeyFrame() {}
bool NxlChannel::StartTalk() {
  return false;
}
bool NxlChannel::StopTalk() {
  return false;
}
bool NxlChannel::SendTalkData(const uint8_t*, int32_t) {
  return false;
}
bool NxlChannel::GetRemoteRecFileList(const int32_t*) {
  return false;
}
bool NxlChannel::RemotePlay(int32_t) {
  return false;
}
bool NxlChannel::RemotePlayControl(int32_t, int32_t) {
  return false;
}
bool NxlChannel::DownloadRemoteFile(int32_t, const char*) {
  return false;
}
bool NxlChannel::StopDownload() {
  return Channel::StopDownload();
}
bool NxlChannel::RemoteRecording(bool) {
  return false;
}
bool NxlChannel::RemoteConfig(int32_t) {
  return false;
}
bool NxlChannel::SendPTZCommand(int32_t, bool) {
  return false;
}
bool NxlChannel::SendUserData(const uint8_t*, int32_t) {
  return false;
}
bool NxlChannel::GrpcBegin() {
  return false;
}
bool NxlChannel::GrpcEnd() {
  return false;
}
int32_t NxlChannel::SendGrpcRequest(GrpcContext*, const char*, int32_t) {
  return -1;
}
int32_t NxlChannel::RecvGrpcResponse(GrpcContext*, char*, int32_t, int32_t*) {
  return -1;
}

}  // namespace qcsdk
