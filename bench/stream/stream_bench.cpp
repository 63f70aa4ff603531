// The SDK's frame path (OnFrame to the raw-data callback and into a running
// .sv4 recording) beside a plain memcpy of the same frame, and the cost of a
// 1920 x 1080 snapshot conversion.
#include <benchmark/benchmark.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/snapshot.h"
#include "support/fake_libraries.h"
#include "support/test_channel.h"

namespace {

using namespace qcsdk;
using namespace qcsdk::test;

constexpr std::size_t kFrameSize = 16 * 1024;  // a typical H.264 P frame at 1080p

void OnRaw(int32_t, const RawFrame* frame, void*) {
  benchmark::DoNotOptimize(frame->data);
}

void BM_FramePath(benchmark::State& state) {
  FakeLibraries fake;
  TestChannelFactory factory;
  QCSDK_RegisterCallback(nullptr, &OnRaw, nullptr, nullptr, nullptr);
  QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
  auto ch = FindTestChannel(0);
  ch->OnLinkEvent(0, nullptr);
  StreamInfoRecord r{};
  StoreLe16(r.data() + info::kVideoCodec, 1);
  ch->OnStreamInfo(r.data());
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("qcsdk_bench_" + std::to_string(::getpid()) + ".sv4"))
                               .string();
  const bool record = state.range(0) != 0;
  if (record) QCSDK_StartRec(0, file.c_str());
  std::vector<uint8_t> frame(kFrameSize, 0x42);
  ch->OnFrame(QCSDK_FRAME_KEY, frame.data(), static_cast<int32_t>(frame.size()));
  for (auto _ : state) {
    ch->OnFrame(QCSDK_FRAME_P, frame.data(), static_cast<int32_t>(frame.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameSize));
  QCSDK_StopRec(0);
  std::filesystem::remove(file);
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
}
// Argument 1: with a running .sv4 recording; 0: raw-data callback only.
BENCHMARK(BM_FramePath)->Arg(0)->Arg(1);

void BM_MemcpySameFrame(benchmark::State& state) {
  std::vector<uint8_t> frame(kFrameSize, 0x42), copy(kFrameSize);
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.data(), frame.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameSize));
}
BENCHMARK(BM_MemcpySameFrame);

void BM_Snapshot1080p(benchmark::State& state) {
  const int w = 1920, h = 1080;
  std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i * 7);
  for (std::size_t i = 0; i < u.size(); ++i) {
    u[i] = static_cast<uint8_t>(i * 3);
    v[i] = static_cast<uint8_t>(i * 5);
  }
  const DecodedFrame frame{w, h, y.data(), u.data(), v.data(), w, w / 2, w / 2};
  std::vector<uint8_t> out(SnapshotSize(frame));
  for (auto _ : state) {
    ConvertToBgra(frame, out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Snapshot1080p)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
