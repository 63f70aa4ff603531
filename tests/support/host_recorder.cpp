#include "support/host_recorder.h"

#include <atomic>

namespace qcsdk::test {
namespace {

std::atomic<HostRecorder*> g_recorder{nullptr};

void EventThunk(int32_t channel, int32_t code, const char* data, int32_t value, void* user) {
  if (HostRecorder* r = g_recorder.load()) r->OnEvent(channel, code, data, value, user);
}
void RawThunk(int32_t channel, const RawFrame* frame, void*) {
  if (HostRecorder* r = g_recorder.load()) r->OnRaw(channel, frame);
}
void DownloadThunk(int32_t channel, int32_t code, int32_t progress, int32_t total, void*) {
  if (HostRecorder* r = g_recorder.load()) r->OnDownload(channel, code, progress, total);
}
void DecodedThunk(int32_t, const DecodedFrame* frame, void*) {
  if (HostRecorder* r = g_recorder.load()) r->OnDecoded(frame);
}
void TalkThunk(int32_t channel, int32_t event, int32_t type, const uint8_t*, int32_t length,
               void*) {
  if (HostRecorder* r = g_recorder.load()) r->OnTalk(channel, event, type, length);
}

void UserDataThunk(int32_t channel, const uint8_t* data, int32_t length) {
  if (HostRecorder* r = g_recorder.load()) r->OnUserData(channel, data, length);
}

}  // namespace

HostRecorder::HostRecorder() {
  g_recorder.store(this);
  QCSDK_RegisterCallback(&EventThunk, &RawThunk, &DownloadThunk, &DecodedThunk, nullptr);
  QCSDK_RegisterTalkCallback(&TalkThunk);
  QCSDK_RegisterUserDataCallback(&UserDataThunk);
}

HostRecorder::~HostRecorder() {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_RegisterTalkCallback(nullptr);
  QCSDK_RegisterUserDataCallback(nullptr);
  g_recorder.store(nullptr);
}

void HostRecorder::OnEvent(int32_t channel, int32_t code, const char* data, int32_t value,
                           void* user) {
  HostEvent event{channel, code, std::string(), reinterpret_cast<intptr_t>(data), value, user};
  event.text = data == nullptr ? "<null>" : code == QCSDK_EVENT_CONNECTED ? data : "<data>";
  m_events.Add(event);
  if (onEvent) onEvent(event);
}

std::vector<int32_t> HostRecorder::Codes() const {
  std::vector<int32_t> codes;
  for (const HostEvent& e : m_events.Snapshot()) codes.push_back(e.code);
  return codes;
}

}  // namespace qcsdk::test
