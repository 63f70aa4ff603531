#include "vdevice/pattern_encoder.h"

#include <cstdlib>
#include <stdexcept>

extern "C" {
#include <libavutil/opt.h>
}

#include "vdevice/av_owners.h"
#include "vdevice/control_client.h"

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

void FillPicture(AVFrame& frame, const PatternOptions& options, int index) {
  const int chromaWidth =
      options.chroma == PatternChroma::k444 ? options.width : (options.width + 1) / 2;
  const int chromaHeight =
      options.chroma == PatternChroma::k420 ? (options.height + 1) / 2 : options.height;
  for (int y = 0; y < options.height; ++y) {
    uint8_t* row = frame.data[0] + static_cast<ptrdiff_t>(y) * frame.linesize[0];
    for (int x = 0; x < options.width; ++x) {
      row[x] = options.flat ? (*options.flat)[0] : PatternLuma(x, y, index);
    }
  }
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < chromaHeight; ++y) {
      uint8_t* row = frame.data[plane] + static_cast<ptrdiff_t>(y) * frame.linesize[plane];
      for (int x = 0; x < chromaWidth; ++x) {
        row[x] = options.flat ? (*options.flat)[static_cast<size_t>(plane)]
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

uint8_t PatternLuma(int x, int y, int index) {
  // Diagonal bands drifting right by 3 pixels per picture, with a finer
  // checker inside so that the encoder has detail to code, over a background
  // that brightens by two steps per picture (repeating after 64 pictures),
  // so that pictures within 64 of each other are told apart after lossy
  // coding.
  const int band = ((x - 3 * index + 4096) / 16 + y / 16) & 1;
  const int checker = ((x / 4) ^ (y / 4)) & 1;
  return static_cast<uint8_t>(16 + 2 * (index % 64) + band * 70 + checker * 20);
}

std::vector<MediaFrame> EncodePattern(const PatternOptions& options) {
  const AVCodec* codec = avcodec_find_encoder_by_name(PatternEncoderName(options.codec));
#ifdef _WIN32
  // The FFmpeg of Windows builds ships without the GPL encoders libx264 and
  // libx265: the tests under wine have the native simulator encode instead.
  if (codec == nullptr) return ControlClient().EncodePattern(options);
#endif
  if (codec == nullptr) throw std::runtime_error("pattern encoder: encoder missing");
  ContextPtr context(avcodec_alloc_context3(codec));
  if (!context) throw std::runtime_error("pattern encoder: no memory");
  context->width = options.width;
  context->height = options.height;
  context->pix_fmt = PixelFormat(options.chroma);
  context->time_base = AVRational{1, options.fps};
  context->framerate = AVRational{options.fps, 1};
  context->gop_size = options.gop;
  context->max_b_frames = 0;
  context->thread_count = 1;
  if (options.bitRate > 0) context->bit_rate = options.bitRate;
  // repeat-headers: the parameter sets go with every key frame, so that a
  // receiver can start at any of them (the mpeg4 encoder does so by itself).
  switch (options.codec) {
    case PatternCodec::kH264:
      av_opt_set(context->priv_data, "x264-params", "repeat-headers=1", 0);
      break;
    case PatternCodec::kH265:
      av_opt_set(context->priv_data, "x265-params",
                 "log-level=error:bframes=0:pools=none:frame-threads=1:repeat-headers=1", 0);
      break;
    case PatternCodec::kMpeg4:
      if (options.bitRate <= 0) {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * 3;
      }
      break;
  }
  if (options.codec != PatternCodec::kMpeg4) {
    av_opt_set(context->priv_data, "preset", options.preset.c_str(), 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
  }
  Check(avcodec_open2(context.get(), codec, nullptr), "open");

  FramePtr frame(av_frame_alloc());
  PacketPtr packet(av_packet_alloc());
  if (!frame || !packet) throw std::runtime_error("pattern encoder: no memory");
  frame->format = context->pix_fmt;
  frame->width = options.width;
  frame->height = options.height;
  Check(av_frame_get_buffer(frame.get(), 0), "frame buffer");

  std::vector<MediaFrame> out;
  for (int i = 0; i < options.frames; ++i) {
    Check(av_frame_make_writable(frame.get()), "writable frame");
    FillPicture(*frame, options, i);
    frame->pts = i;
    Check(avcodec_send_frame(context.get(), frame.get()), "send frame");
    Drain(*context, *packet, out);
  }
  Check(avcodec_send_frame(context.get(), nullptr), "flush");
  Drain(*context, *packet, out);
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
