#include "pipeline_text.h"

#include "audio_blocks.h"

namespace qcrtsp {
namespace {

// Codes of QCSDK_GetStreamInfo.
constexpr int kH264 = 2, kH265 = 11;
constexpr int kImaAdpcm = 3, kALaw = 4, kMuLaw = 5, kAac = 6;

// Appsrc settings shared by both sources: live, stamped with the pipeline's
// clock when pushed, and a bounded queue that drops its oldest buffers
// rather than grow when the pipeline stalls.
constexpr char kSource[] =
    "appsrc is-live=true do-timestamp=true format=time max-bytes=8000000 leaky-type=downstream ";

}  // namespace

std::string PipelineText(const StreamInfo& info, bool audio) {
  std::string text;
  if (info.videoCodec == kH264) {
    text = std::string(kSource) +
           "name=video caps=\"video/x-h264,stream-format=byte-stream,alignment=au\" ! h264parse ! "
           "rtph264pay name=pay0 pt=96 config-interval=-1";
  } else if (info.videoCodec == kH265) {
    text = std::string(kSource) +
           "name=video caps=\"video/x-h265,stream-format=byte-stream,alignment=au\" ! h265parse ! "
           "rtph265pay name=pay0 pt=96 config-interval=-1";
  } else {
    return "";
  }
  if (!audio) return text;
  const int rate = info.audioParam1 > 0 ? info.audioParam1 : 8000;
  const int channels = info.audioParam2 >= 1 && info.audioParam2 <= 8 ? info.audioParam2 : 1;
  const std::string format =
      ",rate=" + std::to_string(rate) + ",channels=" + std::to_string(channels) + "\" ! ";
  switch (info.audioCodec) {
    case kALaw:
      text += " " + std::string(kSource) + "name=audio caps=\"audio/x-alaw" + format +
              "rtppcmapay name=pay1 pt=8";
      break;
    case kMuLaw:
      text += " " + std::string(kSource) + "name=audio caps=\"audio/x-mulaw" + format +
              "rtppcmupay name=pay1 pt=0";
      break;
    case kImaAdpcm:  // converted to mu-law, first channel only
      text += " " + std::string(kSource) +
              "name=audio caps=\"audio/x-mulaw,rate=" + std::to_string(rate) +
              ",channels=1\" ! rtppcmupay name=pay1 pt=0";
      break;
    case kAac: {
      char config[5];
      text += " " + std::string(kSource) +
              "name=audio caps=\"audio/mpeg,mpegversion=4,stream-format=raw,codec_data=(buffer)" +
              AacConfigHex(rate, channels, config) + format + "rtpmp4gpay name=pay1 pt=97";
      break;
    }
    default: break;
  }
  return text;
}

std::string DescribeStream(const StreamInfo& info, bool audio) {
  std::string text = info.videoCodec == kH264   ? "H.264"
                     : info.videoCodec == kH265 ? "H.265"
                                                : "video codec " + std::to_string(info.videoCodec);
  text += " " + std::to_string(info.width) + "x" + std::to_string(info.height);
  if (!audio) return text + ", no audio";
  switch (info.audioCodec) {
    case kALaw: text += ", G.711 A-law"; break;
    case kMuLaw: text += ", G.711 mu-law"; break;
    case kImaAdpcm: text += ", IMA ADPCM (sent as G.711 mu-law)"; break;
    case kAac: text += ", AAC"; break;
    default: return text + ", audio not carried";
  }
  return text + " " + std::to_string(info.audioParam1) + " Hz";
}

}  // namespace qcrtsp
