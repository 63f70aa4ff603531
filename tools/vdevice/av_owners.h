// Owners of libav objects, and the error check every libav caller here uses.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

namespace vdevice {

struct ContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
// An input opened with avformat_open_input.
struct InputDeleter {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct BsfDeleter {
  void operator()(AVBSFContext* b) const { av_bsf_free(&b); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;

// Throws std::runtime_error "<who>: <what>" for a negative libav result.
inline void CheckAv(int result, const char* who, const char* what) {
  if (result < 0) throw std::runtime_error(std::string(who) + ": " + what);
}

}  // namespace vdevice
