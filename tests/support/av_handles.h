// Owners of libavcodec objects for the test encoders, and their error check.
#pragma once

#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qcsdk::test {

struct ContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Throws std::runtime_error "<who>: <what>" for a negative libav result.
inline void CheckAv(int result, const char* who, const char* what) {
  if (result < 0) throw std::runtime_error(std::string(who) + ": " + what);
}

}  // namespace qcsdk::test
