#include "media.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "vdevice/av_owners.h"

namespace qp_test {
namespace {

// Encoder reports and complaints about files of hostile frames are noise in test output.
const bool g_quietLibav = [] {
  av_log_set_level(AV_LOG_FATAL);
  return true;
}();

std::vector<MediaFrame> Encoded(PatternCodec codec, int frames, int gop) {
  if (!vdevice::PatternEncoderAvailable(codec)) return {};
  return vdevice::EncodePattern(
      {.codec = codec, .width = kWidth, .height = kHeight, .frames = frames, .gop = gop});
}

}  // namespace

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

const std::vector<MediaFrame>& H264() {
  static const auto frames = Encoded(PatternCodec::kH264, 150, 25);
  return frames;
}

const std::vector<MediaFrame>& H265() {
  static const auto frames = Encoded(PatternCodec::kH265, 40, 20);
  return frames;
}

QP_Handle Open(const std::string& file, const char* index, bool audio, int32_t format, float fps) {
  QP_VideoDesc desc{kWidth, kHeight, fps, {0, 0, 0, 0}};
  return QP_OpenPackage(&desc, 1, audio ? 1 : 0, file.c_str(), index, format, 0);
}

int32_t Put(QP_Handle h, int32_t kind, const std::vector<uint8_t>& data, int64_t timestamp) {
  QP_Frame frame{kind, data.data(), static_cast<int32_t>(data.size()), 0, timestamp, 0};
  return QP_PackageOneFrame(h, &frame);
}

std::optional<MediaSummary> Summarise(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  vdevice::InputPtr ctx(raw);
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
    slot->emplace(StreamSummary{par->codec_id,
                                std::string(reinterpret_cast<const char*>(&par->codec_tag), 4),
                                par->width,
                                par->height,
                                par->sample_rate,
                                par->ch_layout.nb_channels,
                                {par->extradata, par->extradata + par->extradata_size}});
    byIndex[i] = &**slot;
  }
  vdevice::PacketPtr pkt(av_packet_alloc());
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

// A new folder of our own (create_directory fails on an existing one).
TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate =
        std::filesystem::temp_directory_path() / ("qp_test_" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path = candidate.string();
      return;
    }
  }
  throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace qp_test
