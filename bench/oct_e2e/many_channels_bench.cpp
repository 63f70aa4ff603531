// N SDK channels over the OCT transport to one virtual device in this
// process, all with the same address, port and credentials, so they share
// one OCT connection (the benchmark fails when the device saw more than one).
//
// The channels spread over 16 device channels and then over both streams:
// the usual case of a host watching many cameras of one recorder, and it
// makes the device send 16 (N = 16) or 32 (N = 256) different feeds instead
// of one picture copied to every sub-handle. At N = 256 every feed has 8
// viewers on the one connection.
//
// BM_OctUnpaced: the device sends as fast as the link takes frames; video
// frames per second reaching the raw-data callback, in all and for the
// slowest and fastest channel (a starving channel shows as a low minimum).
// BM_OctPaced25: 25 frames/s per stream; the process's CPU time over 5 s
// and the resident memory added per channel (both include the device's side
// of the link, which runs in this process), and the share of the expected
// frames that arrived.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "oct_fleet.h"
#include "sdk_probe.h"

namespace oct_e2e {
namespace {

using qcsdk::bench::ProcessCpuSeconds;
using qcsdk::bench::ResidentBytes;
using qcsdk::bench::SdkCounters;
using qcsdk::bench::SdkProbe;
using Clock = std::chrono::steady_clock;

constexpr int kDeviceChannels = 16;
constexpr int kFps = 25;
constexpr auto kSettle = std::chrono::seconds(1);
constexpr auto kRateWindow = std::chrono::seconds(3);
constexpr auto kCpuWindow = std::chrono::seconds(5);

vdevice::DeviceSpec SmallPictureDevice(bool paced) {
  vdevice::DeviceSpec spec;
  spec.channels = kDeviceChannels;
  spec.client_limit = qcsdk::bench::kMaxChannels;  // were the channels not to share
  spec.width = 160;
  spec.height = 120;
  spec.fps = kFps;
  spec.paced = paced;
  return spec;
}

// Video frames every channel received over one window, and the process's
// CPU time in it.
struct Window {
  double wall_s = 0;
  double cpu_s = 0;
  uint64_t frames = 0;
  uint64_t bytes = 0;  // video and audio
  uint64_t min_channel = 0;
  uint64_t max_channel = 0;
};

std::vector<uint64_t> ChannelFrames(SdkProbe& sdk, const OctFleet& fleet) {
  std::vector<uint64_t> frames;
  for (int i = 0; i < fleet.size(); ++i) {
    frames.push_back(sdk.counters().channel_video_frames[static_cast<size_t>(fleet.channel(i))]);
  }
  return frames;
}

Window Measure(SdkProbe& sdk, const OctFleet& fleet, Clock::duration length) {
  const std::vector<uint64_t> before = ChannelFrames(sdk, fleet);
  const uint64_t bytes0 = sdk.counters().bytes;
  const double cpu0 = ProcessCpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(length);
  Window w;
  w.wall_s = std::chrono::duration<double>(Clock::now() - start).count();
  w.cpu_s = ProcessCpuSeconds() - cpu0;
  w.bytes = sdk.counters().bytes - bytes0;
  const std::vector<uint64_t> after = ChannelFrames(sdk, fleet);
  for (size_t i = 0; i < after.size(); ++i) {
    const uint64_t n = after[i] - before[i];
    w.frames += n;
    w.min_channel = i == 0 ? n : std::min(w.min_channel, n);
    w.max_channel = std::max(w.max_channel, n);
  }
  return w;
}

// Starts the device; false (the benchmark skipped with the reason) when
// that fails.
bool StartDevice(benchmark::State& state, bool paced, OctFleet& fleet, const SdkProbe& sdk) {
  std::string error = sdk.ok() ? "" : "QCSDK_InitSDK failed";
  if (error.empty() && fleet.StartDevice(SmallPictureDevice(paced), &error)) return true;
  state.SkipWithError(error.c_str());
  return false;
}

// Connects the channels; false (the benchmark skipped with the reason) when
// that fails or they do not share one connection.
bool ConnectShared(benchmark::State& state, OctFleet& fleet, SdkProbe& sdk) {
  std::string error;
  if (fleet.Connect(static_cast<int>(state.range(0)), sdk, &error)) {
    const size_t connections = fleet.oct_connections();
    state.counters["oct_connections"] = static_cast<double>(connections);
    if (connections == 1) return true;
    error = "the device saw " + std::to_string(connections) + " OCT connections, not 1";
  }
  state.SkipWithError(error.c_str());
  return false;
}

// After the window: still one connection, and no channel lost.
bool StillShared(benchmark::State& state, OctFleet& fleet, SdkProbe& sdk) {
  const SdkCounters& c = sdk.counters();
  if (fleet.oct_connections() == 1 && c.failed == 0 && c.lost == 0) return true;
  const std::string error = "after the window: " + std::to_string(fleet.oct_connections()) +
                            " OCT connections, " + std::to_string(c.failed + c.lost) +
                            " channels failed or lost";
  state.SkipWithError(error.c_str());
  return false;
}

void BM_OctUnpaced(benchmark::State& state) {
  for (auto _ : state) {
    OctFleet fleet;
    SdkProbe sdk;
    if (!StartDevice(state, false, fleet, sdk) || !ConnectShared(state, fleet, sdk)) return;
    std::this_thread::sleep_for(kSettle);
    const Window w = Measure(sdk, fleet, kRateWindow);
    if (!StillShared(state, fleet, sdk)) return;
    state.counters["connect_all_s"] = fleet.connect_seconds();
    state.counters["frames_per_s"] = static_cast<double>(w.frames) / w.wall_s;
    state.counters["min_channel_fps"] = static_cast<double>(w.min_channel) / w.wall_s;
    state.counters["max_channel_fps"] = static_cast<double>(w.max_channel) / w.wall_s;
    state.counters["cpu_percent"] = 100.0 * w.cpu_s / w.wall_s;  // of one core
    state.counters["MB_per_s"] = static_cast<double>(w.bytes) / 1e6 / w.wall_s;
  }
}
BENCHMARK(BM_OctUnpaced)
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_OctPaced25(benchmark::State& state) {
  const auto channels = static_cast<double>(state.range(0));
  for (auto _ : state) {
    OctFleet fleet;
    SdkProbe sdk;
    if (!StartDevice(state, true, fleet, sdk)) return;
    const uint64_t rss0 = ResidentBytes();
    if (!ConnectShared(state, fleet, sdk)) return;
    std::this_thread::sleep_for(kSettle);
    const Window w = Measure(sdk, fleet, kCpuWindow);
    if (!StillShared(state, fleet, sdk)) return;
    const uint64_t rss1 = ResidentBytes();
    state.counters["connect_all_s"] = fleet.connect_seconds();
    state.counters["cpu_percent"] = 100.0 * w.cpu_s / w.wall_s;
    state.counters["cpu_percent_per_channel"] = 100.0 * w.cpu_s / w.wall_s / channels;
    state.counters["rss_KiB_per_channel"] =
        rss1 > rss0 ? static_cast<double>(rss1 - rss0) / 1024.0 / channels : 0;
    state.counters["delivered_ratio"] =
        static_cast<double>(w.frames) / (kFps * channels * w.wall_s);
    state.counters["min_channel_fps"] = static_cast<double>(w.min_channel) / w.wall_s;
  }
}
BENCHMARK(BM_OctPaced25)
    ->Arg(1)
    ->Arg(16)
    ->Arg(256)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace oct_e2e
