#include "demo_host.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "hostlib/event_names.h"

namespace qcdemo {
namespace {

std::atomic<DemoHost*> g_host{nullptr};

void Event(int32_t channel, int32_t event, const char* data, int32_t value, void*) {
  if (DemoHost* h = g_host.load()) h->OnEvent(channel, event, data, value);
}
void Raw(int32_t channel, const RawFrame*, void*) {
  if (DemoHost* h = g_host.load()) h->OnRaw(channel);
}
void Download(int32_t, int32_t code, int32_t progress, int32_t, void*) {
  if (DemoHost* h = g_host.load()) h->OnDownload(code, progress);
}
void Decoded(int32_t, const DecodedFrame* frame, void*) {
  if (DemoHost* h = g_host.load()) h->OnDecoded(frame);
}
void Search(const QCSDK_SearchResult* result) {
  if (DemoHost* h = g_host.load()) h->OnSearch(result);
}
void Talk(int32_t, int32_t event, int32_t, const uint8_t*, int32_t, void*) {
  if (DemoHost* h = g_host.load()) h->OnTalk(event);
}
void UserData(int32_t, const uint8_t*, int32_t length) {
  if (DemoHost* h = g_host.load()) h->OnUserData(length);
}

}  // namespace

DemoHost::DemoHost() {
  g_host.store(this);
  QCSDK_RegisterCallback(&Event, &Raw, &Download, &Decoded, &Search);
  QCSDK_RegisterTalkCallback(&Talk);
  QCSDK_RegisterUserDataCallback(&UserData);
}

DemoHost::~DemoHost() {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_RegisterTalkCallback(nullptr);
  QCSDK_RegisterUserDataCallback(nullptr);
  g_host.store(nullptr);
}

bool DemoHost::WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  std::unique_lock<std::mutex> guard(m_mutex);
  return m_cv.wait_for(guard, std::chrono::milliseconds(timeoutMs), pred);
}

void DemoHost::OnEvent(int32_t channel, int32_t event, const char* data, int32_t value) {
  std::printf("  [channel %d] event %d: %s", channel, event, hostlib::EventName(event));
  if (event == QCSDK_EVENT_CONNECTED && data != nullptr && data[0] != '\0')
    std::printf(" (\"%s\")", data);
  if (event == QCSDK_EVENT_REC_LIST) std::printf(", %d recordings", value);
  std::printf("\n");
  std::fflush(stdout);
  std::lock_guard<std::mutex> guard(m_mutex);
  ++events[event];
  lastEvent = event;
  if (event == QCSDK_EVENT_REC_LIST) {
    // The list lives until the next one: copy it while it is valid.
    recList.clear();
    for (int32_t i = 0; i < value && data != nullptr; ++i) {
      const auto* entry = reinterpret_cast<const uint8_t*>(data) + i * QCSDK_REC_ENTRY_SIZE;
      recList.emplace_back(entry, entry + QCSDK_REC_ENTRY_SIZE);
    }
  }
  if (event == QCSDK_EVENT_REC_LIST_FAILED) recListFailed = true;
  m_cv.notify_all();
}

void DemoHost::OnRaw(int32_t channel) {
  std::lock_guard<std::mutex> guard(m_mutex);
  ++rawFrames;
  ++rawByChannel[channel];
  m_cv.notify_all();
}

void DemoHost::OnDecoded(const DecodedFrame*) {
  std::lock_guard<std::mutex> guard(m_mutex);
  ++decoded;
  m_cv.notify_all();
}

void DemoHost::OnDownload(int32_t code, int32_t progress) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (code == QCSDK_DOWNLOAD_PROGRESS) {
    lastProgress = progress;
    const int width = 40;
    const int filled = progress * width / 10000;
    std::printf("\r  download [%.*s%*s] %3d%%", filled, "########################################",
                width - filled, "", progress / 100);
  } else {
    downloadEnd = code;
    std::printf("\n  download ended (code %d)\n", code);
  }
  std::fflush(stdout);
  m_cv.notify_all();
}

void DemoHost::OnTalk(int32_t event) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (event == QCSDK_TALK_ACCEPTED) ++talkAccepted;
  if (event == QCSDK_TALK_AUDIO) ++talkAudio;
  m_cv.notify_all();
}

void DemoHost::OnUserData(int32_t length) {
  std::printf("  user data from the device: %d bytes\n", length);
  std::lock_guard<std::mutex> guard(m_mutex);
  ++userData;
  m_cv.notify_all();
}

void DemoHost::OnSearch(const QCSDK_SearchResult* result) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (result == nullptr) {
    searchEnded = true;
  } else {
    ++searchResults;
    ++searchByTransport[result->transport];
    std::printf("  found %s at %s:%d, \"%s\", type %d, %d channels, transport %d\n",
                result->deviceNumber, result->address, result->port, result->name,
                result->deviceType, result->channelCount, result->transport);
  }
  m_cv.notify_all();
}

}  // namespace qcdemo
