#include "video_decoder.h"

#include <utility>

namespace qvsp {
namespace {

AVCodecID CodecId(VideoCodec codec) {
  switch (codec) {
    case VideoCodec::kMpeg4Part2:
      return AV_CODEC_ID_MPEG4;
    case VideoCodec::kH264:
      return AV_CODEC_ID_H264;
    case VideoCodec::kH265:
      return AV_CODEC_ID_HEVC;
  }
  return AV_CODEC_ID_NONE;
}

bool IsYuv420(int format) { return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P; }

}  // namespace

std::unique_ptr<VideoDecoder> VideoDecoder::Open(const StreamDescription& stream) {
  const AVCodec* codec = avcodec_find_decoder(CodecId(stream.video));
  if (codec == nullptr) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return nullptr;
  // One decoding thread per player: the player's own.
  context->thread_count = 1;
  if (stream.width > 0 && stream.height > 0) {
    context->width = stream.width;
    context->height = stream.height;
  }
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  return std::make_unique<VideoDecoder>(std::move(context));
}

VideoDecoder::VideoDecoder(CodecContextPtr context)
    : m_context(std::move(context)), m_decoded(av_frame_alloc()) {}

bool VideoDecoder::Decode(AVPacket* packet, const PictureSink& sink) {
  if (!m_decoded) return false;
  const bool accepted = avcodec_send_packet(m_context.get(), packet) >= 0;
  // Pictures may be ready even when this packet was refused.
  while (avcodec_receive_frame(m_context.get(), m_decoded.get()) >= 0) {
    FramePtr picture = ToYuv420(m_decoded.get());
    av_frame_unref(m_decoded.get());
    if (picture) sink(std::move(picture));
  }
  return accepted;
}

FramePtr VideoDecoder::ToYuv420(AVFrame* frame) {
  if (frame->width <= 0 || frame->height <= 0) return nullptr;
  FramePtr out(av_frame_alloc());
  if (!out) return nullptr;
  if (IsYuv420(frame->format)) {
    // The decoder's own buffers, shared by reference: no copy.
    if (av_frame_ref(out.get(), frame) < 0) return nullptr;
    return out;
  }
  out->format = AV_PIX_FMT_YUV420P;
  out->width = frame->width;
  out->height = frame->height;
  if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  m_scaler.reset(sws_getCachedContext(
      m_scaler.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
      out->width, out->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!m_scaler) return nullptr;
  if (sws_scale(m_scaler.get(), frame->data, frame->linesize, 0, frame->height, out->data,
                out->linesize) <= 0) {
    return nullptr;
  }
  return out;
}

}  // namespace qvsp
