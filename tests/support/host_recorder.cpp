#include "support/host_recorder.h"

#include <atomic>

namespace qcsdk::test {
namespace {
std::atomic<HostRecorder*> g_recorder{nullptr};
}  // namespace

struct HostThunks {
  static void Event(int32_t channel, int32_t code, const char* data, int32_t value, void* user) {
    HostRecorder* r = g_recorder.load();
    if (r == nullptr) return;
    HostEvent event{channel, code, std::string(), reinterpret_cast<intptr_t>(data), value, user};
    event.text = data == nullptr ? "<null>" : code == QCSDK_EVENT_CONNECTED ? data : "<data>";
    r->m_events.Add(event);
    if (r->onEvent) r->onEvent(event);
  }
  static void Raw(int32_t channel, const RawFrame* frame, void*) {
    if (HostRecorder* r = g_recorder.load()) r->m_raw.Add({channel, frame->type, frame->length});
  }
  static void Download(int32_t channel, int32_t code, int32_t progress, int32_t total, void*) {
    HostRecorder* r = g_recorder.load();
    if (r == nullptr) return;
    r->m_downloads.Add({channel, code, progress, total});
    if (r->onDownload) r->onDownload(channel, code);
  }
  static void Decoded(int32_t channel, const DecodedFrame* frame, void*) {
    HostRecorder* r = g_recorder.load();
    if (r == nullptr) return;
    r->m_decoded.Add(*frame);
    if (r->onDecoded) r->onDecoded(channel);
  }
  static void Talk(int32_t channel, int32_t event, int32_t type, const uint8_t* data,
                   int32_t length, void* user) {
    const std::string bytes = data == nullptr ? "-" : std::string(data, data + std::max(length, 0));
    if (HostRecorder* r = g_recorder.load())
      r->m_talk.Add({channel, event, type, bytes, length, user});
  }
  static void UserData(int32_t channel, const uint8_t* data, int32_t length) {
    if (HostRecorder* r = g_recorder.load())
      r->m_userData.Add({channel, std::string(data, data + length)});
  }
};

HostRecorder::HostRecorder() {
  g_recorder.store(this);
  QCSDK_RegisterCallback(&HostThunks::Event, &HostThunks::Raw, &HostThunks::Download,
                         &HostThunks::Decoded, nullptr);
  QCSDK_RegisterTalkCallback(&HostThunks::Talk);
  QCSDK_RegisterUserDataCallback(&HostThunks::UserData);
}

HostRecorder::~HostRecorder() {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_RegisterTalkCallback(nullptr);
  QCSDK_RegisterUserDataCallback(nullptr);
  g_recorder.store(nullptr);
}

std::vector<int32_t> HostRecorder::Codes() const {
  std::vector<int32_t> codes;
  for (const HostEvent& e : m_events.Snapshot()) codes.push_back(e.code);
  return codes;
}

std::string HostRecorder::TalkSince(size_t from, int32_t channel, void* user) const {
  std::string out;
  const auto talk = m_talk.Snapshot();
  for (auto t = talk.begin() + static_cast<std::ptrdiff_t>(from); t < talk.end(); ++t) {
    out += (out.empty() ? "" : "; ") + std::to_string(t->event) + " " +
           std::to_string(t->audioType) + " " + t->data + " " + std::to_string(t->length) +
           (t->channel != channel ? " on channel " + std::to_string(t->channel) : "") +
           (t->user != user ? " with another host value" : "");
  }
  return out;
}

}  // namespace qcsdk::test
