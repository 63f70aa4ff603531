#include "vdevice/media_clip.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <mutex>
#include <stdexcept>
#include <tuple>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include "vdevice/av_owners.h"

namespace vdevice {
namespace {

// About the quality the encoders' default rate control gave the pattern.
constexpr int kTestPatternQp = 23;

void Check(int result, const char* what) {
  CheckAv(result, "media", what);
}

std::shared_ptr<const MediaClip> Encode(VideoCodec codec, int width, int height, int fps,
                                        int frames, int gop) {
  auto clip = std::make_shared<MediaClip>();
  clip->codec = codec;
  clip->width = width;
  clip->height = height;
  clip->fps = fps;
  clip->pattern = PatternOptions{
      .codec = codec == VideoCodec::kH265 ? PatternCodec::kH265 : PatternCodec::kH264,
      .width = width,
      .height = height,
      .frames = frames,
      .gop = gop,
      .fps = fps,
      .qp = kTestPatternQp};
  clip->frames = EncodePattern(*clip->pattern);
  return clip;
}

}  // namespace

size_t MediaClip::KeyAtOrBefore(size_t index) const {
  if (frames.empty()) return 0;
  for (size_t i = std::min(index, frames.size() - 1) + 1; i-- > 0;) {
    if (frames[i].key) return i;
  }
  return 0;
}

std::shared_ptr<const MediaClip> TestPatternClip(VideoCodec codec, int width, int height, int fps,
                                                 int frames, int gop) {
  using Key = std::tuple<int, int, int, int, int, int>;
  static std::mutex mutex;
  static std::map<Key, std::shared_ptr<const MediaClip>> cache;
  const Key key{static_cast<int>(codec), width, height, fps, frames, gop};
  std::lock_guard lock(mutex);
  auto& slot = cache[key];
  if (!slot) slot = Encode(codec, width, height, fps, frames, gop);
  return slot;
}

std::shared_ptr<const MediaClip> MediaFileClip(const std::string& path, size_t max_frames) {
  AVFormatContext* raw = nullptr;
  Check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open media file");
  InputPtr format(raw);
  Check(avformat_find_stream_info(format.get(), nullptr), "read stream information");
  const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  Check(index, "find a video stream");
  const AVStream* stream = format->streams[index];
  const AVCodecParameters* par = stream->codecpar;
  auto clip = std::make_shared<MediaClip>();
  const char* filter = nullptr;
  if (par->codec_id == AV_CODEC_ID_H264) {
    clip->codec = VideoCodec::kH264;
    filter = "h264_mp4toannexb";
  } else if (par->codec_id == AV_CODEC_ID_HEVC) {
    clip->codec = VideoCodec::kH265;
    filter = "hevc_mp4toannexb";
  } else {
    throw std::runtime_error("media: the file's video is neither H.264 nor H.265");
  }
  clip->width = par->width;
  clip->height = par->height;
  const AVRational rate = av_guess_frame_rate(format.get(), const_cast<AVStream*>(stream), nullptr);
  clip->fps = rate.num > 0 && rate.den > 0 ? std::max(1, (rate.num + rate.den / 2) / rate.den) : 25;

  const AVBitStreamFilter* bsf = av_bsf_get_by_name(filter);
  if (bsf == nullptr) throw std::runtime_error("media: no bitstream filter");
  AVBSFContext* rawBsf = nullptr;
  Check(av_bsf_alloc(bsf, &rawBsf), "bitstream filter");
  BsfPtr context(rawBsf);
  Check(avcodec_parameters_copy(context->par_in, par), "filter parameters");
  context->time_base_in = stream->time_base;
  Check(av_bsf_init(context.get()), "filter init");

  PacketPtr packet(av_packet_alloc());
  if (!packet) throw std::runtime_error("media: no memory");
  auto take = [&] {
    while (av_bsf_receive_packet(context.get(), packet.get()) == 0) {
      const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
      if ((key || !clip->frames.empty()) && clip->frames.size() < max_frames && packet->size > 0) {
        clip->frames.push_back(
            MediaFrame{std::vector<uint8_t>(packet->data, packet->data + packet->size), key});
      }
      av_packet_unref(packet.get());
    }
  };
  while (clip->frames.size() < max_frames && av_read_frame(format.get(), packet.get()) >= 0) {
    if (packet->stream_index != index) {
      av_packet_unref(packet.get());
      continue;
    }
    Check(av_bsf_send_packet(context.get(), packet.get()), "filter packet");
    take();
  }
  av_bsf_send_packet(context.get(), nullptr);
  take();
  if (clip->frames.empty()) throw std::runtime_error("media: no key frame in the file");
  return clip;
}

namespace {

uint8_t LinearToALaw(int16_t sample) {
  int pcm = sample;
  const int sign = pcm >= 0 ? 0x80 : 0;
  if (pcm < 0) pcm = -pcm - 1;
  pcm >>= 3;
  int exponent = 0;
  for (int v = pcm >> 5; v > 0 && exponent < 7; v >>= 1) ++exponent;
  const int mantissa = exponent == 0 ? (pcm >> 1) & 0x0F : (pcm >> exponent) & 0x0F;
  return static_cast<uint8_t>((sign | (exponent << 4) | mantissa) ^ 0x55);
}

uint8_t LinearToMuLaw(int16_t sample) {
  constexpr int kBias = 0x84;
  int pcm = sample;
  const int sign = pcm < 0 ? 0x80 : 0;
  if (pcm < 0) pcm = -pcm;
  pcm = std::min(pcm, 32635) + kBias;
  int exponent = 7;
  for (int mask = 0x4000; (pcm & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (pcm >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

}  // namespace

std::vector<uint8_t> G711Tone(bool mu_law, uint64_t first, size_t count) {
  // One period of 1 kHz at 8 kHz is 8 samples: a table of 8 bytes each law.
  static const auto table = [] {
    std::array<std::array<uint8_t, 8>, 2> t{};
    for (int i = 0; i < 8; ++i) {
      const auto s = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * i / 8.0)));
      t[0][static_cast<size_t>(i)] = LinearToALaw(s);
      t[1][static_cast<size_t>(i)] = LinearToMuLaw(s);
    }
    return t;
  }();
  std::vector<uint8_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = table[mu_law ? 1 : 0][(first + i) % 8];
  return out;
}

}  // namespace vdevice
