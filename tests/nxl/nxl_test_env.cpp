// Shared parts of the Nxl library tests.
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
  if (Recorder* r = g_current.load()) r->Add(std::move(e));
}

std::vector<uint8_t> Bytes(const uint8_t* data, int32_t length) {
  return data != nullptr && length > 0 ? std::vector<uint8_t>(data, data + length)
                                       : std::vector<uint8_t>{};
}

}  // namespace

void OnSearch(QVC_SearchResult result) {
  Record({.kind = Event::kSearch, .search = result, .end = result.endOfSearch});
}

void OnOkip(int32_t id, const uint8_t* data, int32_t length, uint32_t source, int32_t end) {
  Record({.kind = Event::kOkip,
          .code = id,
          .data = Bytes(data, length),
          .source = source,
          .end = end});
}

std::chrono::milliseconds Scaled(int ms) {
  const char* s = std::getenv("QCSDK_TEST_TIME_SCALE");
  const double scale = s != nullptr && std::atof(s) > 1.0 ? std::atof(s) : 1.0;
  return std::chrono::milliseconds(static_cast<int64_t>(ms * scale));
}

uint16_t FreeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
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

std::vector<Event> Recorder::Events(Event::Kind kind, int32_t link, int32_t code) const {
  std::vector<Event> out;
  for (auto& e : Events()) {
    if (e.kind == kind && (link < 0 || e.link == link) && (code < 0 || e.code == code)) {
      out.push_back(e);
    }
  }
  return out;
}

bool Recorder::WaitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                       std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return pred(events_); });
}

bool Recorder::WaitCount(Event::Kind kind, size_t count, int32_t link, int32_t code) {
  return WaitFor([&](const std::vector<Event>& events) {
    size_t n = 0;
    for (const auto& e : events) {
      n += e.kind == kind && (link < 0 || e.link == link) && (code < 0 || e.code == code);
    }
    return n >= count;
  });
}

void Recorder::SetHook(std::function<void(const Event&)> hook) {
  std::lock_guard lock(mu_);
  hook_ = std::move(hook);
}

void NxlTest::SetUp() {
  QVC_RegisterCallBack(
      [](int32_t l, uint8_t r, const char* t) {
        Record({.kind = Event::kConnect, .link = l, .code = r, .text = t ? t : "(null)"});
      },
      [](int32_t l, uint8_t type, const uint8_t* d, int32_t n) {
        Record({.kind = Event::kLive, .link = l, .code = type, .data = Bytes(d, n)});
      },
      [](int32_t l, const uint8_t* d, int32_t n) {
        Record({.kind = Event::kFileList, .link = l, .data = Bytes(d, n)});
      },
      [](int32_t l, uint8_t kind, const uint8_t* d, int32_t n) {
        Record({.kind = Event::kTalk, .link = l, .code = kind, .data = Bytes(d, n)});
      },
      [](int32_t l, uint8_t type, const uint8_t* d, int32_t n) {
        Record({.kind = Event::kText, .link = l, .code = type, .data = Bytes(d, n)});
      },
      [](int32_t l, uint8_t type, const uint8_t* d, int32_t n, uint32_t total) {
        Record({.kind = Event::kDownload,
                .link = l,
                .code = type,
                .data = Bytes(d, n),
                .total = total});
      },
      [](int32_t l, uint8_t type, const uint8_t* d, int32_t n) {
        Record({.kind = Event::kPlayback, .link = l, .code = type, .data = Bytes(d, n)});
      });
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
