// Frames pushed by the device engine until the client's data callback has
// seen them all, and the round trip of a synchronous command.
#include <benchmark/benchmark.h>
#include <octc/octc.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "octc_device/device.h"

namespace {

std::atomic<int64_t> g_frames{0};
std::atomic<int32_t> g_connResult{1};
std::atomic<int32_t> g_streamResult{1};

void OnConn(int32_t, int32_t event, int32_t, int32_t result, int32_t, int32_t, int32_t,
            const OctDevInfo*) {
  if (event == OCTC_CONN_RESULT) g_connResult = result;
}
void OnState(int32_t, int32_t, int32_t status, int32_t result) {
  if (status == OCTC_STATE_RESULT) g_streamResult = result;
}
void OnData(int32_t, int32_t, int32_t kind, const void*) {
  if (kind == OCTC_DATA_VIDEO) ++g_frames;
}

template <typename F>
bool Await(F f) {
  for (int i = 0; i < 5000 && !f(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return f();
}

// One device and one logged-in connection with an open live stream.
struct Setup {
  octc::device::DeviceEngine dev{octc::device::DeviceConfig{}, nullptr};
  int32_t conn = -1;
  bool ok = false;
  Setup() {
    octc_init_sdk("/tmp", 0, "bench", 0, 0);
    octc_register_callbacks(OnConn);
    octc_stream_init_module(OnState, OnData);
    g_connResult = 1;
    g_streamResult = 1;
    if (!dev.Start()) return;
    conn = octc_connect_by_hostname("127.0.0.1", dev.port(), "admin", "admin", 0, 0, 0);
    if (!Await([] { return g_connResult.load() != 1; }) || g_connResult != 0) return;
    octc_stream_open(conn, 1, 0, 0, 1);
    ok = Await([] { return g_streamResult.load() != 1; }) && g_streamResult == 0;
  }
  ~Setup() {
    octc_release_sdk();
    dev.Stop();
  }
};

void BM_LiveFrames(benchmark::State& state) {
  Setup s;
  if (!s.ok) {
    state.SkipWithError("set-up failed");
    return;
  }
  std::vector<uint8_t> frame(static_cast<size_t>(state.range(0)), 0x5A);
  const int batch = 64;
  for (auto _ : state) {
    int64_t target = g_frames.load() + batch;
    for (int i = 0; i < batch; ++i)
      s.dev.PushFrame(1, 0, OCTC_FRAME_P, frame.data(), frame.size(), 0);
    while (g_frames.load() < target) std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  state.SetItemsProcessed(state.iterations() * batch);
  state.SetBytesProcessed(state.iterations() * batch * state.range(0));
}
BENCHMARK(BM_LiveFrames)->Arg(1024)->Arg(64 * 1024)->Arg(512 * 1024)->UseRealTime();

void BM_DeviceInfoRoundTrip(benchmark::State& state) {
  Setup s;
  if (!s.ok) {
    state.SkipWithError("set-up failed");
    return;
  }
  for (auto _ : state) {
    OctDevInfo info{};
    if (octc_cmd_get_dev_info(s.conn, &info) != 0) {
      state.SkipWithError("command failed");
      break;
    }
    octc_cmd_free_dev_info(&info);
  }
}
BENCHMARK(BM_DeviceInfoRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
