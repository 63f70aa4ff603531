#include "muxer.h"

#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace qp {
namespace {

constexpr int kIoBufferSize = 64 * 1024;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WriteBuffer = const uint8_t*;
#else
using WriteBuffer = uint8_t*;
#endif

int WritePacket(void* opaque, WriteBuffer buf, int size) {
  auto* file = static_cast<OutputFile*>(opaque);
  if (size < 0) return AVERROR(EINVAL);
  return file->Write({buf, static_cast<size_t>(size)}) ? size : AVERROR(EIO);
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
  auto* file = static_cast<OutputFile*>(opaque);
  if ((whence & AVSEEK_SIZE) != 0) return AVERROR(ENOSYS);
  const int64_t pos = file->Seek(offset, whence & ~AVSEEK_FORCE);
  return pos < 0 ? AVERROR(EIO) : pos;
}

bool SetExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return true;
  par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (par->extradata == nullptr) return false;
  std::memcpy(par->extradata, bytes.data(), bytes.size());
  par->extradata_size = static_cast<int>(bytes.size());
  return true;
}

AVCodecID AudioCodecId(AudioCodec codec) {
  switch (codec) {
    case AudioCodec::kAlaw:
      return AV_CODEC_ID_PCM_ALAW;
    case AudioCodec::kUlaw:
      return AV_CODEC_ID_PCM_MULAW;
    case AudioCodec::kAac:
      return AV_CODEC_ID_AAC;
  }
  return AV_CODEC_ID_NONE;
}

}  // namespace

void Muxer::ContextDeleter::operator()(AVFormatContext* ctx) const { avformat_free_context(ctx); }

void Muxer::IoDeleter::operator()(AVIOContext* io) const {
  av_freep(&io->buffer);
  avio_context_free(&io);
}

std::unique_ptr<Muxer> Muxer::Start(OutputFile& file, const VideoTrack& video,
                                    const std::optional<AudioTrack>& audio) {
  auto muxer = std::make_unique<Muxer>(Key{});
  // The ISO MP4 muxer has no G.711 sample entry; the QuickTime muxer writes
  // 'alaw'/'ulaw' in the same box structure.
  const bool g711 = audio && audio->codec != AudioCodec::kAac;
  AVFormatContext* raw_ctx = nullptr;
  if (avformat_alloc_output_context2(&raw_ctx, nullptr, g711 ? "mov" : "mp4", nullptr) < 0 ||
      raw_ctx == nullptr) {
    return nullptr;
  }
  muxer->m_ctx.reset(raw_ctx);

  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  if (buffer == nullptr) return nullptr;
  AVIOContext* io =
      avio_alloc_context(buffer, kIoBufferSize, 1, &file, nullptr, &WritePacket, &SeekFile);
  if (io == nullptr) {
    av_free(buffer);
    return nullptr;
  }
  muxer->m_io.reset(io);
  AVFormatContext* ctx = muxer->m_ctx.get();
  ctx->pb = io;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;

  AVStream* vs = avformat_new_stream(ctx, nullptr);
  if (vs == nullptr) return nullptr;
  vs->time_base = {1, kVideoUnits};
  AVCodecParameters* vp = vs->codecpar;
  vp->codec_type = AVMEDIA_TYPE_VIDEO;
  vp->codec_id = video.codec == VideoCodec::kH265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
  // 'hvc1' rather than 'hev1' so that players that insist on it play H.265.
  if (video.codec == VideoCodec::kH265) vp->codec_tag = MKTAG('h', 'v', 'c', '1');
  vp->width = video.width;
  vp->height = video.height;
  vs->avg_frame_rate = av_d2q(video.frame_rate, 100000);
  if (!SetExtradata(vp, video.parameter_sets)) return nullptr;
  muxer->m_video = vs;

  if (audio) {
    AVStream* as = avformat_new_stream(ctx, nullptr);
    if (as == nullptr) return nullptr;
    as->time_base = {1, audio->sample_rate};
    AVCodecParameters* ap = as->codecpar;
    ap->codec_type = AVMEDIA_TYPE_AUDIO;
    ap->codec_id = AudioCodecId(audio->codec);
    ap->sample_rate = audio->sample_rate;
    av_channel_layout_default(&ap->ch_layout, audio->channels);
    if (audio->codec == AudioCodec::kAac) {
      ap->frame_size = 1024;
      if (!SetExtradata(ap, audio->config)) return nullptr;
    } else {
      ap->bits_per_coded_sample = 8;
      ap->block_align = audio->channels;
    }
    muxer->m_audio = as;
    muxer->m_audio_rate = audio->sample_rate;
  }

  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof+frag_discont", 0);
  av_dict_set_int(&options, "frag_duration", kMaxFragmentMicros, 0);
  av_dict_set(&options, "use_editlist", "0", 0);
  ctx->avoid_negative_ts = AVFMT_AVOID_NEG_TS_MAKE_NON_NEGATIVE;
  const int result = avformat_write_header(ctx, &options);
  av_dict_free(&options);
  if (result < 0) return nullptr;
  avio_flush(io);
  if (io->error < 0) return nullptr;
  return muxer;
}

Muxer::~Muxer() = default;

bool Muxer::Write(AVStream* stream, std::span<const uint8_t> data, int64_t pts, int64_t duration,
                  int units, bool key) {
  if (stream == nullptr || m_finished || data.empty() || data.size() > INT32_MAX / 2) return false;
  AVPacket* pkt = av_packet_alloc();
  if (pkt == nullptr) return false;
  bool ok = av_new_packet(pkt, static_cast<int>(data.size())) == 0;
  if (ok) {
    std::memcpy(pkt->data, data.data(), data.size());
    const AVRational from{1, units};
    pkt->stream_index = stream->index;
    pkt->pts = pkt->dts = av_rescale_q(pts, from, stream->time_base);
    pkt->duration = av_rescale_q(duration, from, stream->time_base);
    if (key) pkt->flags |= AV_PKT_FLAG_KEY;
    ok = av_write_frame(m_ctx.get(), pkt) >= 0;
    // Hand finished fragments to the kernel at once (crash safety).
    avio_flush(m_io.get());
    ok = ok && m_io->error >= 0;
  }
  av_packet_free(&pkt);
  return ok;
}

bool Muxer::WriteVideo(std::span<const uint8_t> frame, int64_t pts, int64_t duration, bool key) {
  return Write(m_video, frame, pts, duration, kVideoUnits, key);
}

bool Muxer::WriteAudio(std::span<const uint8_t> frame, int64_t pts, int64_t duration) {
  return Write(m_audio, frame, pts, duration, m_audio_rate, true);
}

uint64_t Muxer::Position() const {
  const int64_t pos = avio_tell(m_io.get());
  return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

bool Muxer::Finish() {
  if (m_finished) return true;
  m_finished = true;
  const bool ok = av_write_trailer(m_ctx.get()) == 0;
  avio_flush(m_io.get());
  return ok && m_io->error >= 0;
}

}  // namespace qp
