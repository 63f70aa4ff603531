#include "vdevice/pattern_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/opt.h>
}

#include "vdevice/control_client.h"
#include "vdevice/pattern_label.h"

namespace vdevice {
namespace {

void Check(int result, const char* what) {
  CheckAv(result, "pattern encoder", what);
}

AVPixelFormat PixelFormat(PatternChroma chroma) {
  switch (chroma) {
    case PatternChroma::k420: return AV_PIX_FMT_YUV420P;
    case PatternChroma::k422: return AV_PIX_FMT_YUV422P;
    case PatternChroma::k444: return AV_PIX_FMT_YUV444P;
  }
  return AV_PIX_FMT_YUV420P;
}

constexpr uint8_t kBandLuma = 40;
constexpr uint8_t kBandChroma = 128;

void FillPicture(AVFrame& frame, const PatternOptions& options, int index) {
  const int chromaWidth =
      options.chroma == PatternChroma::k444 ? options.width : (options.width + 1) / 2;
  const bool halfHeight = options.chroma == PatternChroma::k420;
  const int chromaHeight = halfHeight ? (options.height + 1) / 2 : options.height;
  const int bandRows = std::min(options.height, PatternLabelRows(options.height));
  for (int y = 0; y < options.height; ++y) {
    uint8_t* row = frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0];
    for (int x = 0; x < options.width; ++x) {
      row[x] = options.flat ? (*options.flat)[0] : PatternLuma(x, y, index, options.height);
    }
  }
  if (!options.flat && !options.label.empty()) {
    DrawLabel(frame.data[0], frame.linesize[0], options.width, bandRows, options.label);
  }
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < chromaHeight; ++y) {
      uint8_t* row = frame.data[plane] + static_cast<ptrdiff_t>(y) * frame.linesize[plane];
      const bool band = (halfHeight ? 2 * y : y) < bandRows;
      for (int x = 0; x < chromaWidth; ++x) {
        row[x] = options.flat ? (*options.flat)[static_cast<size_t>(plane)]
                 : band       ? kBandChroma
                              : static_cast<uint8_t>(64 + ((x * plane + y + index * 2) & 127));
      }
    }
  }
}

void Drain(AVCodecContext& context, AVPacket& packet, std::vector<MediaFrame>& out) {
  for (;;) {
    const int result = avcodec_receive_packet(&context, &packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    Check(result, "receive packet");
    out.push_back(MediaFrame{std::vector<uint8_t>(packet.data, packet.data + packet.size),
                             (packet.flags & AV_PKT_FLAG_KEY) != 0});
    av_packet_unref(&packet);
  }
}

}  // namespace

const char* PatternEncoderName(PatternCodec codec) {
  switch (codec) {
    case PatternCodec::kMpeg4: return "mpeg4";
    case PatternCodec::kH264: return "libx264";
    case PatternCodec::kH265: return "libx265";
  }
  return "";
}

bool PatternEncoderAvailable(PatternCodec codec) {
#ifdef _WIN32
  // Run through wine-run: the native simulator encodes what is missing here.
  if (std::getenv("QCSDK_VDEVICE_PORT_FILE") != nullptr) return true;
#endif
  return avcodec_find_encoder_by_name(PatternEncoderName(codec)) != nullptr;
}

int PatternLabelRows(int height) {
  return 32 * std::max(1, height / 240);
}

uint8_t PatternLuma(int x, int y, int index, int height) {
  // The label band stays flat and still, so that an encoder codes it as
  // unchanged in every predicted picture and a label drawn into a key frame
  // stays until the next one.
  if (y < PatternLabelRows(height)) return kBandLuma;
  // Diagonal bands drifting right by 3 pixels per picture, with a finer
  // checker inside so that the encoder has detail to code, over a background
  // that brightens by two steps per picture (repeating after 64 pictures),
  // so that pictures within 64 of each other are told apart after lossy
  // coding.
  const int band = ((x - 3 * index + 4096) / 16 + y / 16) & 1;
  const int checker = ((x / 4) ^ (y / 4)) & 1;
  return static_cast<uint8_t>(16 + 2 * (index % 64) + band * 70 + checker * 20);
}

PatternEncoder::PatternEncoder(const PatternOptions& options) : options_(options) {
  const AVCodec* codec = avcodec_find_encoder_by_name(PatternEncoderName(options.codec));
  if (codec == nullptr) throw std::runtime_error("pattern encoder: encoder missing");
  context_.reset(avcodec_alloc_context3(codec));
  if (!context_) throw std::runtime_error("pattern encoder: no memory");
  AVCodecContext& c = *context_;
  c.width = options.width;
  c.height = options.height;
  c.pix_fmt = PixelFormat(options.chroma);
  c.time_base = AVRational{1, options.fps};
  c.framerate = AVRational{options.fps, 1};
  c.gop_size = options.gop;
  c.max_b_frames = 0;
  c.thread_count = 1;
  if (options.bitRate > 0) c.bit_rate = options.bitRate;
  // repeat-headers: the parameter sets go with every key frame, so that a
  // receiver can start at any of them (the mpeg4 encoder does so by itself).
  // forced-idr: a key frame asked for is an IDR picture, which a decoder can
  // start at.
  switch (options.codec) {
    case PatternCodec::kH264:
      av_opt_set(c.priv_data, "x264-params", "repeat-headers=1", 0);
      if (options.qp > 0) av_opt_set_int(c.priv_data, "qp", options.qp, 0);
      break;
    case PatternCodec::kH265: {
      std::string params = "log-level=error:bframes=0:pools=none:frame-threads=1:repeat-headers=1";
      if (options.qp > 0) params += ":open-gop=0:qp=" + std::to_string(options.qp);
      av_opt_set(c.priv_data, "x265-params", params.c_str(), 0);
      break;
    }
    case PatternCodec::kMpeg4:
      if (options.bitRate <= 0) {
        c.flags |= AV_CODEC_FLAG_QSCALE;
        c.global_quality = FF_QP2LAMBDA * 3;
      }
      break;
  }
  if (options.codec != PatternCodec::kMpeg4) {
    av_opt_set(c.priv_data, "preset", options.preset.c_str(), 0);
    av_opt_set(c.priv_data, "tune", "zerolatency", 0);
    av_opt_set_int(c.priv_data, "forced-idr", 1, 0);
  }
  Check(avcodec_open2(&c, codec, nullptr), "open");
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_) throw std::runtime_error("pattern encoder: no memory");
  frame_->format = c.pix_fmt;
  frame_->width = options.width;
  frame_->height = options.height;
  Check(av_frame_get_buffer(frame_.get(), 0), "frame buffer");
}

PatternEncoder::~PatternEncoder() = default;

std::vector<MediaFrame> PatternEncoder::Encode(int index, bool key) {
  Check(av_frame_make_writable(frame_.get()), "writable frame");
  FillPicture(*frame_, options_, index);
  frame_->pts = pts_++;
  frame_->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  Check(avcodec_send_frame(context_.get(), frame_.get()), "send frame");
  std::vector<MediaFrame> out;
  Drain(*context_, *packet_, out);
  return out;
}

std::vector<MediaFrame> PatternEncoder::Flush() {
  Check(avcodec_send_frame(context_.get(), nullptr), "flush");
  std::vector<MediaFrame> out;
  Drain(*context_, *packet_, out);
  return out;
}

std::vector<MediaFrame> EncodePattern(const PatternOptions& options) {
#ifdef _WIN32
  // The FFmpeg of Windows builds ships without the GPL encoders libx264 and
  // libx265: the tests under wine have the native simulator encode instead.
  if (avcodec_find_encoder_by_name(PatternEncoderName(options.codec)) == nullptr) {
    return ControlClient().EncodePattern(options);
  }
#endif
  PatternEncoder encoder(options);
  std::vector<MediaFrame> out;
  for (int i = 0; i < options.frames; ++i) {
    std::vector<MediaFrame> some = encoder.Encode(options.first + i, false);
    std::move(some.begin(), some.end(), std::back_inserter(out));
  }
  std::vector<MediaFrame> rest = encoder.Flush();
  std::move(rest.begin(), rest.end(), std::back_inserter(out));
  if (out.empty() || !out.front().key) throw std::runtime_error("pattern encoder: no key frame");
  return out;
}

}  // namespace vdevice

// libx265 runs helper threads of its own that the race checker of
// sanitizer builds cannot see synchronise; it is told to look past them in
// every program that links the encoder.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "race:libx265.so\n";
}

// libx265 keeps a few buffers of every encoder it opened until the process
// ends; the leak checker of sanitizer builds is told to look past them.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libx265.so\n";
}
