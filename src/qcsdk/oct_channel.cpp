// The OCT channel. Its transport operations arrive with the OCT transport;
// until then every operation answers false, so a connect over OCT is
// refused (-1) before anything is sent.
#include "qcsdk/oct_channel.h"

namespace qcsdk {

OctChannel::OctChannel(int32_t nChannel) : Channel(nChannel) {}
OctChannel::~OctChannel() = default;

bool OctChannel::Connect(const char*, int32_t, int32_t, int32_t, const char*, const char*, bool,
                         void*) {
  return false;
}
bool OctChannel::Disconnect() {
  return false;
}
bool OctChannel::EnableVideoData(bool) {
  return false;
}
void OctChannel::InsertKeyFrame() {}
bool OctChannel::StartTalk() {
  return false;
}
bool OctChannel::StopTalk() {
  return false;
}
bool OctChannel::SendTalkData(const uint8_t*, int32_t) {
  return false;
}
bool OctChannel::GetRemoteRecFileList(const int32_t*) {
  return false;
}
bool OctChannel::RemotePlay(int32_t) {
  return false;
}
bool OctChannel::RemotePlayControl(int32_t, int32_t) {
  return false;
}
bool OctChannel::DownloadRemoteFile(int32_t, const char*) {
  return false;
}
bool OctChannel::StopDownload() {
  return Channel::StopDownload();
}
bool OctChannel::RemoteRecording(bool) {
  return false;
}
bool OctChannel::RemoteConfig(int32_t) {
  return false;
}
bool OctChannel::SendPTZCommand(int32_t, bool) {
  return false;
}
bool OctChannel::SendUserData(const uint8_t*, int32_t) {
  return false;
}
bool OctChannel::GrpcBegin() {
  return false;
}
bool OctChannel::GrpcEnd() {
  return false;
}
int32_t OctChannel::SendGrpcRequest(GrpcContext*, const char*, int32_t) {
  return -1;
}
int32_t OctChannel::RecvGrpcResponse(GrpcContext*, char*, int32_t, int32_t*) {
  return -1;
}

}  // namespace qcsdk
