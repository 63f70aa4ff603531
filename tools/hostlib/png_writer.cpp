#include "png_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cstdio>
#include <memory>

namespace hostlib {

bool WritePng(const std::string& path, const uint8_t* bgra, int width, int height, bool bottomUp) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (codec == nullptr || bgra == nullptr || width <= 0 || height <= 0) return false;
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> ctx(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* f) { av_frame_free(&f); });
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                        [](AVPacket* p) { av_packet_free(&p); });
  if (!ctx || !frame || !packet) return false;
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = AV_PIX_FMT_RGB24;
  ctx->time_base = AVRational{1, 25};
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return false;
  frame->format = AV_PIX_FMT_RGB24;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
  for (int y = 0; y < height; ++y) {
    const int row = bottomUp ? height - 1 - y : y;
    const uint8_t* src = bgra + static_cast<std::size_t>(row) * width * 4;
    uint8_t* dst = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
    for (int x = 0; x < width; ++x) {
      dst[x * 3 + 0] = src[x * 4 + 2];
      dst[x * 3 + 1] = src[x * 4 + 1];
      dst[x * 3 + 2] = src[x * 4 + 0];
    }
  }
  if (avcodec_send_frame(ctx.get(), frame.get()) < 0 || avcodec_send_frame(ctx.get(), nullptr) < 0)
    return false;
  if (avcodec_receive_packet(ctx.get(), packet.get()) < 0) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(packet->data, 1, static_cast<std::size_t>(packet->size), file) ==
                  static_cast<std::size_t>(packet->size);
  return std::fclose(file) == 0 && ok;
}

}  // namespace hostlib
