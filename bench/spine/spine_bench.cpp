// Cost of the export frame (find the channel, run a trivial operation,
// drop the reference) and of a log call that its level filters out.
#include <benchmark/benchmark.h>
#include <qcsdk/qcsdk.h>

#include <memory>

#include "log/log.h"
#include "support/fake_libraries.h"
#include "support/test_channel.h"

namespace {

using qcsdk::test::FakeLibraries;
using qcsdk::test::TestChannelFactory;

// EnableDecoder(off) on a channel whose decoder is off returns at once: the
// measured time is the frame itself.
void BM_ExportFrame(benchmark::State& state) {
  static std::unique_ptr<FakeLibraries> fake;
  static std::unique_ptr<TestChannelFactory> factory;
  if (state.thread_index() == 0) {
    fake = std::make_unique<FakeLibraries>();
    factory = std::make_unique<TestChannelFactory>();
    for (int i = 0; i < state.threads(); ++i)
      QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
  }
  const int32_t channel = state.thread_index();
  for (auto _ : state) {
    benchmark::DoNotOptimize(QCSDK_EnableDecoder(channel, 0));
  }
  if (state.thread_index() == 0) {
    factory.reset();
    fake.reset();
  }
}
BENCHMARK(BM_ExportFrame)->Threads(1)->Threads(2)->UseRealTime();

void BM_ExportNoChannel(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(QCSDK_EnableDecoder(600, 0));
}
BENCHMARK(BM_ExportNoChannel);

void BM_FilteredLogCall(benchmark::State& state) {
  qcsdk::log::Sink sink{};
  sink.kind = qcsdk::log::kStdout;
  sink.levelCount = 1;
  sink.levels[0] = qcsdk::log::kError;
  qcsdk::log::Configure(&sink, 1);
  int value = 0;
  for (auto _ : state) {
    QC_LOG(qcsdk::log::kDebug, "bench", "filtered %d", ++value);
    benchmark::ClobberMemory();
  }
  sink.levels[0] = qcsdk::log::kAll;
  qcsdk::log::Configure(&sink, 1);
}
BENCHMARK(BM_FilteredLogCall);

}  // namespace

BENCHMARK_MAIN();
