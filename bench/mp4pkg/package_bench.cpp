// How fast frames go through QP_PackageOneFrame into a fragmented MP4 file
// (the muxer, the Annex B rewrite and the writes), with and without audio
// and with the index.
#include <benchmark/benchmark.h>
#include <qp/qp.h>

#include "media.h"

namespace {

const std::vector<qp_test::MediaFrame>& Frames() {
  static const auto frames = vdevice::EncodePattern({.codec = qp_test::PatternCodec::kH264,
                                                     .width = 1280,
                                                     .height = 720,
                                                     .frames = 250,
                                                     .gop = 50});
  return frames;
}

void PackageFrames(benchmark::State& state, bool audio, bool index) {
  const auto& frames = Frames();
  if (frames.empty()) {
    state.SkipWithError("libx264 is not available");
    return;
  }
  const auto aac = qp_test::Audio(qp_test::ToneCodec::kAac, 16000, 1, 200);
  qp_test::TempDir dir;
  const std::string file = dir.File("bench.mp4");
  const std::string qdx = file + ".qdx";
  const QP_VideoDesc desc{1280, 720, 25.0f, {0, 0, 0, 0}};
  int64_t bytes = 0;
  for (auto _ : state) {
    QP_Handle h = QP_OpenPackage(&desc, 1, audio ? 1 : 0, file.c_str(),
                                 index ? qdx.c_str() : nullptr, QP_AUDIO_AAC, 0);
    for (size_t i = 0; i < frames.size(); ++i) {
      QP_Frame f{QP_FRAME_VIDEO,
                 frames[i].data.data(),
                 static_cast<int32_t>(frames[i].data.size()),
                 0,
                 0,
                 0};
      QP_PackageOneFrame(h, &f);
      bytes += static_cast<int64_t>(frames[i].data.size());
      if (audio && i < aac.size()) {
        QP_Frame a{QP_FRAME_AUDIO, aac[i].data(), static_cast<int32_t>(aac[i].size()), 0, 0, 0};
        QP_PackageOneFrame(h, &a);
      }
    }
    QP_ClosePackage(h);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frames.size()));
  state.SetBytesProcessed(bytes);
}

void BM_VideoOnly(benchmark::State& state) {
  PackageFrames(state, false, false);
}
void BM_VideoAacIndex(benchmark::State& state) {
  PackageFrames(state, true, true);
}

BENCHMARK(BM_VideoOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VideoAacIndex)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
