#include "media.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

// libx265 keeps a few small allocations of each encoder it opens after the
// encoder is closed; they are the encoder's, not ours, so leak checking in
// sanitizer builds leaves them out.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libx265.so\n";
}

namespace qp_test {
namespace {

struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct InputClose {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};

// Sends one frame (or the flush, for null) and collects what comes out.
template <class Sink>
bool Drain(AVCodecContext* ctx, const AVFrame* frame, AVPacket* pkt, Sink&& sink) {
  if (avcodec_send_frame(ctx, frame) < 0) return false;
  while (true) {
    const int r = avcodec_receive_packet(ctx, pkt);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    sink(*pkt);
    av_packet_unref(pkt);
  }
}

}  // namespace

bool HaveEncoder(const char* name) { return avcodec_find_encoder_by_name(name) != nullptr; }

std::vector<VideoFrame> EncodeVideo(const char* encoder, int width, int height, int fps, int count,
                                    int gop) {
  std::vector<VideoFrame> out;
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
  if (codec == nullptr) return out;
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  ctx->width = width;
  ctx->height = height;
  ctx->time_base = {1, fps};
  ctx->framerate = {fps, 1};
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->gop_size = gop;
  ctx->keyint_min = gop;
  ctx->max_b_frames = 0;
  ctx->thread_count = 1;
  ctx->bit_rate = 200000;
  av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
  if (std::strcmp(encoder, "libx265") == 0) {
    av_opt_set(ctx->priv_data, "x265-params",
               "log-level=error:pools=none:frame-threads=1:bframes=0:scenecut=0:repeat-headers=1",
               0);
  } else {
    av_opt_set(ctx->priv_data, "x264-params", "scenecut=0:threads=1", 0);
  }
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return out;

  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
  std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
  auto sink = [&](const AVPacket& p) {
    out.push_back({{p.data, p.data + p.size}, (p.flags & AV_PKT_FLAG_KEY) != 0});
  };
  for (int i = 0; i < count; ++i) {
    if (av_frame_make_writable(frame.get()) < 0) return {};
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + 3 * i);
      }
    }
    for (int y = 0; y < height / 2; ++y) {
      for (int x = 0; x < width / 2; ++x) {
        frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(128 + y + i);
        frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(64 + x + 2 * i);
      }
    }
    frame->pts = i;
    if (!Drain(ctx.get(), frame.get(), pkt.get(), sink)) return {};
  }
  if (!Drain(ctx.get(), nullptr, pkt.get(), sink)) return {};
  return out;
}

AacStream EncodeAac(int sample_rate, int channels, int count) {
  AacStream out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (codec == nullptr) return out;
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  ctx->sample_rate = sample_rate;
  ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&ctx->ch_layout, channels);
  ctx->bit_rate = 32000 * channels;
  ctx->time_base = {1, sample_rate};
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return out;
  out.config.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);

  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->nb_samples = ctx->frame_size;
  frame->sample_rate = sample_rate;
  av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
  if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
  std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
  auto sink = [&](const AVPacket& p) { out.frames.emplace_back(p.data, p.data + p.size); };
  int64_t t = 0;
  while (static_cast<int>(out.frames.size()) < count) {
    if (av_frame_make_writable(frame.get()) < 0) return {};
    for (int c = 0; c < channels; ++c) {
      auto* samples = reinterpret_cast<float*>(frame->data[c]);
      for (int i = 0; i < frame->nb_samples; ++i) {
        samples[i] =
            0.3f * static_cast<float>(std::sin(2 * M_PI * 440.0 * double(t + i) / sample_rate));
      }
    }
    frame->pts = t;
    t += frame->nb_samples;
    if (!Drain(ctx.get(), frame.get(), pkt.get(), sink)) return {};
  }
  out.frames.resize(static_cast<size_t>(count));
  return out;
}

std::vector<uint8_t> WithAdts(const std::vector<uint8_t>& raw, int sample_rate, int channels) {
  static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
  int index = 0;
  while (kRates[index] != sample_rate) ++index;
  const size_t length = raw.size() + 7;
  const uint8_t header[7] = {
      0xff,
      0xf1,                                                             // MPEG-4, no CRC
      static_cast<uint8_t>((1 << 6) | (index << 2) | (channels >> 2)),  // AAC LC
      static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
      static_cast<uint8_t>((length >> 3) & 0xff),
      static_cast<uint8_t>(((length & 7) << 5) | 0x1f),
      0xfc};
  std::vector<uint8_t> out(length);
  std::copy(std::begin(header), std::end(header), out.begin());
  std::copy(raw.begin(), raw.end(), out.begin() + 7);
  return out;
}

std::vector<uint8_t> G711Tone(size_t samples, bool alaw) {
  std::vector<uint8_t> out(samples);
  for (size_t i = 0; i < samples; ++i) {
    // Any byte is a valid G.711 sample; a slow sawtooth of codes is enough.
    out[i] = static_cast<uint8_t>((alaw ? 0xd5 : 0xff) ^ (i % 32));
  }
  return out;
}

std::optional<MediaSummary> Summarise(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::unique_ptr<AVFormatContext, InputClose> ctx(raw);
  // As ffprobe does: without it, parsed streams lose their last duration.
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return std::nullopt;
  MediaSummary summary;
  summary.format = ctx->iformat->name;
  std::vector<StreamSummary*> by_index(ctx->nb_streams, nullptr);
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
    if (par->extradata_size > 0) {
      s.extradata.assign(par->extradata, par->extradata + par->extradata_size);
    }
    slot->emplace(std::move(s));
    by_index[i] = &**slot;
  }
  std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
  while (av_read_frame(ctx.get(), pkt.get()) >= 0) {
    StreamSummary* s = by_index[static_cast<size_t>(pkt->stream_index)];
    if (s != nullptr) {
      const AVRational tb = ctx->streams[pkt->stream_index]->time_base;
      const int64_t pts = av_rescale_q(pkt->pts, tb, {1, 1000});
      s->pts_ms.push_back(pts);
      s->pos.push_back(pkt->pos);
      s->keys.push_back((pkt->flags & AV_PKT_FLAG_KEY) != 0);
      s->end_ms = std::max(s->end_ms, av_rescale_q(pkt->pts + pkt->duration, tb, {1, 1000}));
    }
    av_packet_unref(pkt.get());
  }
  return summary;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qp_test_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

double TimeScale() {
  const char* value = std::getenv("QCSDK_TEST_TIME_SCALE");
  const double scale = value != nullptr ? std::atof(value) : 1.0;
  return scale >= 1.0 ? scale : 1.0;
}

}  // namespace qp_test
