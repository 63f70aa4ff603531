// The SDK end to end over the Nxl transport: the real libraries and a
// virtual device of the simulator on loopback.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "qcsdk/channel/channel.h"
#include "qcsdk/facade/config_dialog.h"
#include "qcsdk/facade/lifecycle.h"
#include "qcsdk/facade/registry.h"
#include "qvc/device/device_server.h"
#include "support/host_recorder.h"
#include "vdevice/device_host.h"
#include "vdevice/media_clip.h"
#include "vdevice/stream_header.h"

namespace qcsdk::test {
namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A device that logs clients in, sends them the live stream header (with
// the RPC-support byte), accepts text exchanges and then never answers an
// RPC request: the silent case the simulator's faults do not produce (its
// slow switch delays the login and the text acceptance too).
class SilentRpcDevice {
 public:
  SilentRpcDevice() {
    qvc::device::DeviceConfig config;
    config.user = "admin";
    config.password = "secret";
    qvc::device::DeviceHandlers handlers;
    handlers.on_login = [this](const qvc::device::ClientInfo& info) {
      vdevice::DeviceSpec spec;
      spec.width = 160;
      spec.height = 120;
      const auto clip =
          vdevice::TestPatternClip(spec.codec, spec.width, spec.height, spec.fps, 1, 1);
      const auto m = vdevice::StreamHeaderMessage(spec, *clip, 0, false);
      server_->SendLive(info.id, 8, m.data(), m.size());
    };
    handlers.on_message = [this](qvc::device::ClientId id, uint32_t type, const uint8_t* data,
                                 size_t size) {
      if (type == 80) server_->SendText(id, 82, nullptr, 0);  // text exchange accepted
      if (type == 81 && size >= 5 && std::memcmp(data, "grpc:", 5) == 0) ++requests_;
    };
    server_ = std::make_unique<qvc::device::DeviceServer>(config, std::move(handlers));
  }
  ~SilentRpcDevice() { server_->Stop(); }
  bool Start() { return server_->Start(0); }
  int port() const { return server_->port(); }
  int requests() const { return requests_; }

 private:
  std::unique_ptr<qvc::device::DeviceServer> server_;
  std::atomic<int> requests_{0};
};

class NxlE2eTest : public ::testing::Test {
 protected:
  vdevice::DeviceHost devices;
  std::unique_ptr<HostRecorder> host;
  std::filesystem::path dir;

  void SetUp() override {
    host = std::make_unique<HostRecorder>();
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    dir = std::filesystem::temp_directory_path() /
          ("qcsdk_nxl_e2e_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    QCSDK_ReleaseSDK();
    devices.Stop();
    host.reset();
    std::filesystem::remove_all(dir);
  }
  int Device(vdevice::DeviceSpec spec) {
    spec.user = "admin";
    if (spec.password == "admin") spec.password = "secret";
    std::string error;
    const int index = devices.Add(spec, &error);
    EXPECT_GE(index, 0) << error;
    return devices.nxl(static_cast<size_t>(index)).port();
  }
  int32_t Connect(int port, const char* password = "secret") {
    return QCSDK_Connect("127.0.0.1", port, 0, "admin", password, 0, nullptr);
  }
  bool Wait(const std::function<bool()>& pred, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(ms));
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
};

TEST_F(NxlE2eTest, RefusalsEndTheChannelWithTheirEvent) {
  vdevice::DeviceSpec spec;
  const int ok = Device(spec);
  spec.faults.no_channel = true;
  const int noChannel = Device(spec);
  spec.faults.no_channel = false;
  spec.faults.client_limit = true;
  const int limit = Device(spec);
  const struct {
    const char* address;
    int port;
    const char* password;
    int event;
  } cases[] = {{"127.0.0.1", ok, "wrong", QCSDK_EVENT_AUTH_FAILED},
               {"127.0.0.1", noChannel, "secret", QCSDK_EVENT_NO_CHANNEL},
               {"127.0.0.1", limit, "secret", QCSDK_EVENT_CLIENT_LIMIT},
               {"127.0.0.1", 1, "secret", QCSDK_EVENT_CONNECT_FAILED},  // nothing listens
               // Refused by the library at once, reported all the same.
               {"127.0.0.1", 70000, "secret", QCSDK_EVENT_CONNECT_FAILED},
               // Addresses the SDK accepts reach the device.
               {"127.1", ok, "secret", QCSDK_EVENT_CONNECTED},
               {"127.0.0.1 ", ok, "secret", QCSDK_EVENT_CONNECTED}};
  for (const auto& c : cases) {
    const int before = host->Count(c.event);
    const int32_t n = QCSDK_Connect(c.address, c.port, 0, "admin", c.password, 0, nullptr);
    ASSERT_EQ(n, 0);
    ASSERT_TRUE(host->WaitFor(c.event, before + 1)) << c.event;
    if (c.event == QCSDK_EVENT_CONNECTED) QCSDK_Disconnect(n);
    EXPECT_TRUE(Wait([&] { return QCSDK_Disconnect(n) == 0; }));  // the number is free
  }
}

TEST_F(NxlE2eTest, LiveStreamDecodesAndLinkEndings) {
  vdevice::DeviceSpec spec;
  const int port = Device(spec);
  const int32_t n = Connect(port);
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED));
  StreamInfo info{};
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  ASSERT_TRUE(Wait([&] { return host->Raw().size() >= 10; }));
  ASSERT_EQ(QCSDK_EnableDecoder(n, 1), 1);
  ASSERT_TRUE(Wait([&] { return host->Decoded().size() >= 3; }));
  EXPECT_EQ(host->Decoded().back().width, 320);
  EXPECT_EQ(QCSDK_Disconnect(n), 1);
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_DISCONNECTED));

  vdevice::DeviceSpec drop;
  drop.faults.drop_after_frames = 20;
  const int32_t a = Connect(Device(drop));
  ASSERT_GE(a, 0);
  EXPECT_TRUE(host->WaitFor(QCSDK_EVENT_LINK_LOST));
  vdevice::DeviceSpec close;
  close.faults.close_after_frames = 20;
  Connect(Device(close));
  EXPECT_TRUE(host->WaitFor(QCSDK_EVENT_REMOTE_CLOSED));
  vdevice::DeviceSpec hostile;
  hostile.faults.malformed_after_frames = 10;
  Connect(Device(hostile));
  EXPECT_TRUE(host->WaitFor(QCSDK_EVENT_LINK_LOST, 2));
}

TEST_F(NxlE2eTest, ListPlaybackAndDownloads) {
  for (int kind : {1, 3}) {
    vdevice::DeviceSpec spec;
    spec.recording_kind = kind;
    const int32_t n = Connect(Device(spec));
    ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED));
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    const int32_t dates[6] = {today.tm_year + 1900, today.tm_mon + 1, today.tm_mday,
                              today.tm_year + 1900, today.tm_mon + 1, today.tm_mday};
    ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
    ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_REC_LIST));
    EXPECT_GT(host->Events().back().value, 0);

    const int changed = host->Count(QCSDK_EVENT_STREAM_CHANGED);
    ASSERT_EQ(QCSDK_RemotePlay(n, 0), 1);
    ASSERT_TRUE(Wait([&] { return host->Count(QCSDK_EVENT_STREAM_CHANGED) > changed; }));
    // The recording runs out: a playback end, then the live header again.
    ASSERT_TRUE(
        Wait([&] { return host->Count(13) + host->Count(14) + host->Count(15) >= 1; }, 30000));
    EXPECT_TRUE(Wait([&] { return host->Count(QCSDK_EVENT_STREAM_CHANGED) >= changed + 2; }));

    const std::string file = (dir / ("download" + std::to_string(kind))).string();
    ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 0, file.c_str()), 1);
    ASSERT_TRUE(Wait(
        [&] {
          for (const auto& d : host->Downloads()) {
            if (d.code >= 1) return true;
          }
          return false;
        },
        30000));
    auto downloads = host->Downloads();
    EXPECT_EQ(downloads.back().code, 1);
    EXPECT_EQ(downloads[downloads.size() - 2].progress, 10000);
    EXPECT_GT(std::filesystem::file_size(file), 1000u);
    host.reset();  // fresh counts for the next device (the old one unregisters first)
    host = std::make_unique<HostRecorder>();
  }
}

TEST_F(NxlE2eTest, DeviceRpc) {
  vdevice::DeviceSpec spec;
  const int32_t n = Connect(Device(spec));
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED));
  ASSERT_EQ(QCSDK_GRPC_Begin(n), 1);
  qvbu_dev_get_info_result info{};
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(n, nullptr, &info), 1);  // true: the whole call succeeded
  qvbu_dev_set_info_param set{};
  set.name = "front door";
  set.hostname = info.hostname;
  set.rebootDay = info.rebootDay;
  set.syslanguage = info.syslanguage;
  int32_t placeholder = -1;
  ASSERT_EQ(QCSDK_GRPC_dev_set_info(n, &set, &placeholder), 1);
  EXPECT_EQ(placeholder, 0);
  qvbu_dev_get_info_result again{};
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(n, nullptr, &again), 1);
  ASSERT_NE(again.name, nullptr);
  EXPECT_STREQ(again.name, "front door");
  EXPECT_EQ(QCSDK_GRPC_End(n), 1);
}

TEST_F(NxlE2eTest, ConfigDialogLibraryComesFromTheDeviceAndRuns) {
  // The device's library carries a version stamp in its last four bytes
  // (the loader ignores them); a client without the library reports 0.
  std::vector<uint8_t> library = ReadAll(TEST_CFG_DIALOG);
  ASSERT_FALSE(library.empty());
  library.insert(library.end(), {0x01, 0x00, 0x02, 0x07});
  const auto source = dir / "device_library";
  std::ofstream(source, std::ios::binary)
      .write(reinterpret_cast<const char*>(library.data()),
             static_cast<std::streamsize>(library.size()));
  const auto moduleDir = dir / "module";
  std::filesystem::create_directories(moduleDir);
  char savedDir[kModuleDirCapacity];
  std::memcpy(savedDir, g_szModuleDir, sizeof savedDir);
  std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", moduleDir.c_str());

  vdevice::DeviceSpec spec;
  spec.device_type = 3;
  spec.cfg_library = source.string();
  spec.number = 4711;
  const int32_t n = Connect(Device(spec));
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED));
  EXPECT_EQ(GetInstalledCfgVersion(), 0u);
  // With an allow-list of SHA-256 digests only a listed library loads; a
  // malformed list is refused and leaves the previous one in force.
  uint8_t sha[32];
  ASSERT_EQ(EVP_Digest(library.data(), library.size(), sha, nullptr, EVP_sha256(), nullptr), 1);
  std::string good;
  for (uint8_t b : sha) good += "0123456789abcdef"[b >> 4], good += "0123456789abcdef"[b & 15];
  const std::string other(64, 'A');
  const char* onlyOther[] = {other.c_str()};
  const char* malformed[] = {good.c_str(), "12ab"};
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(onlyOther, 1), 1);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(malformed, 2), 0);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(nullptr, 1), 0);
  std::thread([&] { QCSDK_RemoteConfig(n, 1); }).join();
  EXPECT_FALSE(std::filesystem::exists(moduleDir / "dialog.log"));
  const char* both[] = {other.c_str(), good.c_str()};
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(both, 2), 1);
  int32_t result = -1;
  std::thread hostThread([&] { result = QCSDK_RemoteConfig(n, 1); });
  hostThread.join();
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(nullptr, 0), 1);
  const uint32_t installedVersion = GetInstalledCfgVersion();
  std::memcpy(g_szModuleDir, savedDir, sizeof savedDir);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadAll(moduleDir / kCfgLibraryName), library);
  EXPECT_EQ(installedVersion, 0x07020001u);
  // The installed library ran with the link, the host's value and the
  // device's parameter text.
  const std::vector<std::string> expected = {"InitRCDlg " + std::to_string(n + 1) + " 1",
                                             "SetParam 1 type=3;channels=1;number=A4711", "DoModal",
                                             "DoModal end"};
  EXPECT_EQ(Lines(moduleDir / "dialog.log"), expected);
}

TEST_F(NxlE2eTest, SilentDeviceRpcEndsAfterItsBudget) {
  SilentRpcDevice device;
  ASSERT_TRUE(device.Start());
  const int32_t n = Connect(device.port());
  ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED));
  ASSERT_EQ(QCSDK_GRPC_Begin(n), 1);
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  qvbu_dev_get_info_result info{};
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(n, nullptr, &info), 0);
  auto waited = Clock::now() - start;
  EXPECT_EQ(device.requests(), 1);
  // The whole budget passes before the call gives up (lower bound only:
  // a loaded machine may take longer).
  EXPECT_GE(waited, std::chrono::milliseconds(4900));

  // The receive itself: a request goes out, nothing comes back, -2.
  ChannelPtr channel = FindChannel(n);
  ASSERT_TRUE(channel);
  const char request[] = "{}";
  ASSERT_EQ(channel->SendGrpcRequest(nullptr, request, 2), 2);
  char buffer[64];
  int32_t elapsed = 0;
  start = Clock::now();
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, buffer, sizeof buffer, &elapsed), -2);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(4900));
  // A budget already spent ends at once with the same result.
  elapsed = 5000;
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, buffer, sizeof buffer, &elapsed), -2);
  channel.reset();
  EXPECT_EQ(QCSDK_GRPC_End(n), 1);
}

}  // namespace
}  // namespace qcsdk::test
