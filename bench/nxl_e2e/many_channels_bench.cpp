// 512 channels at once against several virtual devices streaming 160 x 120
// at 25 frames/s: the time until every channel has reported event 1, the CPU
// time the process uses over a 5 s window, the resident memory added per
// channel and the threads of the process. Argument 0: the devices run in
// this process, so the figures include their side of every link; 1: they
// run in a simulator process, so the figures are the client's alone.
// Argument 1: 0, each device sends all its channels' frames together on
// every tick (a recorder's encoder); 1, it spreads them evenly over the tick
// (cameras on clocks of their own), so the client wakes for each frame.
// Afterwards the minimal epoll loop (epoll_anchor.h) reads as many sockets
// sent the same bytes in the same pattern; cpu_x is the ratio to it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "epoll_anchor.h"
#include "sdk_probe.h"
#include "simulator_process.h"
#include "vdevice/device_host.h"

namespace nxl_e2e {
namespace {

using qcsdk::bench::ProcessCpuSeconds;
using qcsdk::bench::ResidentBytes;
using qcsdk::bench::SdkProbe;
using qcsdk::bench::SimulatorProcess;

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 512;
constexpr int kDevices = 8;
constexpr auto kCpuWindow = std::chrono::milliseconds(5000);
constexpr auto kPeriod = std::chrono::microseconds(1000000 / 25);

// Starts the devices in this process or in a simulator process; their
// Nxl ports, or an error.
std::vector<uint16_t> StartDevices(bool out_of_process, bool spread, vdevice::DeviceHost* host,
                                   SimulatorProcess* simulator, std::string* error) {
  std::vector<uint16_t> ports;
  if (out_of_process) {
    const std::string settings = "password=secret,width=160,height=120,fps=25,oct_port=-1,limit=" +
                                 std::to_string(kChannels / kDevices) +
                                 (spread ? ",pace=spread" : "");
    if (simulator->Start(std::vector<std::string>(kDevices, settings), error)) {
      ports = simulator->nxl_ports();
    }
    return ports;
  }
  for (int d = 0; d < kDevices; ++d) {
    vdevice::DeviceSpec spec;
    spec.password = "secret";
    spec.width = 160;
    spec.height = 120;
    spec.fps = 25;
    spec.spread = spread;
    spec.client_limit = kChannels / kDevices;
    const int index = host->Add(spec, error);
    if (index < 0) return {};
    ports.push_back(host->nxl(static_cast<size_t>(index)).port());
  }
  return ports;
}

void BM_ManyChannels(benchmark::State& state) {
  const bool out_of_process = state.range(0) != 0;
  const bool spread = state.range(1) != 0;
  for (auto _ : state) {
    double cpu_percent = 0, send_bytes = 0;
    {
      vdevice::DeviceHost devices;
      SimulatorProcess simulator;
      std::string error;
      const std::vector<uint16_t> ports =
          StartDevices(out_of_process, spread, &devices, &simulator, &error);
      if (ports.empty()) {
        state.SkipWithError(error.c_str());
        return;
      }
      SdkProbe sdk;
      const uint64_t before = ResidentBytes();
      const auto start = Clock::now();
      for (int i = 0; i < kChannels; ++i) {
        QCSDK_Connect("127.0.0.1", ports[static_cast<size_t>(i % kDevices)], 0, "admin", "secret",
                      0, nullptr);
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
      const uint64_t video0 = sdk.counters().video_frames, bytes0 = sdk.counters().bytes;
      const double cpu0 = ProcessCpuSeconds();
      const auto window_start = Clock::now();
      std::this_thread::sleep_for(kCpuWindow);
      const double wall = std::chrono::duration<double>(Clock::now() - window_start).count();
      const double cpu = ProcessCpuSeconds() - cpu0;
      const uint64_t after = ResidentBytes();
      state.counters["connect_all_s"] = connect_s;
      cpu_percent = 100.0 * cpu / wall;  // of one core
      state.counters["cpu_percent"] = cpu_percent;
      // A device sends a video frame and the audio after it in one write.
      const uint64_t video = sdk.counters().video_frames - video0;
      send_bytes = video > 0 ? static_cast<double>(sdk.counters().bytes - bytes0) /
                                   static_cast<double>(video)
                             : 0;
      state.counters["raw_frames_per_s"] =
          static_cast<double>(sdk.counters().frames - frames0) / wall;
      state.counters["rss_KiB_per_channel"] =
          after > before ? static_cast<double>(after - before) / 1024.0 / kChannels : 0;
      state.counters["threads"] = qcsdk::bench::ThreadCount();
    }
    // The minimal loop reading as many sockets, sent as much as often in
    // the same pattern, once the SDK and the devices have gone.
    const double anchor = AnchorCpuPercent(kChannels, kDevices, static_cast<size_t>(send_bytes),
                                           kPeriod, spread, kCpuWindow);
    state.counters["anchor_cpu_percent"] = anchor;
    state.counters["cpu_x"] = anchor > 0 ? cpu_percent / anchor : 0;
  }
}
BENCHMARK(BM_ManyChannels)
    ->ArgNames({"out_of_process", "spread"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace nxl_e2e
