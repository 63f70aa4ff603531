#include "support/media_probe.h"

#include <cstdint>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "support/av_handles.h"

namespace qcsdk::test {

MediaProbe ProbeMedia(const std::string& path) {
  MediaProbe p;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return p;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> ctx(
      raw, [](AVFormatContext* c) { avformat_close_input(&c); });
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return p;
  p.opened = true;
  int video = -1, audio = -1;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) {
      video = static_cast<int>(i);
      p.videoCodec = avcodec_get_name(par->codec_id);
      p.width = par->width;
      p.height = par->height;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && audio < 0) {
      audio = static_cast<int>(i);
      p.audioCodec = avcodec_get_name(par->codec_id);
    }
  }
  std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
  if (!pkt) return p;
  int64_t first = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE;
  while (av_read_frame(ctx.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == video) {
      ++p.videoFrames;
      if (first == AV_NOPTS_VALUE) first = pkt->pts;
      last = pkt->pts;
    } else if (pkt->stream_index == audio) {
      ++p.audioFrames;
    }
    av_packet_unref(pkt.get());
  }
  if (video >= 0 && first != AV_NOPTS_VALUE) {
    p.videoSeconds = static_cast<double>(last - first) * av_q2d(ctx->streams[video]->time_base);
  }
  return p;
}

}  // namespace qcsdk::test
