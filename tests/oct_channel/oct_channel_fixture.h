// OCT channels over the scripted transport: the test plays the library by
// firing the callbacks the SDK registered, from threads of the fake, while
// the SDK's own connection workers run as they do in production.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qcsdk/facade/registry.h"
#include "qcsdk/oct/oct_channel.h"
#include "qcsdk/oct/oct_conn.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"

namespace qcsdk::test {

// Polls pred until it holds or the scaled time-out passes.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(timeoutMs));
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class OctFixture : public ::testing::Test {
 protected:
  FakeLibraries fake;
  HostRecorder host;

  void SetUp() override {
    // Connection handles count from 1, sub-handles from 100, as a library
    // that never hands out one handle twice.
    fake.SetResultByFirstArg("octc_connect_by_hostname", [this](int64_t) { return NextConn(); });
    fake.SetResultByFirstArg("octc_connect_by_nimbus", [this](int64_t) { return NextConn(); });
    for (const char* open :
         {"octc_stream_open", "octc_vod_open", "octc_down_open", "octc_chat_open"}) {
      fake.SetResultByFirstArg(open, [this](int64_t) { return NextSub(); });
    }
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  }
  void TearDown() override { QCSDK_ReleaseSDK(); }

  int64_t NextConn() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return ++m_conn;
  }
  int64_t NextSub() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_subs.push_back(++m_sub);
    return m_sub;
  }
  // The sub-handles handed out so far, in order.
  std::vector<int32_t> Subs() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_subs;
  }

  FakeLibraries::OctCallbacks cb() const { return fake.oct(); }
  static void Fire(const std::function<void()>& fn) { FakeLibraries::RunOnLibraryThread(fn); }

  int32_t Connect(const char* address = "127.0.0.1", int32_t port = 6000,
                  const char* password = "pw", int32_t bByNumber = 0) {
    return QCSDK_Connect2(1, address, port, 1, 0, "admin", password, bByNumber, nullptr);
  }
  void ConnResult(int32_t conn, int32_t result, const OctDevInfo* info) {
    Fire([&] { cb().conn(conn, OCTC_CONN_RESULT, 0, result, 0, 0, 0, info); });
  }
  // Waits for the n-th stream open and returns its handle.
  int32_t WaitStreamOpen(int n) {
    // The fake records a call before it computes its result.
    EXPECT_TRUE(WaitUntil([&] {
      return fake.CountCalls("octc_stream_open") >= n && Subs().size() >= static_cast<size_t>(n);
    }));
    // Stream opens are the only opens during connection set-up in these
    // tests, so the n-th sub-handle belongs to the n-th open.
    const std::vector<int32_t> subs = Subs();
    return subs.size() >= static_cast<std::size_t>(n) ? subs[n - 1] : -1;
  }
  void StreamOpened(int32_t conn, int32_t stream) {
    Fire([&] { cb().streamState(conn, stream, OCTC_STATE_RESULT, 0); });
  }
  static OctMediaInfo Media(int32_t rateX10000 = 250000, int32_t durationMs = 0,
                            int32_t audioCodec = 1) {
    OctMediaInfo m{};
    m.video_codec = 1;
    m.width = 704;
    m.height = 576;
    m.frame_rate_x10000 = rateX10000;
    m.audio_codec = audioCodec;
    m.audio_channels = 1;
    m.audio_sample_rate = 8000;
    m.audio_bits = 16;
    m.duration_ms = durationMs;
    return m;
  }
  void LiveMedia(int32_t conn, int32_t stream, const OctMediaInfo& media) {
    Fire([&] { cb().streamData(conn, stream, OCTC_DATA_MEDIA_INFO, &media); });
  }
  // One channel connected through connection 1 up to event 1; returns its
  // number and the stream handle.
  std::pair<int32_t, int32_t> ConnectLive(int32_t deviceType = 2) {
    const int32_t n = Connect();
    EXPECT_GE(n, 0);
    OctDevInfo info{};
    info.device_type = deviceType;
    ConnResult(1, 0, &info);
    const int32_t stream = WaitStreamOpen(1);
    StreamOpened(1, stream);
    LiveMedia(1, stream, Media());
    EXPECT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECTED));
    return {n, stream};
  }
  static std::shared_ptr<OctChannel> Oct(int32_t n) {
    return std::dynamic_pointer_cast<OctChannel>(FindChannel(n));
  }
  // Calls of one operation, as the fake records them.
  std::vector<std::string> CallsOf(const std::string& name) const {
    std::vector<std::string> out;
    for (const std::string& call : fake.Calls()) {
      if (call.rfind(name + "(", 0) == 0) out.push_back(call);
    }
    return out;
  }

 private:
  std::mutex m_mutex;
  int64_t m_conn = 0;
  int64_t m_sub = 99;
  std::vector<int32_t> m_subs;
};

}  // namespace qcsdk::test
