// Latency from a device's send to the SDK's raw-data callback. The device
// is the Nxl device engine in this process: it sends the live stream header
// of the simulator, then paced frames of the test pattern whose last four
// bytes carry a sequence number; the steady-clock time is taken just before
// each send and compared with the time the callback sees that number.
// Arguments: how many other channels stream at 25 frames/s meanwhile, from
// devices in a simulator process, and whether that process runs in the idle
// scheduling class (1: it takes only what the client leaves of the
// processors, as devices on hardware of their own would; 0: it competes
// with the client), and whether those devices spread their channels' frames
// over each tick (1) or send them together (0). The same messages at the
// same rate also go through the minimal epoll loop (epoll_anchor.h) in the
// same run, and the quantiles are given as ratios to its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "epoll_anchor.h"
#include "qvc/device/device_server.h"
#include "sdk_probe.h"
#include "simulator_process.h"
#include "vdevice/media_clip.h"
#include "vdevice/stream_header.h"

namespace nxl_e2e {
namespace {

using qcsdk::bench::SdkProbe;

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 1000;
constexpr auto kInterval = std::chrono::milliseconds(4);  // 250 frames/s

void BM_SendToRawCallbackLatency(benchmark::State& state) {
  const int others = static_cast<int>(state.range(0));
  const bool idle = state.range(1) != 0;
  const bool spread = state.range(2) != 0;
  constexpr int kOtherDevices = 8;
  for (auto _ : state) {
    qcsdk::bench::SimulatorProcess simulator;
    std::string error;
    const std::string settings = "password=secret,width=160,height=120,fps=25,oct_port=-1,limit=" +
                                 std::to_string(others / kOtherDevices + 1) +
                                 (spread ? ",pace=spread" : "");
    if (others > 0 &&
        !simulator.Start(std::vector<std::string>(kOtherDevices, settings), &error, idle)) {
      state.SkipWithError(error.c_str());
      return;
    }
    vdevice::DeviceSpec spec;  // whole stream record, H.264 320 x 240
    const auto clip =
        vdevice::TestPatternClip(spec.codec, spec.width, spec.height, spec.fps, 50, 25);
    std::atomic<qvc::device::ClientId> client{0};
    qvc::device::DeviceConfig config;
    config.password = "secret";
    qvc::device::DeviceHandlers handlers;
    handlers.on_login = [&](const qvc::device::ClientInfo& info) { client = info.id; };
    qvc::device::DeviceServer server(config, std::move(handlers));
    if (!server.Start(0)) {
      state.SkipWithError("device did not start");
      return;
    }
    std::vector<Clock::time_point> sent(kFrames);
    std::vector<int64_t> latency_ns(kFrames, -1);
    std::optional<SdkProbe> sdk;
    sdk.emplace();
    sdk->SetRawHook([&](const RawFrame& f) {
      const auto now = Clock::now();
      if (f.type == QCSDK_FRAME_AUDIO || f.length < 4) return;
      uint32_t index = 0;
      std::memcpy(&index, f.data + f.length - 4, 4);
      if (index < static_cast<uint32_t>(kFrames))
        latency_ns[index] =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - sent[index]).count();
    });
    for (int i = 0; i < others; ++i) {
      QCSDK_Connect("127.0.0.1", simulator.nxl_ports()[static_cast<size_t>(i % kOtherDevices)], 0,
                    "admin", "secret", 0, nullptr);
    }
    if (!sdk->WaitConnected(others, 60000)) {
      state.SkipWithError("the other channels did not connect");
      return;
    }
    QCSDK_Connect("127.0.0.1", server.port(), 0, "admin", "secret", 0, nullptr);
    while (client == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto header = vdevice::StreamHeaderMessage(spec, *clip, 0, false);
    server.SendLive(client, 8, header.data(), header.size());
    if (!sdk->WaitConnected(others + 1, 10000)) {
      state.SkipWithError("no event 1");
      return;
    }
    // The messages of the stream, each with room for its sequence number.
    std::vector<std::vector<uint8_t>> messages;
    for (const vdevice::MediaFrame& frame : clip->frames) {
      const uint8_t type = frame.key ? 1 : 3;
      const uint32_t size = static_cast<uint32_t>(frame.data.size() + 4);
      const uint8_t head[8] = {'Q',
                               'V',
                               'S',
                               0,
                               type,
                               static_cast<uint8_t>(size),
                               static_cast<uint8_t>(size >> 8),
                               static_cast<uint8_t>(size >> 16)};
      std::vector<uint8_t> m(sizeof head + frame.data.size() + 4);
      std::memcpy(m.data(), head, sizeof head);
      std::memcpy(m.data() + sizeof head, frame.data.data(), frame.data.size());
      messages.push_back(std::move(m));
    }
    auto due = Clock::now();
    for (uint32_t i = 0; i < static_cast<uint32_t>(kFrames); ++i) {
      std::vector<uint8_t> m = messages[i % messages.size()];
      std::memcpy(m.data() + m.size() - 4, &i, 4);
      due += kInterval;
      std::this_thread::sleep_until(due);
      sent[i] = Clock::now();
      server.SendLive(client, m[4], m.data(), m.size());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The same messages at the same rate through the minimal loop, with the
    // other channels (if any) still streaming to the SDK.
    const std::vector<int64_t> anchor = AnchorLatencies(messages, kFrames, kInterval);
    sdk.reset();  // releases the SDK: no callback runs past this point
    server.Stop();
    const double p50 = QuantileMicros(latency_ns, 0.5), p99 = QuantileMicros(latency_ns, 0.99);
    const double a50 = QuantileMicros(anchor, 0.5), a99 = QuantileMicros(anchor, 0.99);
    state.counters["frames_seen"] = static_cast<double>(
        std::count_if(latency_ns.begin(), latency_ns.end(), [](int64_t ns) { return ns >= 0; }));
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = p99;
    state.counters["max_us"] = QuantileMicros(latency_ns, 1.0);
    state.counters["anchor_p50_us"] = a50;
    state.counters["anchor_p99_us"] = a99;
    state.counters["p50_x"] = a50 > 0 ? p50 / a50 : 0;
    state.counters["p99_x"] = a99 > 0 ? p99 / a99 : 0;
  }
}
BENCHMARK(BM_SendToRawCallbackLatency)
    ->ArgNames({"others", "simulator_idle", "spread"})
    ->Args({0, 0, 0})
    ->Args({511, 0, 0})
    ->Args({511, 1, 0})
    ->Args({511, 0, 1})
    ->Args({511, 1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace nxl_e2e
