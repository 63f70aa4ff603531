// Live-frame throughput from the device engine through the qvc library to
// the live callback, and the time of a connect with its login, on loopback.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "qvc/device/device_server.h"
#include "qvc/qvc.h"

namespace {

std::atomic<int64_t> g_frames{0};
std::mutex g_mu;
std::condition_variable g_cv;
int g_results = 0;

void OnConnect(int32_t, uint8_t, const char*) {
  std::lock_guard lock(g_mu);
  ++g_results;
  g_cv.notify_all();
}
void OnLive(int32_t, uint8_t, const uint8_t*, int32_t) { g_frames.fetch_add(1); }

void WaitResults(int n) {
  std::unique_lock lock(g_mu);
  g_cv.wait(lock, [n] { return g_results >= n; });
}

qvc::device::DeviceConfig Config() {
  qvc::device::DeviceConfig config;
  config.password = "bench";
  return config;
}

void BM_LiveFrames(benchmark::State& state) {
  const size_t frame_size = static_cast<size_t>(state.range(0));
  std::atomic<qvc::device::ClientId> client{0};
  qvc::device::DeviceServer device(
      Config(), {[&](const qvc::device::ClientInfo& info) { client.store(info.id); }, {}, {}});
  device.Start(0);
  QVC_RegisterCallBack(&OnConnect, &OnLive, nullptr, nullptr, nullptr, nullptr, nullptr);
  QVC_InitSDK(0, 0);
  g_results = 0;
  QVC_Connect(0, 1, 0, "127.0.0.1", device.port(), "admin", "bench", -1, nullptr, 0, 0, 0, 0, 0);
  WaitResults(1);
  while (client.load() == 0) {
  }
  std::vector<uint8_t> frame(frame_size, 0x5A);
  const int kBatch = 256;
  for (auto _ : state) {
    int64_t target = g_frames.load() + kBatch;
    for (int i = 0; i < kBatch; ++i) device.SendLive(client.load(), 3, frame.data(), frame.size());
    while (g_frames.load() < target) {
    }
  }
  state.SetBytesProcessed(state.iterations() * kBatch * static_cast<int64_t>(frame_size));
  state.SetItemsProcessed(state.iterations() * kBatch);
  QVC_ReleaseSDK();
}
BENCHMARK(BM_LiveFrames)->Arg(1024)->Arg(64 * 1024)->Arg(1024 * 1024)->UseRealTime();

void BM_ConnectAndLogin(benchmark::State& state) {
  qvc::device::DeviceServer device(Config(), {});
  device.Start(0);
  QVC_RegisterCallBack(&OnConnect, &OnLive, nullptr, nullptr, nullptr, nullptr, nullptr);
  QVC_InitSDK(0, 0);
  g_results = 0;
  int expected = 0;
  for (auto _ : state) {
    QVC_Connect(0, 1, 0, "127.0.0.1", device.port(), "admin", "bench", -1, nullptr, 0, 0, 0, 0, 0);
    WaitResults(++expected);
    state.PauseTiming();
    QVC_DisConnect(1);
    ++expected;
    state.ResumeTiming();
  }
  QVC_ReleaseSDK();
}
BENCHMARK(BM_ConnectAndLogin)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
