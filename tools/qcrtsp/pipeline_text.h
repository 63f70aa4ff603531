// The pipeline of a mount, as GStreamer launch text, for the stream the
// channel describes: app sources named "video" and "audio" feeding parsers
// and payloaders "pay0" (video) and "pay1" (audio). Nothing is re-encoded.
#pragma once

#include <qcsdk/qcsdk.h>

#include <string>

namespace qcrtsp {

// Empty for a video codec the payloaders do not carry (only H.264 and H.265
// are). The audio part is left out when `audio` is false or the codec is
// not G.711, AAC or IMA ADPCM (which goes out as G.711 mu-law).
std::string PipelineText(const StreamInfo& info, bool audio);

// "H.264 320x240, G.711 A-law 8000 Hz" for the log.
std::string DescribeStream(const StreamInfo& info, bool audio);

}  // namespace qcrtsp
