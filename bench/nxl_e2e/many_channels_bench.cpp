// 512 channels at once against several virtual devices streaming 160 x 120
// at 25 frames/s: the time until every channel has reported event 1, the CPU
// time the process uses over a 5 s window, and the resident memory added
// per channel. The devices run in this process, so the CPU time and the
// memory include their side of every link.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

#include "sdk_probe.h"
#include "vdevice/device_host.h"

namespace nxl_e2e {
namespace {

using qcsdk::bench::ProcessCpuSeconds;
using qcsdk::bench::ResidentBytes;
using qcsdk::bench::SdkProbe;

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 512;
constexpr int kDevices = 8;
constexpr auto kCpuWindow = std::chrono::seconds(5);

void BM_ManyChannels(benchmark::State& state) {
  for (auto _ : state) {
    vdevice::DeviceHost devices;
    std::string error;
    for (int d = 0; d < kDevices; ++d) {
      vdevice::DeviceSpec spec;
      spec.password = "secret";
      spec.width = 160;
      spec.height = 120;
      spec.fps = 25;
      spec.client_limit = kChannels / kDevices;
      if (devices.Add(spec, &error) < 0) {
        state.SkipWithError(error.c_str());
        return;
      }
    }
    SdkProbe sdk;
    const uint64_t before = ResidentBytes();
    const auto start = Clock::now();
    for (int i = 0; i < kChannels; ++i) {
      const int port = devices.nxl(static_cast<size_t>(i % kDevices)).port();
      QCSDK_Connect("127.0.0.1", port, 0, "admin", "secret", 0, nullptr);
    }
    const bool all = sdk.WaitConnected(kChannels, 120000);
    const double connect_s = std::chrono::duration<double>(Clock::now() - start).count();
    if (!all) {
      const std::string text = "connected " + std::to_string(sdk.counters().connected.load()) +
                               ", failed " + std::to_string(sdk.counters().failed.load());
      state.SkipWithError(text.c_str());
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // settle
    const uint64_t frames0 = sdk.counters().frames;
    const double cpu0 = ProcessCpuSeconds();
    const auto window_start = Clock::now();
    std::this_thread::sleep_for(kCpuWindow);
    const double wall = std::chrono::duration<double>(Clock::now() - window_start).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const uint64_t after = ResidentBytes();
    state.counters["connect_all_s"] = connect_s;
    state.counters["cpu_percent"] = 100.0 * cpu / wall;  // of one core
    state.counters["raw_frames_per_s"] =
        static_cast<double>(sdk.counters().frames - frames0) / wall;
    state.counters["rss_KiB_per_channel"] =
        after > before ? static_cast<double>(after - before) / 1024.0 / kChannels : 0;
  }
}
BENCHMARK(BM_ManyChannels)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace nxl_e2e
