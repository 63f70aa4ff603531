// The SDK beside a normal device against simulator devices mutating every message, both transports.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <atomic>
#include <filesystem>
#include <shared_mutex>

#include "platform/os.h"
#include "support/host_recorder.h"
#include "support/process_probe.h"
#include "support/simulated_devices.h"

namespace qcsdk::test {
namespace {

using Clock = std::chrono::steady_clock;

// Seeds 1..kSeeds on each transport, run by kWorkers host threads at once; among them seeds whose
// devices once hung the SDK (14 on Nxl, and those answering a list with 4 MiB of entries).
constexpr int kSeeds = 32, kWorkers = 3;
constexpr int kQuickMs = 2000;  // exports that only queue a message or read state
constexpr int kWaitMs = 6000;   // exports that wait for the device: 5 s budgets

constexpr int kPollMs = 5;  // the devices were tuned against this polling rate
// An export run through HostileRun::Call on the channel of `user`, named by its own text.
#define CALL(budgetMs, call) Call(user, #call, budgetMs, [&] { return call; })

class HostileRun {
 public:
  HostileRun(HostRecorder& host, std::filesystem::path dir) : host_(host), dir_(std::move(dir)) {}

  // Drives every export on a channel to a new hostile device.
  void Seed(int seed, int transport) {
    SCOPED_TRACE("seed " + std::to_string(seed) + (transport ? " OCT" : " Nxl"));
    // Type 3 (handshake, 10-byte list entries) or 1 (7-byte), raw and chunked downloads, mostly
    // the whole header record, whose RPC-support byte opens RPC on Nxl.
    std::string settings = "width=160,height=120,type=" + std::to_string(seed % 2 == 0 ? 3 : 1) +
                           ",kind=" + std::to_string(seed % 5) +
                           ",fault=hostile:" + std::to_string(seed);
    if (seed % 4 == 3) settings += seed % 8 < 4 ? ",header=short" : ",header=ext";
    SimulatedDevices device;
    std::string error;
    const vdevice::DevicePorts ports = device.AddDevice(settings, &error);
    ASSERT_GE(ports.nxl, 0) << error;
    const bool oct = transport == QCSDK_TRANSPORT_OCT;
    void* user = User(seed, transport);
    std::unique_lock connecting(numbers_);
    const int32_t n = QCSDK_Connect2(transport, "127.0.0.1", oct ? ports.oct : ports.nxl,
                                     oct ? 1 : 0, 0, "admin", "admin", 0, user);
    ASSERT_GE(n, 0);
    connecting.unlock();
    // Connected, or refused: the device's answers may break the login.
    ASSERT_TRUE(WaitUntil([&] { return Count(user, 1) + Terminal(user) > 0; }, 15000, kPollMs));
    if (Count(user, 1) > 0) Drive(n, user, seed);
    CALL(kQuickMs, QCSDK_Disconnect(n));
    EXPECT_TRUE(WaitUntil([&] { return Terminal(user) > 0; }, 10000, kPollMs));
  }

  static void* User(int seed, int transport) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(seed * 2 + transport + 1));
  }
  // Events of `user` with a code from `first` to `last`.
  int Count(void* user, int32_t first, int32_t last) const {
    return static_cast<int>(std::ranges::count_if(host_.Events(), [&](const HostEvent& e) {
      return e.user == user && e.code >= first && e.code <= last;
    }));
  }
  int Count(void* user, int32_t code) const { return Count(user, code, code); }
  // The link's end reports.
  int Terminal(void* user) const {
    return Count(user, QCSDK_EVENT_AUTH_FAILED, QCSDK_EVENT_REMOTE_CLOSED);
  }

 private:
  // Runs one export on the channel of `user` unless its link ended (the number may then name
  // another seed's channel; no connect reuses a number during an export): 0 or 1 within its budget.
  int32_t Call(void* user, const char* name, int budgetMs, const std::function<int32_t()>& call) {
    std::shared_lock running(numbers_);
    if (Terminal(user) > 0) return -1;
    const auto start = Clock::now();
    const int32_t result = call();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_LE(ms, ScaledMs(budgetMs)) << name;
    EXPECT_TRUE(result == 0 || result == 1) << name << " returned " << result;
    return result;
  }

  void Drive(int32_t n, void* user, int seed) {
    const std::string base = (dir_ / std::to_string(seed)).string();
    int32_t type = 0, width = 0, height = 0;
    StreamInfo info{};
    CALL(kQuickMs, QCSDK_GetDeviceInfo(n, &type));
    CALL(kQuickMs, QCSDK_GetStreamInfo(n, &info));
    CALL(kQuickMs, QCSDK_EnableDecoder(n, 1));
    static constexpr const char* kExtensions[] = {".sv4", ".sv5", ".sv6", ".mp4", ".mp4"};
    const int kind = info.recordingKind >= 1 && info.recordingKind <= 5 ? info.recordingKind : 1;
    CALL(kQuickMs, QCSDK_StartRec(n, (base + kExtensions[kind - 1]).c_str()));
    CALL(kQuickMs, QCSDK_EnableVideoData(n, 1));

    const os::LocalTime t = os::Now();  // the devices list today's recordings
    const int32_t dates[6] = {t.year, t.month, t.day, t.year, t.month, t.day};
    const int lists = Count(user, 10, 11);
    CALL(kWaitMs, QCSDK_GetRemoteRecFileList(n, dates));
    WaitUntil([&] { return Count(user, 10, 11) > lists || Terminal(user) > 0; }, kWaitMs, kPollMs);
    const size_t downloads = host_.Downloads().size();
    CALL(kQuickMs, QCSDK_RemotePlay(n, 0));
    for (int32_t command = 0; command <= 5; ++command)
      CALL(kWaitMs, QCSDK_RemotePlayControl(n, command, command == 5 ? 0x7FFFFFFF : 1));
    CALL(kQuickMs, QCSDK_DownloadRemoteFile(n, 0, (base + ".download").c_str()));
    const uint8_t audio[320] = {};
    CALL(kQuickMs, QCSDK_StartTalk(n));
    CALL(kQuickMs, QCSDK_SendTalkData(n, audio, sizeof audio));
    CALL(kQuickMs, QCSDK_StopTalk(n));
    CALL(kQuickMs, QCSDK_SendUserData(n, audio, 16));
    CALL(kWaitMs, QCSDK_SendPTZCommand(n, 4, 1));
    CALL(2 * kWaitMs, QCSDK_RemoteRecording(n, 1));
    // RPC calls only over an open exchange, closed whatever the answers.
    if (CALL(kWaitMs, QCSDK_GRPC_Begin(n)) == 1) {
      qvbu_dev_get_info_result device{};
      CALL(kWaitMs, QCSDK_GRPC_dev_get_info(n, nullptr, &device));
      qvbu_ptz_patrols_get_param patrolsParam{};
      qvbu_ptz_patrols_get_result patrols{};
      CALL(kWaitMs, QCSDK_GRPC_ptz_patrols_get(n, &patrolsParam, &patrols));
      qvbu_log_get_param logParam{};
      qvbu_log_get_result log{};
      CALL(kWaitMs, QCSDK_GRPC_log_get(n, &logParam, &log));
    }
    CALL(kQuickMs, QCSDK_GRPC_End(n));
    CALL(kQuickMs, QCSDK_GRPC_FreeResults(n));
    CALL(3 * kWaitMs, QCSDK_RemoteConfig(n, 0));  // each device text restarts its 5 s wait

    uint8_t* bitmap = nullptr;
    CALL(kQuickMs, QCSDK_SaveBitmapToBuffer(n, &bitmap, &width, &height));
    QCSDK_FreeBitmapBuffer(bitmap);
    CALL(kQuickMs, QCSDK_SaveBitmap(n, (base + ".bmp").c_str()));
    CALL(kQuickMs, QCSDK_Refresh(n));
    WaitUntil(
        [&] {
          const auto all = host_.Downloads();
          for (size_t i = downloads; i < all.size(); ++i)
            if (all[i].channel == n && all[i].code != QCSDK_DOWNLOAD_PROGRESS) return true;
          return Terminal(user) > 0;
        },
        kWaitMs, kPollMs);
    CALL(kQuickMs, QCSDK_EnableDecoder(n, 0));
    CALL(kQuickMs, QCSDK_StopRec(n));
  }

  HostRecorder& host_;
  const std::filesystem::path dir_;
  std::shared_mutex numbers_;
};

TEST(HostileDevice, NeverCrashesHangsOrLeaksAndSparesTheOtherChannels) {
  std::thread([] {}).join();  // a sanitizer's runtime starts a thread of its own
  const int threads = ThreadCount();
  std::filesystem::path dir;
  {
    auto host = std::make_unique<HostRecorder>();
    SimulatedDevices normal;
    std::string error;
    const vdevice::DevicePorts ports = normal.AddDevice("width=160,height=120", &error);
    ASSERT_GE(ports.nxl, 0) << error;
    // Named by the normal device's port, which no other program holds meanwhile.
    dir = std::filesystem::temp_directory_path() / ("qcsdk_hostile_" + std::to_string(ports.nxl));
    std::filesystem::create_directories(dir);
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    // Whatever library a hostile device sends, none is loaded.
    const char* const nothing[] = {
        "0000000000000000000000000000000000000000000000000000000000000000"};
    ASSERT_EQ(QCSDK_SetCfgDialogDigests(nothing, 1), 1);
    void* const kNormal = reinterpret_cast<void*>(uintptr_t{1} << 20);
    const int32_t nxl = QCSDK_Connect2(QCSDK_TRANSPORT_NXL, "127.0.0.1", ports.nxl, 0, 0, "admin",
                                       "admin", 0, kNormal);
    const int32_t oct = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", ports.oct, 1, 0, "admin",
                                       "admin", 0, kNormal);
    ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED, 2, ScaledMs(10000)));
    auto frames = [&](int32_t channel) {
      return std::ranges::count_if(host->Raw(), [&](auto& r) { return r.channel == channel; });
    };

    HostileRun run(*host, dir);
    std::atomic<int> next{0}, running{kWorkers};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&] {
        for (int i; (i = next++) < 2 * kSeeds;)
          run.Seed(1 + i / 2, i % 2 == 0 ? QCSDK_TRANSPORT_NXL : QCSDK_TRANSPORT_OCT);
        --running;
      });
    }
    // The normal channels stream on throughout.
    while (running > 0) {
      const auto a = frames(nxl), b = frames(oct);
      EXPECT_TRUE(
          WaitUntil([&] { return frames(nxl) > a + 5 && frames(oct) > b + 5; }, 5000, kPollMs))
          << frames(nxl) - a << " Nxl and " << frames(oct) - b << " OCT frames";
    }
    for (std::thread& t : workers) t.join();
    StreamInfo info{};
    for (const int32_t n : {nxl, oct}) EXPECT_EQ(QCSDK_GetStreamInfo(n, &info), 1) << n;
    EXPECT_EQ(run.Terminal(kNormal), 0);
    // Each hostile channel ended exactly once, after at most one event 1.
    for (int seed = 1; seed <= kSeeds; ++seed) {
      for (int transport : {QCSDK_TRANSPORT_NXL, QCSDK_TRANSPORT_OCT}) {
        void* user = HostileRun::User(seed, transport);
        EXPECT_EQ(run.Terminal(user), 1) << "seed " << seed << " transport " << transport;
        EXPECT_LE(run.Count(user, QCSDK_EVENT_CONNECTED), 1) << "seed " << seed;
      }
    }
    QCSDK_ReleaseSDK();
    normal.Stop();
  }
  // A joined thread stays listed by the kernel for a moment after its join.
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; })) << ThreadCount() << " threads";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qcsdk::test
