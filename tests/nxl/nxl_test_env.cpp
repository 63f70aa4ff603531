// Shared parts of the Nxl end-to-end tests.
#include "nxl_test_env.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace nxl_test {
namespace {

std::atomic<Recorder*> g_current{nullptr};

void Record(Event e) {
  if (Recorder* r = Recorder::Current()) r->Add(std::move(e));
}

std::vector<uint8_t> Bytes(const uint8_t* data, int32_t length) {
  if (!data || length <= 0) return {};
  return std::vector<uint8_t>(data, data + length);
}

void OnConnect(int32_t link, uint8_t result, const char* text) {
  Event e{Event::kConnect};
  e.link = link;
  e.code = result;
  e.text = text ? text : "(null)";
  Record(std::move(e));
}

void OnLive(int32_t link, uint8_t type, const uint8_t* data, int32_t length) {
  Record(Event{Event::kLive, link, type, Bytes(data, length)});
}

void OnPlayback(int32_t link, uint8_t type, const uint8_t* data, int32_t length) {
  Record(Event{Event::kPlayback, link, type, Bytes(data, length)});
}

void OnFileList(int32_t link, const uint8_t* data, int32_t length) {
  Record(Event{Event::kFileList, link, 0, Bytes(data, length)});
}

void OnTalk(int32_t link, uint8_t kind, const uint8_t* data, int32_t length) {
  Record(Event{Event::kTalk, link, kind, Bytes(data, length)});
}

void OnText(int32_t link, uint8_t type, const uint8_t* data, int32_t length) {
  Record(Event{Event::kText, link, type, Bytes(data, length)});
}

void OnDownload(int32_t link, uint8_t type, const uint8_t* data, int32_t length, uint32_t total) {
  Event e{Event::kDownload, link, type, Bytes(data, length)};
  e.total = total;
  Record(std::move(e));
}

}  // namespace

void OnSearch(QVC_SearchResult result) {
  Event e{Event::kSearch};
  e.search = result;
  e.end = result.endOfSearch;
  Record(std::move(e));
}

void OnOkip(int32_t id, const uint8_t* data, int32_t length, uint32_t source, int32_t end) {
  Event e{Event::kOkip, 0, id, Bytes(data, length)};
  e.source = source;
  e.end = end;
  e.total = static_cast<uint32_t>(length);
  Record(std::move(e));
}

std::chrono::milliseconds Scaled(int ms) {
  double scale = 1.0;
  if (const char* s = std::getenv("QCSDK_TEST_TIME_SCALE"); s && *s) {
    scale = std::atof(s);
    if (scale < 1.0) scale = 1.0;
  }
  return std::chrono::milliseconds(static_cast<int64_t>(ms * scale));
}

uint16_t FreeUdpPort() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(fd);
  return ntohs(sa.sin_port);
}

Recorder::Recorder() {
  g_current.store(this);
}
Recorder::~Recorder() {
  g_current.store(nullptr);
}
Recorder* Recorder::Current() {
  return g_current.load();
}

void Recorder::Add(Event event) {
  std::function<void(const Event&)> hook;
  {
    std::lock_guard lock(mu_);
    events_.push_back(event);
    hook = hook_;
  }
  cv_.notify_all();
  if (hook) hook(event);
}

std::vector<Event> Recorder::Events() const {
  std::lock_guard lock(mu_);
  return events_;
}

std::vector<Event> Recorder::Events(Event::Kind kind) const {
  std::vector<Event> out;
  for (auto& e : Events()) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

bool Recorder::WaitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                       std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return pred(events_); });
}

bool Recorder::WaitCount(Event::Kind kind, size_t count, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&](const std::vector<Event>& events) {
        size_t n = 0;
        for (const auto& e : events) n += e.kind == kind ? 1 : 0;
        return n >= count;
      },
      timeout);
}

void Recorder::SetHook(std::function<void(const Event&)> hook) {
  std::lock_guard lock(mu_);
  hook_ = std::move(hook);
}

void NxlTest::SetUp() {
  QVC_RegisterCallBack(&OnConnect, &OnLive, &OnFileList, &OnTalk, &OnText, &OnDownload,
                       &OnPlayback);
  ASSERT_EQ(1, QVC_InitSDK(0, 0));
  ASSERT_EQ(1, QVC_SetLinkTimeouts(static_cast<int32_t>(Scaled(5000).count()), 0, 0));
  // Nothing that a test starts may reach a directory outside the test.
  ASSERT_EQ(1, QVC_SetDirectoryServer("127.0.0.1", 1));
}

void NxlTest::TearDown() {
  EXPECT_EQ(1, QVC_ReleaseSDK());
  recorder_.SetHook(nullptr);
}

}  // namespace nxl_test
