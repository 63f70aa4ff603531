#include "sdk_session.h"

#include <cstdio>
#include <cstring>

#include "hostlib/event_names.h"

namespace qcctl {
namespace {

// The callbacks carry no pointer to the session: there is one per run.
SdkSession* g_session = nullptr;

// Entry fields as the event-10 list lays them out.
std::string Text(const uint8_t* entry, std::size_t offset, std::size_t size) {
  const char* s = reinterpret_cast<const char*>(entry + offset);
  return std::string(s, strnlen(s, size));
}

std::string EventText(int32_t event) {
  return std::string(hostlib::EventName(event)) + " (event " + std::to_string(event) + ")";
}

}  // namespace

int Fail(int code, const std::string& what) {
  std::fprintf(stderr, "qcctl: %s\n", what.c_str());
  return code;
}

const char* TransportName(int32_t transport) {
  return transport == QCSDK_TRANSPORT_OCT ? "oct" : "nxl";
}

SdkSession::SdkSession() {
  g_session = this;
  QCSDK_RegisterCallback(OnEvent, nullptr, OnDownload, OnDecoded, OnSearch);
  m_started = QCSDK_InitSDK(0, nullptr) == 1;
}

SdkSession::~SdkSession() {
  if (m_channel >= 0 && Locked([](Reports& r) { return r.linkEvent == 1; })) {
    QCSDK_Disconnect(m_channel);
  }
  QCSDK_ReleaseSDK();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  g_session = nullptr;
}

int SdkSession::Connect(const hostlib::DeviceSource& source, int timeoutMs) {
  m_label = source.Label();
  const int32_t channel = source.Connect(nullptr);
  if (channel < 0) return Fail(kUnreachable, "connect to " + m_label + ": the SDK refused it");
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_changed.wait_until(lock, end, [&] { return m_reports.linkEvent != 0; })) {
    lock.unlock();
    QCSDK_Disconnect(channel);
    return TimedOut("connect to " + m_label, timeoutMs);
  }
  const int32_t event = m_reports.linkEvent;
  if (event == QCSDK_EVENT_CONNECTED) {
    m_channel = channel;
    return kOk;
  }
  const std::string why = "connect to " + m_label + ": " + EventText(event);
  return Fail(event == QCSDK_EVENT_CONNECT_FAILED ? kUnreachable : kRefused, why);
}

int SdkSession::EndedDuring(const std::string& what) const {
  return Fail(kLinkEnded, what + ": " + EventText(m_reports.linkEvent));
}

int SdkSession::TimedOut(const std::string& what, int timeoutMs) const {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", timeoutMs / 1000.0);
  return Fail(kTimeout, what + ": no answer within " + seconds + " s (--timeout)");
}

void SdkSession::OnEvent(int32_t, int32_t event, const char* data, int32_t value, void*) {
  SdkSession* s = g_session;
  if (s == nullptr) return;
  std::lock_guard<std::mutex> lock(s->m_mutex);
  Reports& r = s->m_reports;
  if (event >= QCSDK_EVENT_CONNECTED && event <= QCSDK_EVENT_REMOTE_CLOSED) {
    // A link that ended stays ended.
    if (r.linkEvent < 2) r.linkEvent = event;
    if (event == QCSDK_EVENT_CONNECTED && data != nullptr) r.connectText = data;
  } else if (event == QCSDK_EVENT_REC_LIST) {
    r.list.clear();
    const auto* entries = reinterpret_cast<const uint8_t*>(data);
    for (int32_t i = 0; entries != nullptr && i < value; ++i) {
      const uint8_t* e = entries + static_cast<std::size_t>(i) * QCSDK_REC_ENTRY_SIZE;
      RecEntry entry;
      std::memcpy(&entry.index, e, 4);
      std::memcpy(&entry.kind, e + 4, 4);
      entry.name = Text(e, 8, 8);
      entry.file = Text(e, 16, 2048);
      entry.path = Text(e, 2064, 2048);
      r.list.push_back(entry);
    }
    r.listDone = true;
  } else if (event == QCSDK_EVENT_REC_LIST_FAILED) {
    r.listDone = r.listFailed = true;
  }
  s->m_changed.notify_all();
}

void SdkSession::OnDownload(int32_t, int32_t code, int32_t progress, int32_t, void*) {
  SdkSession* s = g_session;
  if (s == nullptr) return;
  std::lock_guard<std::mutex> lock(s->m_mutex);
  if (code == QCSDK_DOWNLOAD_PROGRESS) {
    s->m_reports.downloadProgress = progress;
  } else {
    s->m_reports.downloadEnd = code;
  }
  s->m_changed.notify_all();
}

void SdkSession::OnDecoded(int32_t, const DecodedFrame*, void*) {
  SdkSession* s = g_session;
  if (s == nullptr) return;
  std::lock_guard<std::mutex> lock(s->m_mutex);
  ++s->m_reports.decoded;
  s->m_changed.notify_all();
}

void SdkSession::OnSearch(const QCSDK_SearchResult* result) {
  SdkSession* s = g_session;
  if (s == nullptr) return;
  std::lock_guard<std::mutex> lock(s->m_mutex);
  if (result != nullptr) {
    s->m_reports.found.push_back(*result);
  } else {
    s->m_reports.searchDone = true;
  }
  s->m_changed.notify_all();
}

}  // namespace qcctl
