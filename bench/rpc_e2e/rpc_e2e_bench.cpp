// Whole device RPC round trips (dev_get_info) through the SDK's exports over
// Nxl channels to a virtual device on loopback: calls per second and the
// p50/p99 latency of one call, on one channel and on four channels driven by
// four threads at once.
#include <benchmark/benchmark.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/host_recorder.h"
#include "vdevice/device_host.h"

namespace {

constexpr int kChannels = 4;
constexpr int kCallsPerThreadAndIteration = 100;

// One virtual device and kChannels connected channels with RPC begun.
class Environment {
 public:
  bool Start() {
    if (QCSDK_InitSDK(0, nullptr) != 1) return false;
    vdevice::DeviceSpec spec;
    spec.user = "admin";
    spec.password = "secret";
    std::string error;
    if (devices_.Add(spec, &error) != 0) {
      std::fprintf(stderr, "device: %s\n", error.c_str());
      return false;
    }
    for (int i = 0; i < kChannels; ++i) {
      const int32_t n =
          QCSDK_Connect("127.0.0.1", devices_.nxl(0).port(), 0, "admin", "secret", 0, nullptr);
      if (n < 0) return false;
      channels_.push_back(n);
    }
    if (!host_.WaitFor(QCSDK_EVENT_CONNECTED, kChannels, qcsdk::test::ScaledMs(20000))) {
      std::fprintf(stderr, "channels did not connect\n");
      return false;
    }
    for (int32_t n : channels_) {
      if (QCSDK_GRPC_Begin(n) != 1) return false;
    }
    return true;
  }
  ~Environment() {
    for (int32_t n : channels_) QCSDK_GRPC_End(n);
    QCSDK_ReleaseSDK();
    devices_.Stop();
  }
  int32_t channel(int i) const { return channels_[static_cast<size_t>(i)]; }

 private:
  qcsdk::test::HostRecorder host_;
  vdevice::DeviceHost devices_;
  std::vector<int32_t> channels_;
};

Environment* g_env = nullptr;

// One timed call; its latency in microseconds, negative when it failed.
double TimedCall(int32_t channel) {
  qvbu_dev_get_info_result info{};
  const auto start = std::chrono::steady_clock::now();
  const int32_t ok = QCSDK_GRPC_dev_get_info(channel, nullptr, &info);
  const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return ok == 1 ? took.count() : -1.0;
}

void Report(benchmark::State& state, std::vector<double>& samples, int64_t calls) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["calls_per_s"] =
      benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
}

void BM_DevGetInfoOneChannel(benchmark::State& state) {
  const int32_t channel = g_env->channel(0);
  std::vector<double> samples;
  samples.reserve(1 << 16);
  for (auto _ : state) {
    const double us = TimedCall(channel);
    if (us < 0) {
      state.SkipWithError("dev_get_info failed");
      break;
    }
    samples.push_back(us);
  }
  Report(state, samples, static_cast<int64_t>(samples.size()));
}
BENCHMARK(BM_DevGetInfoOneChannel)->UseRealTime()->MinTime(2.0);

// Each iteration: four threads, one channel each, kCallsPerThreadAndIteration
// calls per thread; latencies of all threads pooled.
void BM_DevGetInfoFourChannels(benchmark::State& state) {
  std::vector<std::vector<double>> perThread(kChannels);
  bool failed = false;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    std::vector<char> threadFailed(kChannels, 0);
    for (int t = 0; t < kChannels; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kCallsPerThreadAndIteration; ++i) {
          const double us = TimedCall(g_env->channel(t));
          if (us < 0) {
            threadFailed[static_cast<size_t>(t)] = 1;
            return;
          }
          perThread[static_cast<size_t>(t)].push_back(us);
        }
      });
    }
    for (auto& th : threads) th.join();
    if (std::count(threadFailed.begin(), threadFailed.end(), 1) != 0) {
      failed = true;
      state.SkipWithError("dev_get_info failed");
      break;
    }
  }
  if (failed) return;
  std::vector<double> samples;
  for (auto& s : perThread) samples.insert(samples.end(), s.begin(), s.end());
  Report(state, samples, static_cast<int64_t>(samples.size()));
}
BENCHMARK(BM_DevGetInfoFourChannels)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  auto env = std::make_unique<Environment>();
  if (!env->Start()) {
    std::fprintf(stderr, "could not set up the virtual device and channels\n");
    return 1;
  }
  g_env = env.get();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_env = nullptr;
  env.reset();
  return 0;
}
