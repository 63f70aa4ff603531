// Whole device RPC round trips (dev_get_info) through the SDK's exports over
// OCT channels to a virtual device on loopback: calls per second and the
// p50/p99 latency of one call. Every channel has its own thread and all
// channels share the one OCT connection, so with several threads the calls
// run side by side on one link. The channels' live streams run meanwhile
// (160 x 120 at 25 frames/s), as they would in a host.
#include <benchmark/benchmark.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "oct_fleet.h"
#include "sdk_probe.h"

namespace oct_e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWindow = std::chrono::seconds(3);

// Calls dev_get_info on `channel` until `stop`; the latency of every call
// in microseconds. false when a call failed.
bool CallUntil(int32_t channel, const std::atomic<bool>& stop, std::vector<double>* samples) {
  while (!stop.load(std::memory_order_relaxed)) {
    qvbu_dev_get_info_result info{};
    const auto start = Clock::now();
    const int32_t ok = QCSDK_GRPC_dev_get_info(channel, nullptr, &info);
    const std::chrono::duration<double, std::micro> took = Clock::now() - start;
    if (ok != 1) return false;
    samples->push_back(took.count());
  }
  return true;
}

void BM_OctRpcDevGetInfo(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  for (auto _ : state) {
    OctFleet fleet;
    qcsdk::bench::SdkProbe sdk;
    vdevice::DeviceSpec spec;
    spec.channels = channels;
    spec.width = 160;
    spec.height = 120;
    std::string error;
    if (!sdk.ok()) error = "QCSDK_InitSDK failed";
    if (error.empty() && fleet.StartDevice(spec, &error) && fleet.Connect(channels, sdk, &error)) {
      for (int i = 0; i < channels && error.empty(); ++i) {
        if (QCSDK_GRPC_Begin(fleet.channel(i)) != 1) error = "QCSDK_GRPC_Begin failed";
      }
    }
    if (error.empty() && fleet.oct_connections() != 1) {
      error = "the device saw " + std::to_string(fleet.oct_connections()) + " OCT connections";
    }
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }

    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> per_thread(static_cast<size_t>(channels));
    std::vector<char> ok(static_cast<size_t>(channels), 0);
    std::vector<std::thread> threads;
    const double cpu0 = qcsdk::bench::ProcessCpuSeconds();
    const auto start = Clock::now();
    for (int t = 0; t < channels; ++t) {
      const auto i = static_cast<size_t>(t);
      per_thread[i].reserve(1 << 16);
      threads.emplace_back(
          [&, t, i] { ok[i] = CallUntil(fleet.channel(t), stop, &per_thread[i]); });
    }
    std::this_thread::sleep_for(kWindow);
    stop = true;
    for (auto& th : threads) th.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = qcsdk::bench::ProcessCpuSeconds() - cpu0;
    for (int i = 0; i < channels; ++i) QCSDK_GRPC_End(fleet.channel(i));
    if (std::count(ok.begin(), ok.end(), 0) != 0) {
      state.SkipWithError("dev_get_info failed");
      return;
    }

    std::vector<double> samples;
    for (const auto& s : per_thread) samples.insert(samples.end(), s.begin(), s.end());
    if (samples.empty()) {
      state.SkipWithError("no call completed");
      return;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
      return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))];
    };
    state.counters["calls_per_s"] = static_cast<double>(samples.size()) / wall;
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    // Of one core, and per call; both include the device's side.
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["cpu_us_per_call"] = 1e6 * cpu / static_cast<double>(samples.size());
    state.counters["oct_connections"] = static_cast<double>(fleet.oct_connections());
  }
}
BENCHMARK(BM_OctRpcDevGetInfo)
    ->ArgName("channels")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace oct_e2e
