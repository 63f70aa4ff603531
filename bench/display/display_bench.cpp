// One and sixteen channels of 640 x 360 at 25 frames/s from in-process virtual
// devices, decoded and drawn by the SDK into a 4 x 4 grid of 320 x 180
// rectangles in one 1280 x 720 window of a private Xvfb:
//  - draw CPU per channel: the process's CPU time with display on minus the
//    same with display off (decoding only), per channel, in % of one core;
//  - pictures drawn per picture decoded while display is on;
//  - draw time from the decoder's hand-over to the server's acknowledgement,
//    p50 and p99 (QVSP_GetDrawTimes);
//  - the same pictures through a plain libswscale + shared-memory put-image
//    loop in the same run: CPU per picture and its ratio to ours, and its
//    draw time.
// The virtual devices run in this process (their cost is in both windows and
// cancels out); the X server's own CPU is reported beside.
#include <benchmark/benchmark.h>
#include <qvsp/qvsp.h>
#include <qvsp/qvsp_ext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/virtual_display.h"
#include "plain_draw_loop.h"
#include "qcview/x_window.h"
#include "sdk_probe.h"
#include "vdevice/device_host.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace display_bench {
namespace {

using qcsdk::bench::ProcessCpuSeconds;
using qcsdk::bench::SdkProbe;
using Clock = std::chrono::steady_clock;

constexpr int kTileWidth = 320;
constexpr int kTileHeight = 180;
constexpr auto kWindow = std::chrono::seconds(5);

// CPU seconds the process `pid` has used (user + system).
double OtherProcessCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  // utime and stime are fields 14 and 15; the name (field 2) has no spaces
  // for Xvfb.
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i >= 14) ticks += std::atof(field.c_str());
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct PlayerTotals {
  uint64_t reported = 0;
  uint64_t drawn = 0;
  std::vector<uint32_t> times;
};

// Every player of the process: the SDK's players are the only ones here.
PlayerTotals Totals(bool withTimes) {
  PlayerTotals t;
  for (int32_t handle = 0; handle < 1024; ++handle) {
    QVSP_Statistics s{};
    if (QVSP_GetStatistics(handle, &s) != 1) continue;
    t.reported += s.picturesReported;
    t.drawn += s.picturesDrawn;
    if (withTimes) {
      std::vector<uint32_t> times(4096);
      times.resize(static_cast<size_t>(QVSP_GetDrawTimes(handle, times.data(), 4096)));
      t.times.insert(t.times.end(), times.begin(), times.end());
    }
  }
  return t;
}

double Percentile(std::vector<uint32_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Decodes captured H.264 frames into pictures for the plain loop.
std::vector<AVFrame*> Decode(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<AVFrame*> out;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->thread_count = 1;
  if (avcodec_open2(context, codec, nullptr) < 0) return out;
  AVPacket* packet = av_packet_alloc();
  for (const auto& f : frames) {
    av_new_packet(packet, static_cast<int>(f.size()));
    std::copy(f.begin(), f.end(), packet->data);
    avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    for (;;) {
      AVFrame* picture = av_frame_alloc();
      if (avcodec_receive_frame(context, picture) < 0) {
        av_frame_free(&picture);
        break;
      }
      out.push_back(picture);
    }
  }
  av_packet_free(&packet);
  avcodec_free_context(&context);
  return out;
}

void BM_ChannelsIntoOneWindow(benchmark::State& state) {
  const int kChannels = static_cast<int>(state.range(0));
  for (auto _ : state) {
    hostlib::VirtualDisplay server;
    if (std::string why; !server.Start(1280, 720, why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    setenv("DISPLAY", server.name().c_str(), 1);
    qcview::XWindow window;
    if (std::string why; !window.Open(1280, 720, "display bench", why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    window.Fill({0, 0, 1280, 720}, 0x000000);
    window.Sync();

    vdevice::DeviceHost devices;
    std::string error;
    for (int d = 0; d < kChannels; ++d) {
      vdevice::DeviceSpec spec;
      spec.password = "secret";
      spec.width = 640;
      spec.height = 360;
      spec.fps = 25;
      if (devices.Add(spec, &error) < 0) {
        state.SkipWithError(error.c_str());
        return;
      }
    }
    // The first 50 video frames from a key frame on, for the plain loop.
    std::mutex captureMutex;
    std::vector<std::vector<uint8_t>> captured;
    SdkProbe sdk;
    sdk.SetRawHook([&](const RawFrame& f) {
      std::lock_guard<std::mutex> lock(captureMutex);
      if (f.type == QCSDK_FRAME_AUDIO || f.type > QCSDK_FRAME_B || captured.size() >= 50) return;
      if (captured.empty() && f.type != QCSDK_FRAME_KEY) return;
      captured.emplace_back(f.data, f.data + f.length);
    });
    std::vector<int32_t> channels;
    for (int i = 0; i < kChannels; ++i) {
      channels.push_back(QCSDK_Connect("127.0.0.1", devices.nxl(static_cast<size_t>(i)).port(), 0,
                                       "admin", "secret", 0, nullptr));
    }
    if (!sdk.WaitConnected(kChannels, 60000)) {
      state.SkipWithError("not every channel connected");
      return;
    }
    for (int32_t ch : channels) QCSDK_EnableDecoder(ch, 1);
    std::this_thread::sleep_for(std::chrono::seconds(1));

    // Decoding only.
    PlayerTotals t0 = Totals(false);
    double cpu0 = ProcessCpuSeconds();
    auto start = Clock::now();
    std::this_thread::sleep_for(kWindow);
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double decodeCpu = (ProcessCpuSeconds() - cpu0) / wall;
    const double decodedPerSecond =
        static_cast<double>(Totals(false).reported - t0.reported) / wall;

    // Decoding and drawing.
    for (int i = 0; i < kChannels; ++i) {
      const int x = (i % 4) * kTileWidth;
      const int y = (i / 4) * kTileHeight;
      const QCSDK_Rect rect{x, y, x + kTileWidth, y + kTileHeight};
      if (QCSDK_SetVideoPreview(channels[static_cast<size_t>(i)], window.handle(), &rect) != 1) {
        state.SkipWithError("display refused");
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    t0 = Totals(false);
    cpu0 = ProcessCpuSeconds();
    const double server0 = OtherProcessCpuSeconds(server.pid());
    start = Clock::now();
    std::this_thread::sleep_for(kWindow);
    wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double showCpu = (ProcessCpuSeconds() - cpu0) / wall;
    const double serverCpu = (OtherProcessCpuSeconds(server.pid()) - server0) / wall;
    const PlayerTotals t1 = Totals(true);
    const double drawn = static_cast<double>(t1.drawn - t0.drawn);
    const double reported = static_cast<double>(t1.reported - t0.reported);
    for (int32_t ch : channels) QCSDK_SetVideoPreview(ch, nullptr, nullptr);

    // The plain loop over the same pictures into the same tiles.
    std::vector<AVFrame*> pictures;
    {
      std::lock_guard<std::mutex> lock(captureMutex);
      pictures = Decode(captured);
    }
    std::vector<std::pair<int, int>> origins;
    for (int i = 0; i < kChannels; ++i) {
      origins.emplace_back((i % 4) * kTileWidth, (i / 4) * kTileHeight);
    }
    const std::vector<const AVFrame*> views(pictures.begin(), pictures.end());
    const LoopResult plain =
        RunPlainDrawLoop(server.name(), window.id(), views, origins, kTileWidth, kTileHeight, 2000);
    for (AVFrame* p : pictures) av_frame_free(&p);
    if (!plain.ok) {
      state.SkipWithError("plain loop failed");
      return;
    }

    const double ourCpuPerPicture = drawn > 0 ? (showCpu - decodeCpu) * wall / drawn : 0;
    state.counters["decoded_per_s"] = decodedPerSecond;
    state.counters["decode_cpu_pct"] = 100.0 * decodeCpu;
    state.counters["draw_cpu_pct_per_channel"] = 100.0 * (showCpu - decodeCpu) / kChannels;
    state.counters["drawn_per_s"] = drawn / wall;
    state.counters["drawn_of_decoded"] = reported > 0 ? drawn / reported : 0;
    state.counters["draw_us_p50"] = Percentile(t1.times, 0.50);
    state.counters["draw_us_p99"] = Percentile(t1.times, 0.99);
    state.counters["xvfb_cpu_pct_per_channel"] = 100.0 * serverCpu / kChannels;
    state.counters["our_cpu_us_per_picture"] = 1e6 * ourCpuPerPicture;
    state.counters["plain_cpu_us_per_picture"] = 1e6 * plain.cpuSecondsPerPicture;
    state.counters["ours_to_plain"] =
        plain.cpuSecondsPerPicture > 0 ? ourCpuPerPicture / plain.cpuSecondsPerPicture : 0;
    state.counters["plain_draw_us_p50"] = Percentile(plain.micros, 0.50);
    state.counters["plain_draw_us_p99"] = Percentile(plain.micros, 0.99);
    for (int32_t ch : channels) QCSDK_Disconnect(ch);
  }
}
BENCHMARK(BM_ChannelsIntoOneWindow)
    ->Arg(1)
    ->Arg(16)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace display_bench
