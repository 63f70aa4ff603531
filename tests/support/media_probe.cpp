#include "support/media_probe.h"

#include <algorithm>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "support/av_handles.h"

namespace qcsdk::test {

std::optional<MediaSummary> Summarise(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> ctx(
      raw, [](AVFormatContext* c) { avformat_close_input(&c); });
  // As ffprobe does: without it, parsed streams lose their last duration.
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return std::nullopt;
  MediaSummary summary;
  summary.format = ctx->iformat->name;
  std::vector<StreamSummary*> byIndex(ctx->nb_streams, nullptr);
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    std::optional<StreamSummary>* slot = par->codec_type == AVMEDIA_TYPE_VIDEO   ? &summary.video
                                         : par->codec_type == AVMEDIA_TYPE_AUDIO ? &summary.audio
                                                                                 : nullptr;
    if (slot == nullptr || slot->has_value()) continue;
    StreamSummary s;
    s.codec_id = par->codec_id;
    s.codec_tag = par->codec_tag;
    s.width = par->width;
    s.height = par->height;
    s.sample_rate = par->sample_rate;
    s.channels = par->ch_layout.nb_channels;
    s.extradata.assign(par->extradata, par->extradata + par->extradata_size);
    slot->emplace(std::move(s));
    byIndex[i] = &**slot;
  }
  std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
  while (pkt && av_read_frame(ctx.get(), pkt.get()) >= 0) {
    if (StreamSummary* s = byIndex[static_cast<size_t>(pkt->stream_index)]) {
      const AVRational tb = ctx->streams[pkt->stream_index]->time_base;
      s->pts_ms.push_back(av_rescale_q(pkt->pts, tb, {1, 1000}));
      s->pos.push_back(pkt->pos);
      s->keys.push_back((pkt->flags & AV_PKT_FLAG_KEY) != 0);
      s->end_ms = std::max(s->end_ms, av_rescale_q(pkt->pts + pkt->duration, tb, {1, 1000}));
    }
    av_packet_unref(pkt.get());
  }
  return summary;
}

MediaProbe ProbeMedia(const std::string& path) {
  MediaProbe p;
  const std::optional<MediaSummary> summary = Summarise(path);
  if (!summary) return p;
  p.opened = true;
  if (const auto& video = summary->video) {
    p.videoCodec = avcodec_get_name(static_cast<AVCodecID>(video->codec_id));
    p.width = video->width;
    p.height = video->height;
    p.videoFrames = static_cast<int>(video->pts_ms.size());
    if (!video->pts_ms.empty()) {
      p.videoSeconds = static_cast<double>(video->pts_ms.back() - video->pts_ms.front()) / 1000;
    }
  }
  if (const auto& audio = summary->audio) {
    p.audioCodec = avcodec_get_name(static_cast<AVCodecID>(audio->codec_id));
    p.audioFrames = static_cast<int>(audio->pts_ms.size());
  }
  return p;
}

}  // namespace qcsdk::test
