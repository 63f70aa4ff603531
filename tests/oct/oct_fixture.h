// Test fixture for the OCT library: initialises it with recording callbacks,
// runs a device engine (and, when asked, a directory) on loopback, and on
// tear-down releases the library and checks that no thread is left.
#pragma once

#include <gtest/gtest.h>
#include <octc/octc.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "octc_device/device.h"
#include "support/process_probe.h"

namespace octc::test {

int Scaled(int ms);
using qcsdk::test::ThreadCount;

struct ConnEvent {
  int32_t conn, event, result;
  bool has_info;
  std::string device_id, name, version;
  int32_t device_type, channel_count;
};
struct StateEvent {
  char module;  // 's' stream, 'v' playback, 'd' download, 'c' talk
  int32_t conn, handle, status, result;
};
struct DataEvent {
  char module;  // 's' or 'v'
  int32_t handle, kind, type;
  OctMediaInfo media;
  std::vector<uint8_t> bytes;
  uint32_t timestamp;
};
struct DownEvent {
  int32_t handle;
  std::vector<uint8_t> bytes;
  uint64_t total, received;
};
struct NoticeEvent {
  int32_t conn, type;
  std::string data;
};
struct SearchEvent {
  int32_t event;
  std::string device_id, name, address;
  int32_t device_type, channel_count, flags, port;
};

// Everything the library reported, in order per kind.
class Recorder {
 public:
  std::vector<ConnEvent> conns;
  std::vector<StateEvent> states;
  std::vector<DataEvent> data;
  std::vector<DownEvent> downs;
  std::vector<std::vector<uint8_t>> chats;
  std::vector<NoticeEvent> notices;
  std::vector<SearchEvent> searches;
  // Runs inside the connection callback (after recording), when set.
  std::function<void(const ConnEvent&)> on_conn;

  std::mutex mutex;
  std::condition_variable cv;
  // Waits (scaled) until pred holds under the lock.
  bool WaitFor(const std::function<bool()>& pred, int ms = 5000);
  template <typename F>
  auto Locked(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    return f();
  }
  void Notify() { cv.notify_all(); }
};

// A device owner that records requests and answers as configured.
class TestHandler : public device::DeviceHandler {
 public:
  std::mutex mutex;
  std::vector<device::SubRef> streams, playbacks, downloads, talks;
  std::vector<std::string> opened_paths;
  std::vector<int32_t> speeds, skips;
  std::vector<std::pair<int32_t, std::string>> notices;
  std::vector<std::vector<uint8_t>> talk_data;
  std::vector<uint64_t> talk_timestamps;
  int keyframes = 0, talk_closed = 0, playback_closed = 0;
  int32_t talk_answer = 0;
  std::vector<device::RecordEntry> records;
  OctRecQuery last_query{};

  void OnStreamOpened(device::SubRef ref, int32_t, int32_t) override;
  int32_t OnKeyFrameRequest(device::SubRef) override;
  std::vector<device::RecordEntry> OnRecordList(const OctRecQuery& q) override;
  bool OnPlaybackOpen(device::SubRef ref, const std::string& path) override;
  int32_t OnPlaybackSpeed(device::SubRef, int32_t speed) override;
  int32_t OnPlaybackSkip(device::SubRef, int32_t ms) override;
  void OnPlaybackClosed(device::SubRef) override;
  bool OnDownloadOpen(device::SubRef ref, const std::string& path) override;
  int32_t OnTalkOpen(device::SubRef ref) override;
  void OnTalkData(device::SubRef, const uint8_t* data, size_t size, uint64_t ts) override;
  void OnTalkClosed(device::SubRef) override;
  void OnNotice(uint64_t, int32_t type, const std::string& data) override;
  std::string OnRemoteConfig(uint64_t, const std::string& request) override;
  template <typename F>
  auto Locked(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    return f();
  }
};

class OctTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Connects to the device by address and waits for the connect result.
  int32_t ConnectOk();
  // Waits for the n-th connection event and returns it.
  ConnEvent WaitConn(size_t n = 1);
  // Opens the live stream 1/0 and waits for its open result.
  int32_t OpenStream(int32_t conn);
  bool WaitStates(size_t n) {
    return rec.WaitFor([&] { return rec.states.size() >= n; });
  }

  Recorder rec;
  TestHandler handler;
  device::DeviceConfig config;
  std::unique_ptr<device::DeviceEngine> dev;
  int threads_before = 0;
};

}  // namespace octc::test
