// Test fixture for the OCT library: initialises it with recording callbacks, runs a device engine
// on loopback, and on tear-down releases the library and checks that no thread is left.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "octc_device/device.h"
#include "support/oct_test_support.h"

namespace octc::test {

using qcsdk::test::OctMedia;
using qcsdk::test::ScaledMs;

struct ConnEvent {
  int32_t conn, event, result;
  bool has_info;
  std::string device_id;
  auto Key() const { return std::tuple(conn, event, result); }
};
struct StateEvent {
  char module;  // 's' stream, 'v' playback, 'd' download, 'c' talk
  int32_t conn, handle, status, result;
  auto Key() const { return std::tuple(module, handle, status, result); }
};
struct DataEvent {
  char module;  // 's' stream, 'v' playback, 'c' talk audio
  int32_t handle, kind;
  std::vector<uint8_t> bytes;
};

struct Guarded {
  std::mutex mutex;
  template <typename F>
  auto Locked(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    return f();
  }
};

// Everything the library reported, in order per kind.
class Recorder : public Guarded {
 public:
  std::vector<ConnEvent> conns;
  std::vector<StateEvent> states;
  std::vector<DataEvent> data;
  // Runs inside the connection callback (after recording), when set.
  std::function<void(const ConnEvent&)> on_conn;

  std::condition_variable cv;
  // Waits (scaled) until pred holds under the lock.
  bool WaitFor(const std::function<bool()>& pred, int ms = 5000);
};

// A device owner that records what the client asked for and answers as configured.
class TestHandler : public device::DeviceHandler, public Guarded {
 public:
  std::vector<device::SubRef> playbacks, talks;
  std::vector<int32_t> speeds;
  std::vector<std::pair<std::vector<uint8_t>, uint64_t>> talk_data;  // with the timestamp
  int closed = 0;
  int32_t talk_answer = 0;

  bool OnPlaybackOpen(device::SubRef ref, const std::string&) override {
    return Locked([&] { return playbacks.push_back(ref), true; });
  }
  int32_t OnPlaybackSpeed(device::SubRef, int32_t speed) override {
    return Locked([&] { return speeds.push_back(speed), 0; });
  }
  void OnTalkClosed(device::SubRef) override {
    Locked([&] { ++closed; });
  }
  int32_t OnTalkOpen(device::SubRef ref) override {
    return Locked([&] { return talk_answer == 0 ? (talks.push_back(ref), 0) : talk_answer; });
  }
  void OnTalkData(device::SubRef, const uint8_t* data, size_t size, uint64_t ts) override {
    Locked([&] { talk_data.emplace_back(std::vector<uint8_t>(data, data + size), ts); });
  }
  std::string OnRemoteConfig(uint64_t, const std::string& request) override {
    return "{\"answer\":" + request + "}";
  }
};

class OctTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Connects to the device by address and waits for the connect result.
  int32_t ConnectOk();
  template <typename T>
  T WaitNth(const std::vector<T>& list, size_t n) {
    EXPECT_TRUE(rec.WaitFor([&] { return list.size() >= n; })) << "no report " << n;
    return rec.Locked([&] { return list.size() >= n ? list[n - 1] : T{}; });
  }
  ConnEvent WaitConn(size_t n = 1) { return WaitNth(rec.conns, n); }
  StateEvent WaitState(size_t n) { return WaitNth(rec.states, n); }
  // Waits until the device handler's list holds n entries; its last one.
  device::SubRef WaitSub(std::vector<device::SubRef>& list, size_t n) {
    EXPECT_TRUE(rec.WaitFor([&] { return handler.Locked([&] { return list.size() >= n; }); }));
    return handler.Locked([&] { return list.empty() ? device::SubRef{} : list.back(); });
  }

  Recorder rec;
  TestHandler handler;
  device::DeviceConfig config;
  std::unique_ptr<device::DeviceEngine> dev;
  int threads_before = 0;
};

}  // namespace octc::test
