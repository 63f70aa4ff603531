// OCT channels over the scripted transport: the test plays the library by firing the registered
// callbacks from threads of the fake; the SDK's own connection workers run as in production.
#pragma once

#include <gmock/gmock.h>

#include "support/fake_libraries.h"
#include "support/oct_test_support.h"

namespace qcsdk::test {

struct Target {
  const char* host = "127.0.0.1";
  int32_t port = 6000;
  const char *user = "admin", *password = "pw";
  int32_t byNumber = 0, deviceChannel = 1, stream = 0;
};

class OctFixture : public ::testing::Test {
 protected:
  FakeLibraries fake;
  HostRecorder host;

  void SetUp() override {
    // Connection handles count from 1, sub-handles from 100; the library never repeats a handle.
    for (const char* connect : {"octc_connect_by_hostname", "octc_connect_by_nimbus"})
      fake.SetResultByFirstArg(connect, [this](int64_t) { return ++m_conn; });
    for (const char* open :
         {"octc_stream_open", "octc_vod_open", "octc_down_open", "octc_chat_open"}) {
      fake.SetResultByFirstArg(open, [this](int64_t) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_subs.push_back(100 + static_cast<int32_t>(m_subs.size()));
        return m_subs.back();
      });
    }
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  }
  void TearDown() override { QCSDK_ReleaseSDK(); }

  std::vector<int32_t> Subs() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_subs;
  }
  int32_t LastSub() { return Subs().empty() ? -1 : Subs().back(); }

  FakeLibraries::OctCallbacks cb() const { return fake.oct(); }
  static void Fire(const std::function<void()>& fn) { FakeLibraries::RunOnLibraryThread(fn); }

  int32_t Connect(const Target& t = {}) {
    return QCSDK_Connect2(QCSDK_TRANSPORT_OCT, t.host, t.port, t.deviceChannel, t.stream, t.user,
                          t.password, t.byNumber, nullptr);
  }
  // A connect result; without `info`, with an empty device record.
  void ConnResult(int32_t conn, int32_t result, const OctDevInfo* info = &kEmptyInfo) {
    Fire([&] { cb().conn(conn, OCTC_CONN_RESULT, 0, result, 0, 0, 0, info); });
  }
  // Waits for the n-th sub-handle (only streams open while channels connect); returns it.
  int32_t WaitStreamOpen(std::size_t n) {
    EXPECT_TRUE(WaitUntil([&] { return Subs().size() >= n; }));
    return Subs().size() >= n ? Subs()[n - 1] : -1;
  }
  void StreamState(int32_t stream, int32_t status, int32_t result = 0) {
    Fire([&] { cb().streamState(1, stream, status, result); });
  }
  void Media(const OctMediaInfo& media, int32_t handle, bool playback = false) {
    Fire([&] {
      (playback ? cb().vodData : cb().streamData)(1, handle, OCTC_DATA_MEDIA_INFO, &media);
    });
  }
  // Connects the nth channel of connection 1 up to its event 1 (the first one also gets the connect
  // result with that device type); returns its number and its stream handle.
  std::pair<int32_t, int32_t> ConnectLive(int nth = 1, int32_t deviceChannel = 1,
                                          int32_t deviceType = 2) {
    const int32_t n = Connect({.deviceChannel = deviceChannel});
    EXPECT_GE(n, 0);
    OctDevInfo info{};
    info.device_type = deviceType;
    if (nth == 1) ConnResult(1, 0, &info);
    const int32_t stream = WaitStreamOpen(nth);
    StreamState(stream, OCTC_STATE_RESULT);
    Media(OctMedia(), stream);
    EXPECT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECTED, nth));
    return {n, stream};
  }
  // Library calls so far whose name starts with `name`; channels of host events with this code.
  std::vector<std::string> CallsOf(const std::string& name) const {
    std::vector<std::string> out = fake.Calls();
    std::erase_if(out, [&](const std::string& call) { return call.rfind(name, 0) != 0; });
    return out;
  }
  std::vector<int32_t> EventsOf(int32_t code) const {
    std::vector<int32_t> out;
    for (const HostEvent& e : host.Events())
      if (e.code == code) out.push_back(e.channel);
    return out;
  }

 private:
  static constexpr OctDevInfo kEmptyInfo{};
  std::mutex m_mutex;
  std::atomic<int64_t> m_conn{0};
  std::vector<int32_t> m_subs;
};

}  // namespace qcsdk::test
