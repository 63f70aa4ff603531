// The packager's reading of its input frames: an Annex B frame split into
// NAL units, the codec, key frame and parameter sets taken from it as the
// package does for its first picture, and the same bytes read as ADTS audio.
#include "aac.h"
#include "annexb.h"

using namespace qp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes frame(data, size);
  const std::vector<Bytes> nals = SplitAnnexB(frame);
  const VideoCodec found = RecogniseCodec(nals);
  for (VideoCodec codec : {found, VideoCodec::kH264, VideoCodec::kH265}) {
    if (IsKeyFrame(codec, nals)) (void)ParameterSets(codec, nals);
  }
  if (LooksLikeAdts(frame)) {
    for (const AdtsFrame& f : SplitAdts(frame)) (void)AudioSpecificConfig(f.config);
  }
  return 0;
}
