// The cost of routing one live frame from the OCT stream-data callback to
// the host: connection lookup, sub-handle lookup, frame path to the
// raw-data callback; with 1 or 64 channels sharing the connection.
#include <benchmark/benchmark.h>
#include <qcsdk/qcsdk.h>

#include <chrono>
#include <thread>
#include <vector>

#include "qcsdk/oct/oct_conn.h"
#include "support/fake_libraries.h"

namespace {

using namespace qcsdk;
using namespace qcsdk::test;

void OnRaw(int32_t, const RawFrame* frame, void*) {
  benchmark::DoNotOptimize(frame->data);
}

void BM_OctLiveFrameRoute(benchmark::State& state) {
  FakeLibraries fake;
  int64_t sub = 0;
  fake.SetResultByFirstArg("octc_stream_open", [&sub](int64_t) { return ++sub; });
  QCSDK_InitSDK(0, nullptr);
  QCSDK_RegisterCallback(nullptr, &OnRaw, nullptr, nullptr, nullptr);
  const int channels = static_cast<int>(state.range(0));
  for (int i = 0; i < channels; ++i) {
    QCSDK_Connect2(1, "127.0.0.1", 6000, 1, 0, "admin", "pw", 0, nullptr);
  }
  const FakeLibraries::OctCallbacks cb = fake.oct();
  OctDevInfo info{};
  cb.conn(1, OCTC_CONN_RESULT, 0, 0, 0, 0, 0, &info);
  while (fake.CountCalls("octc_stream_open") < channels) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  OctMediaInfo media{};
  media.video_codec = 1;
  media.frame_rate_x10000 = 250000;
  for (int32_t h = 1; h <= channels; ++h) {
    cb.streamState(1, h, OCTC_STATE_RESULT, 0);
    cb.streamData(1, h, OCTC_DATA_MEDIA_INFO, &media);
  }
  std::vector<uint8_t> data(16 * 1024, 0x42);
  const OctFrame key{OCTC_FRAME_KEY, data.data(), static_cast<int32_t>(data.size()), 0};
  const OctFrame p{OCTC_FRAME_P, data.data(), static_cast<int32_t>(data.size()), 0};
  cb.streamData(1, channels, OCTC_DATA_VIDEO, &key);
  for (auto _ : state) cb.streamData(1, channels, OCTC_DATA_VIDEO, &p);
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_ReleaseSDK();
}
BENCHMARK(BM_OctLiveFrameRoute)->Arg(1)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
