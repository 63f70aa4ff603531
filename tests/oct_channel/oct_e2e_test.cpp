// OCT channels end to end: the SDK with its real OCT library against the
// device engine on loopback.
#include <cjson/cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <octc/octc.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "octc_device/device.h"
#include "qcsdk/oct/oct_conn.h"
#include "support/host_recorder.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
namespace device = octc::device;

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(timeoutMs));
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

OctMediaInfo Media(int32_t durationMs) {
  OctMediaInfo m{};
  m.video_codec = 1;
  m.width = 640;
  m.height = 360;
  m.frame_rate_x10000 = 250000;
  m.audio_codec = 4;
  m.audio_channels = 1;
  m.audio_sample_rate = 8000;
  m.audio_bits = 16;
  m.duration_ms = durationMs;
  return m;
}

// The device owner: records what the SDK asked for.
class Device : public device::DeviceHandler {
 public:
  std::mutex mutex;
  std::vector<device::SubRef> streams, playbacks, downloads;
  std::vector<int32_t> speeds, skips;
  std::vector<std::pair<int32_t, std::string>> notices;
  std::vector<std::string> requests;

  template <typename F>
  auto Locked(F f) {
    std::lock_guard<std::mutex> guard(mutex);
    return f();
  }
  void OnStreamOpened(device::SubRef ref, int32_t, int32_t) override {
    Locked([&] { streams.push_back(ref); });
  }
  std::vector<device::RecordEntry> OnRecordList(const OctRecQuery&) override {
    device::RecordEntry a;
    a.name = "morning.mp4";
    a.path = "/rec/1.mp4";
    a.hour = 8;
    a.minute = 30;
    device::RecordEntry b = a;
    b.name = "evening.mp4";
    b.path = "/rec/2.mp4";
    b.hour = 20;
    return {a, b};
  }
  bool OnPlaybackOpen(device::SubRef ref, const std::string&) override {
    Locked([&] { playbacks.push_back(ref); });
    return true;
  }
  int32_t OnPlaybackSpeed(device::SubRef, int32_t speed) override {
    Locked([&] { speeds.push_back(speed); });
    return 0;
  }
  int32_t OnPlaybackSkip(device::SubRef, int32_t ms) override {
    Locked([&] { skips.push_back(ms); });
    return 0;
  }
  bool OnDownloadOpen(device::SubRef ref, const std::string&) override {
    Locked([&] { downloads.push_back(ref); });
    return true;
  }
  void OnNotice(uint64_t, int32_t type, const std::string& data) override {
    Locked([&] { notices.emplace_back(type, data); });
  }
  // Answers every RPC request with its own "sentcnt" and no error.
  std::string OnRemoteConfig(uint64_t, const std::string& request) override {
    Locked([&] { requests.push_back(request); });
    int sent = -1;
    if (cJSON* root = cJSON_ParseWithLength(request.data(), request.size())) {
      const cJSON* count = cJSON_GetObjectItem(root, "sentcnt");
      if (cJSON_IsNumber(count)) sent = count->valueint;
      cJSON_Delete(root);
    }
    return "{\"sentcnt\":" + std::to_string(sent) + "}";
  }
};

std::mutex g_userMutex;
std::vector<std::pair<int32_t, std::string>> g_userData;
void OnUserData(int32_t channel, const uint8_t* data, int32_t length) {
  std::lock_guard<std::mutex> guard(g_userMutex);
  g_userData.emplace_back(channel, std::string(reinterpret_cast<const char*>(data), length));
}

class OctEndToEnd : public ::testing::Test {
 protected:
  Device handler;
  std::unique_ptr<device::DeviceEngine> dev;
  std::unique_ptr<HostRecorder> host;

  void SetUp() override {
    octc_set_timeouts(2000, 10000, ScaledMs(5000));
    device::DeviceConfig config;
    config.password = "s3cret";
    config.channel_count = 2;
    config.device_type = 3;
    dev = std::make_unique<device::DeviceEngine>(config, &handler);
    dev->SetMediaInfo(1, 0, Media(0));
    ASSERT_TRUE(dev->Start());
    host = std::make_unique<HostRecorder>();
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  }
  void TearDown() override {
    QCSDK_RegisterUserDataCallback(nullptr);
    QCSDK_ReleaseSDK();
    host.reset();
    dev->Stop();
    octc_set_timeouts(2000, 10000, 5000);
  }
  int32_t Connect(const char* password = "s3cret") {
    return QCSDK_Connect2(1, "127.0.0.1", dev->port(), 1, 0, "admin", password, 0, nullptr);
  }
  // Connects and waits until the device has the stream open.
  int32_t ConnectLive(int count = 1) {
    const int32_t n = Connect();
    EXPECT_GE(n, 0);
    EXPECT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED, count))
        << ::testing::PrintToString(host->Codes()) << " conns " << OctConnectionCount()
        << " sessions " << dev->SessionCount();
    EXPECT_TRUE(WaitUntil([&] {
      return handler.Locked([&] { return handler.streams.size() >= static_cast<size_t>(count); });
    }));
    return n;
  }
};

TEST_F(OctEndToEnd, LiveStreamPlaybackAndDownload) {
  const int32_t n = ConnectLive();
  int32_t type = -1;
  EXPECT_EQ(QCSDK_GetDeviceInfo(n, &type), 1);
  EXPECT_EQ(type, 3);  // device type 3 from the device information
  const uint8_t key[] = {0, 0, 0, 1, 0x65, 1, 2, 3};
  const uint8_t p[] = {0, 0, 0, 1, 0x41, 9};
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_KEY, key, sizeof key, 40), 1);
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_P, p, sizeof p, 80), 1);
  ASSERT_TRUE(WaitUntil([&] { return host->Raw().size() >= 2; }));
  EXPECT_EQ(host->Raw()[0].type, QCSDK_FRAME_KEY);
  EXPECT_EQ(host->Raw()[0].length, static_cast<int32_t>(sizeof key));
  EXPECT_EQ(host->Raw()[1].type, QCSDK_FRAME_P);

  const int32_t dates[6] = {2026, 12, 1, 2026, 12, 5};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_REC_LIST));
  EXPECT_EQ(host->Events().back().value, 2);

  // Playback at every speed up to 16x and back; pause keeps the speed.
  ASSERT_EQ(QCSDK_RemotePlay(n, 1), 1);
  ASSERT_TRUE(WaitUntil([&] { return handler.Locked([&] { return handler.playbacks.size(); }); }));
  const device::SubRef play = handler.Locked([&] { return handler.playbacks[0]; });
  ASSERT_TRUE(dev->PlaybackMediaInfo(play, Media(60000)));
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_STREAM_CHANGED));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 3, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 4, 0), 1);
  ASSERT_TRUE(
      WaitUntil([&] { return handler.Locked([&] { return handler.speeds.size() >= 8; }); }));
  EXPECT_THAT(handler.Locked([&] { return handler.speeds; }),
              ElementsAre(2, 4, 8, 16, 16, 0, 8, 1));
  // Frame 50 at 25 frames per second is 2 seconds in.
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 5, 50), 1);
  ASSERT_TRUE(WaitUntil([&] { return handler.Locked([&] { return handler.skips.size(); }); }));
  EXPECT_THAT(handler.Locked([&] { return handler.skips; }), ElementsAre(2000));
  ASSERT_TRUE(dev->PlaybackFrame(play, OCTC_FRAME_KEY, key, sizeof key, 0));
  ASSERT_TRUE(WaitUntil([&] { return host->Raw().size() >= 3; }));
  ASSERT_TRUE(dev->EndPlayback(play, 0, 0));
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_PLAYBACK_END_12));

  // Downloads: a complete one ends with 1, a cut one with 2.
  const std::string path =
      (std::filesystem::temp_directory_path() / ("oct_e2e_down_" + std::to_string(::getpid())))
          .string();
  const std::vector<uint8_t> file(3000, 0x5A);
  auto endCode = [&](bool complete) {
    const size_t before = handler.Locked([&] { return handler.downloads.size(); });
    const size_t reports = host->Downloads().size();
    EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 0, path.c_str()), 1);
    EXPECT_TRUE(WaitUntil(
        [&] { return handler.Locked([&] { return handler.downloads.size(); }) > before; }));
    const device::SubRef down = handler.Locked([&] { return handler.downloads.back(); });
    const size_t sent = complete ? file.size() : 1000;
    EXPECT_TRUE(dev->DownloadData(down, file.data(), sent, file.size(), sent));
    EXPECT_TRUE(dev->EndDownload(down, OCTC_STATE_CLOSED, 0));
    EXPECT_TRUE(WaitUntil([&] {
      const auto d = host->Downloads();
      return d.size() > reports && d.back().code != QCSDK_DOWNLOAD_PROGRESS;
    }));
    EXPECT_EQ(std::filesystem::file_size(path), sent);
    return host->Downloads().back().code;
  };
  EXPECT_EQ(endCode(true), QCSDK_DOWNLOAD_END_1);
  EXPECT_EQ(endCode(false), QCSDK_DOWNLOAD_END_2);
  std::filesystem::remove(path);

  // PTZ and the RPC layer over the synchronous exchange.
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 9, 1), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 9, 0), 1);
  const auto requests = handler.Locked([&] { return handler.requests; });
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\"method\":\"ptz_move_start\""), std::string::npos);
  EXPECT_NE(requests[1].find("\"method\":\"ptz_move_stop\""), std::string::npos);
}

TEST_F(OctEndToEnd, UserDataToChannelZeroReachesEveryChannelOnce) {
  const int32_t a = ConnectLive(1);
  const int32_t b = ConnectLive(2);
  EXPECT_EQ(dev->SessionCount(), 1u);  // one shared connection
  ASSERT_EQ(QCSDK_SendUserData(b, "ping", 4), 1);
  ASSERT_TRUE(WaitUntil([&] { return handler.Locked([&] { return handler.notices.size(); }); }));
  const auto notice = handler.Locked([&] { return handler.notices[0]; });
  EXPECT_EQ(notice.first, 1029);
  EXPECT_EQ(notice.second, std::string("qcsdk_user_data:\0\0\0\1ping", 24));

  {
    std::lock_guard<std::mutex> guard(g_userMutex);
    g_userData.clear();
  }
  QCSDK_RegisterUserDataCallback(&OnUserData);
  const std::string all("qcsdk_user_data:\0\0\0\0hello", 25);
  EXPECT_EQ(dev->SendNotice(1029, all.data(), all.size()), 1);
  const std::string toB("qcsdk_user_data:\0\0\0\1only b", 26);
  EXPECT_EQ(dev->SendNotice(1029, toB.data(), toB.size()), 1);
  const std::string start = R"({"channel":1,"start":{"reason":"alarm"}})";
  EXPECT_EQ(dev->SendNotice(1025, start.data(), start.size()), 1);
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_RECORDING_STATE, 2));
  std::lock_guard<std::mutex> guard(g_userMutex);
  std::vector<std::pair<int32_t, std::string>> got = g_userData;
  std::sort(got.begin(), got.end());
  EXPECT_THAT(got, ElementsAre(std::pair<int32_t, std::string>{a, "hello"},
                               std::pair<int32_t, std::string>{b, "hello"},
                               std::pair<int32_t, std::string>{b, "only b"}));
}

TEST_F(OctEndToEnd, RefusedAndClosedLinks) {
  EXPECT_GE(Connect("wrong"), 0);
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_AUTH_FAILED));

  const int32_t a = ConnectLive();
  // The device closes the stream: the channel is told and leaves.
  EXPECT_EQ(dev->CloseStreams(1, 0), 1);
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_REMOTE_CLOSED));
  EXPECT_EQ(host->Events().back().channel, a);
  // With no channel left the connection is retired and its link closed.
  ASSERT_TRUE(WaitUntil([&] { return dev->SessionCount() == 0; }));
  EXPECT_EQ(OctConnectionCount(), 0u);

  // The device closes the whole link.
  const int32_t b = ConnectLive(2);
  dev->CloseLinks();
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_REMOTE_CLOSED, 2));
  EXPECT_EQ(host->Events().back().channel, b);
  ASSERT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
}

}  // namespace
}  // namespace qcsdk::test
