#include "cycle_soak.h"

#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace soak {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitMs = 10000;

bool WaitUntil(const std::function<bool()>& done) {
  const auto end = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// `calls` RPC calls, alternately a flat result and one with an array of
// strings, all of whose texts live in the channel's arena.
bool CallRpc(int32_t channel, int calls) {
  if (QCSDK_GRPC_Begin(channel) != 1) return false;
  bool ok = true;
  for (int i = 0; i < calls && ok; ++i) {
    if (i % 2 == 0) {
      qvbu_dev_get_info_result info{};
      ok = QCSDK_GRPC_dev_get_info(channel, nullptr, &info) == 1;
    } else {
      qvbu_account_get_users_result users{};
      ok = QCSDK_GRPC_account_get_users(channel, nullptr, &users) == 1 && users.users_count > 0;
    }
  }
  QCSDK_GRPC_End(channel);
  return ok;
}

}  // namespace

void PrintResources(const char* label) {
  std::printf("  %-14s rss %8.1f MiB  fds %4d  threads %3d\n", label,
              static_cast<double>(qcsdk::bench::ResidentBytes()) / (1024.0 * 1024.0),
              qcsdk::bench::OpenDescriptors(), qcsdk::bench::ThreadCount());
  std::fflush(stdout);
}

bool RunCycles(bool oct, uint16_t port, const Options& options, qcsdk::bench::SdkProbe& sdk,
               std::string* error) {
  qcsdk::bench::SdkCounters& c = sdk.counters();
  std::printf("%s: %d connect / stream / disconnect cycles, %d RPC calls in every %dth\n",
              oct ? "OCT" : "Nxl", options.cycles, options.rpc_calls, options.rpc_every);
  PrintResources("start");
  const auto start = Clock::now();
  for (int i = 1; i <= options.cycles; ++i) {
    const int connected = c.connected, failed = c.failed, disconnected = c.disconnected;
    const uint64_t frames = c.video_frames;
    const int32_t n = oct ? QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", port, 1, 0, "admin",
                                           "secret", 0, nullptr)
                          : QCSDK_Connect("127.0.0.1", port, 0, "admin", "secret", 0, nullptr);
    const std::string cycle = "cycle " + std::to_string(i) + ": ";
    if (n < 0) return *error = cycle + "the connect was refused", false;
    if (!WaitUntil([&] { return c.connected > connected || c.failed > failed; }) ||
        c.failed > failed) {
      return *error = cycle + "the channel did not connect", false;
    }
    // The decoder on, so that every cycle also opens and closes a player
    // stream; the cycle streams until the first picture has arrived.
    QCSDK_EnableDecoder(n, 1);
    if (!WaitUntil([&] { return c.video_frames > frames; })) {
      return *error = cycle + "no picture arrived", false;
    }
    if (options.rpc_every > 0 && i % options.rpc_every == 0 && !CallRpc(n, options.rpc_calls)) {
      return *error = cycle + "an RPC call failed", false;
    }
    QCSDK_Disconnect(n);
    if (!WaitUntil([&] { return c.disconnected > disconnected; })) {
      return *error = cycle + "the channel did not report its end", false;
    }
    if (i % options.report_every == 0 || i == options.cycles) {
      PrintResources(("after " + std::to_string(i)).c_str());
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("  %.1f s, %.1f ms a cycle\n", seconds, 1000.0 * seconds / options.cycles);
  return true;
}

}  // namespace soak
