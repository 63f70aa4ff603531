// One channel streaming from an unpaced virtual device through the SDK to
// the raw-data callback, beside a plain TCP socket pair on loopback moving
// the same frames (the sizes the callback saw, in the same order) in the
// same run. The TCP pair writes a length word and the frame with one send
// per frame and reads each with two receives. Argument 0: the device runs in
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

#include "sdk_probe.h"
#include "simulator_process.h"
#include "vdevice/device_host.h"

namespace nxl_e2e {
namespace {

using qcsdk::bench::SdkCounters;
using qcsdk::bench::SdkProbe;

using Clock = std::chrono::steady_clock;
constexpr auto kWindow = std::chrono::seconds(3);
constexpr size_t kSizesKept = 4096;

struct Rate {
  double megabytes_per_s = 0;
  double frames_per_s = 0;
};

// Writes the frames (length word, then the bytes) on one end of a loopback
// TCP connection and reads them on the other for the window.
Rate TcpRate(const std::vector<int32_t>& sizes) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listener >= 0) ::close(listener);
    return {};
  }
  const int writer = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(writer, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(writer);
    ::close(listener);
    return {};
  }
  const int reader = ::accept(listener, nullptr, nullptr);
  ::close(listener);
  int one = 1;
  ::setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  int32_t largest = 0;
  for (int32_t s : sizes) largest = std::max(largest, s);
  std::atomic<bool> stop{false};
  std::thread write_thread([&] {
    std::vector<uint8_t> frame(static_cast<size_t>(largest) + 4, 0x5A);
    for (size_t i = 0; !stop; i = (i + 1) % sizes.size()) {
      const int32_t n = sizes[i];
      std::memcpy(frame.data(), &n, 4);
      size_t done = 0;
      while (done < static_cast<size_t>(n) + 4) {
        const ssize_t w =
            ::send(writer, frame.data() + done, static_cast<size_t>(n) + 4 - done, MSG_NOSIGNAL);
        if (w <= 0) return;
        done += static_cast<size_t>(w);
      }
    }
  });
  auto read_all = [&](uint8_t* p, size_t n) {
    while (n > 0) {
      const ssize_t r = ::recv(reader, p, n, 0);
      if (r <= 0) return false;
      p += r;
      n -= static_cast<size_t>(r);
    }
    return true;
  };
  std::vector<uint8_t> buffer(static_cast<size_t>(largest));
  uint64_t frames = 0, bytes = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < kWindow) {
    int32_t n = 0;
    if (!read_all(reinterpret_cast<uint8_t*>(&n), 4) || n < 0 || n > largest ||
        !read_all(buffer.data(), static_cast<size_t>(n)))
      break;
    ++frames;
    bytes += static_cast<uint64_t>(n);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  ::shutdown(reader, SHUT_RDWR);
  ::shutdown(writer, SHUT_RDWR);
  write_thread.join();
  ::close(reader);
  ::close(writer);
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
    const int32_t n = QCSDK_Connect("127.0.0.1", port, 0, "admin", "secret", 0, nullptr);
    if (!sdk.WaitConnected(1, 10000)) {
      state.SkipWithError("no event 1");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the start-up
    SdkCounters& c = sdk.counters();
    const uint64_t frames0 = c.frames, bytes0 = c.bytes;
    const auto start = Clock::now();
    std::this_thread::sleep_for(kWindow);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const Rate sdk_rate{static_cast<double>(c.bytes - bytes0) / 1e6 / seconds,
                        static_cast<double>(c.frames - frames0) / seconds};
    QCSDK_Disconnect(n);
    std::vector<int32_t> kept;
    {
      std::lock_guard lock(sizes_mutex);
      kept = sizes;
    }
    const Rate tcp = kept.empty() ? Rate{} : TcpRate(kept);
    state.counters["sdk_MBps"] = sdk_rate.megabytes_per_s;
    state.counters["sdk_fps"] = sdk_rate.frames_per_s;
    state.counters["tcp_MBps"] = tcp.megabytes_per_s;
    state.counters["tcp_fps"] = tcp.frames_per_s;
    state.counters["ratio"] =
        tcp.megabytes_per_s > 0 ? sdk_rate.megabytes_per_s / tcp.megabytes_per_s : 0;
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
