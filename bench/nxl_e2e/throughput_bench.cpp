// One channel streaming from an unpaced virtual device through the SDK to
// the raw-data callback, beside a plain TCP socket pair on loopback moving
// the same frames (the sizes the callback saw, in the same order), measured
// in turns (SDK, TCP, SDK, TCP ...) so that both meet the same load of the
// machine; the medians of each and of the per-turn ratio are reported.
// The TCP pair writes as the device does, a video frame and the audio frame
// after it with one send, each frame behind a length word, and reads into a
// 64 KiB buffer, walking the frames there. Argument 0: the device runs in
// this process; 1: in a simulator process.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "epoll_anchor.h"
#include "sdk_probe.h"
#include "simulator_process.h"
#include "vdevice/device_host.h"

namespace nxl_e2e {
namespace {

using qcsdk::bench::SdkCounters;
using qcsdk::bench::SdkProbe;

using Clock = std::chrono::steady_clock;
constexpr auto kWindow = std::chrono::seconds(1);
constexpr auto kWarmUp = std::chrono::milliseconds(300);
constexpr int kTurns = 5;
constexpr size_t kSizesKept = 4096;
constexpr size_t kReadChunk = 64 * 1024;

struct Rate {
  double megabytes_per_s = 0;
  double frames_per_s = 0;
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Writes the frames, two per send, on one end of a loopback TCP connection
// and reads them on the other for the window.
Rate TcpRate(const std::vector<int32_t>& sizes) {
  const std::vector<Pair> pairs = MakePairs(1);
  if (pairs.empty()) return {};
  const int writer = pairs[0].writer, reader = pairs[0].reader;

  int32_t largest = 0;
  for (int32_t s : sizes) largest = std::max(largest, s);
  std::atomic<bool> stop{false};
  std::thread write_thread([&] {
    std::vector<uint8_t> pair(2 * (static_cast<size_t>(largest) + 4), 0x5A);
    const size_t pairs = std::max<size_t>(2, sizes.size() & ~size_t{1});
    for (size_t i = 0; !stop; i = (i + 2) % pairs) {
      size_t used = 0;
      for (size_t k = i; k < i + 2 && k < sizes.size(); ++k) {
        std::memcpy(pair.data() + used, &sizes[k], 4);
        used += 4 + static_cast<size_t>(sizes[k]);
      }
      for (size_t done = 0; done < used;) {
        const ssize_t w = ::send(writer, pair.data() + done, used - done, MSG_NOSIGNAL);
        if (w <= 0) return;
        done += static_cast<size_t>(w);
      }
    }
  });
  std::vector<uint8_t> buffer(std::max(kReadChunk, 2 * (static_cast<size_t>(largest) + 4)));
  size_t have = 0;
  uint64_t frames = 0, bytes = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < kWindow) {
    const ssize_t r = ::recv(reader, buffer.data() + have, buffer.size() - have, 0);
    if (r <= 0) break;
    have += static_cast<size_t>(r);
    size_t at = 0;
    for (int32_t n = 0; have - at >= 4; at += 4 + static_cast<size_t>(n)) {
      std::memcpy(&n, buffer.data() + at, 4);
      if (have - at - 4 < static_cast<size_t>(n)) break;
      ++frames;
      bytes += static_cast<uint64_t>(n);
    }
    std::memmove(buffer.data(), buffer.data() + at, have - at);
    have -= at;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  ::shutdown(reader, SHUT_RDWR);
  ::shutdown(writer, SHUT_RDWR);
  write_thread.join();
  ClosePairs(pairs);
  return {static_cast<double>(bytes) / 1e6 / seconds, static_cast<double>(frames) / seconds};
}

void BM_UnpacedStreamVersusTcp(benchmark::State& state) {
  const bool out_of_process = state.range(0) != 0;
  for (auto _ : state) {
    vdevice::DeviceHost devices;
    qcsdk::bench::SimulatorProcess simulator;
    vdevice::DeviceSpec spec;
    spec.paced = false;
    spec.password = "secret";
    std::string error;
    int port = 0;
    if (out_of_process && simulator.Start({"password=secret,pace=off,oct_port=-1"}, &error)) {
      port = simulator.nxl_ports()[0];
    } else if (!out_of_process && devices.Add(spec, &error) >= 0) {
      port = devices.nxl(0).port();
    }
    if (port == 0) {
      state.SkipWithError(error.c_str());
      return;
    }
    SdkProbe sdk;
    std::mutex sizes_mutex;
    std::vector<int32_t> sizes;
    sdk.SetRawHook([&](const RawFrame& f) {
      std::lock_guard lock(sizes_mutex);
      if (sizes.size() < kSizesKept) sizes.push_back(f.length);
    });
    std::vector<double> sdk_rates, tcp_rates, ratios;
    std::vector<int32_t> kept;
    for (int turn = 0; turn < kTurns; ++turn) {
      const int32_t n = QCSDK_Connect("127.0.0.1", port, 0, "admin", "secret", 0, nullptr);
      if (!sdk.WaitConnected(turn + 1, 10000)) {
        state.SkipWithError("no event 1");
        return;
      }
      std::this_thread::sleep_for(kWarmUp);
      SdkCounters& c = sdk.counters();
      const uint64_t bytes0 = c.bytes;
      const auto start = Clock::now();
      std::this_thread::sleep_for(kWindow);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      const double sdk_rate = static_cast<double>(c.bytes - bytes0) / 1e6 / seconds;
      QCSDK_Disconnect(n);
      if (kept.empty()) {
        std::lock_guard lock(sizes_mutex);
        kept = sizes;
      }
      const Rate tcp = kept.empty() ? Rate{} : TcpRate(kept);
      sdk_rates.push_back(sdk_rate);
      tcp_rates.push_back(tcp.megabytes_per_s);
      ratios.push_back(tcp.megabytes_per_s > 0 ? sdk_rate / tcp.megabytes_per_s : 0);
    }
    state.counters["sdk_MBps"] = Median(sdk_rates);
    state.counters["tcp_MBps"] = Median(tcp_rates);
    state.counters["ratio"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    double mean = 0;
    for (int32_t s : kept) mean += s;
    state.counters["mean_frame_B"] = kept.empty() ? 0 : mean / static_cast<double>(kept.size());
  }
}
BENCHMARK(BM_UnpacedStreamVersusTcp)
    ->ArgName("out_of_process")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace nxl_e2e
