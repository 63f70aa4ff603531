#include "vdevice/source_input.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "vdevice/av_owners.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace vdevice {
namespace {

using Clock = std::chrono::steady_clock;
// A source that sends nothing for this long has stopped.
constexpr auto kReadTimeout = std::chrono::seconds(5);
constexpr auto kOpenTimeout = std::chrono::seconds(10);

void Check(int result, const char* what) {
  CheckAv(result, "source", what);
}

bool AnnexB(const uint8_t* p, size_t n) {
  return (n >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1) ||
         (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1);
}

// Calls f with the first header byte of every NAL unit of an Annex B run.
template <typename F>
void ForEachNal(const std::vector<uint8_t>& d, F f) {
  for (size_t i = 0; i + 3 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) f(d[i + 3]);
  }
}

struct NalKinds {
  bool parameter_sets = false;
  bool random_access = false;
};

NalKinds Kinds(VideoCodec codec, const std::vector<uint8_t>& d) {
  NalKinds k;
  ForEachNal(d, [&](uint8_t b) {
    if (codec == VideoCodec::kH264) {
      const int t = b & 0x1F;
      k.parameter_sets |= t == 7;
      k.random_access |= t == 5;
    } else {
      const int t = (b >> 1) & 0x3F;
      k.parameter_sets |= t == 32 || t == 33;
      k.random_access |= t >= 16 && t <= 21;
    }
  });
  return k;
}

// The 7-byte ADTS header of one AAC frame of `size` bytes, from the
// stream's AudioSpecificConfig (object type, rate index, channels).
std::vector<uint8_t> Adts(const std::vector<uint8_t>& config, size_t size) {
  const int object = config.size() >= 2 ? config[0] >> 3 : 2;
  const int rate = config.size() >= 2 ? ((config[0] & 7) << 1) | (config[1] >> 7) : 4;
  const int channels = config.size() >= 2 ? (config[1] >> 3) & 15 : 1;
  const size_t length = size + 7;
  return {0xFF,
          0xF1,
          static_cast<uint8_t>(((object - 1) & 3) << 6 | (rate & 15) << 2 | (channels >> 2 & 1)),
          static_cast<uint8_t>((channels & 3) << 6 | (length >> 11 & 3)),
          static_cast<uint8_t>(length >> 3),
          static_cast<uint8_t>((length & 7) << 5 | 0x1F),
          0xFC};
}

}  // namespace

struct SourceInput::Impl {
  StopQuery stop;
  Clock::time_point deadline;
  InputPtr input;
  BsfPtr bsf;  // only for inputs whose video is not Annex B already
  PacketPtr packet{av_packet_alloc()};
  int video = -1;
  int audio = -1;
  std::vector<uint8_t> parameter_sets;  // Annex B, put before key frames that lack them
  std::vector<uint8_t> aac_config;
  bool paced = false;  // a file: sent at its time stamps; a live input as it arrives
  bool based = false;
  int64_t base_ms = 0;
  Clock::time_point base_at;

  static int Interrupt(void* opaque) {
    auto* self = static_cast<Impl*>(opaque);
    return self->stop() || Clock::now() > self->deadline ? 1 : 0;
  }
  // Waits until the packet's time comes, as a live camera sends it; false
  // when asked to stop.
  bool Pace(const AVPacket& p, AVRational time_base);
};

bool SourceInput::Impl::Pace(const AVPacket& p, AVRational time_base) {
  const int64_t ts = p.pts != AV_NOPTS_VALUE ? p.pts : p.dts;
  if (!paced || ts == AV_NOPTS_VALUE) return !stop();
  const int64_t ms = av_rescale_q(ts, time_base, AVRational{1, 1000});
  const auto now = Clock::now();
  auto due = base_at + std::chrono::milliseconds(ms - base_ms);
  // A first packet, or time stamps that jump: the clock starts again here.
  if (!based || due > now + std::chrono::seconds(2) || due < now - std::chrono::seconds(2)) {
    based = true;
    base_ms = ms;
    base_at = now;
    due = now;
  }
  while (Clock::now() < due) {
    if (stop()) return false;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(20)));
  }
  return !stop();
}

SourceInput::SourceInput(const std::string& url, bool udp, StopQuery stop)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.stop = std::move(stop);
  m.paced = url.find("://") == std::string::npos || url.rfind("file:", 0) == 0;
  if (!m.packet) throw std::runtime_error("source: no memory");
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) throw std::runtime_error("source: no memory");
  raw->interrupt_callback = {&Impl::Interrupt, &m};
  AVDictionary* options = nullptr;
  av_dict_set(&options, "rtsp_transport", udp ? "udp" : "tcp", 0);
  m.deadline = Clock::now() + kOpenTimeout;
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  Check(opened, "open the source");  // raw is freed on failure
  m.input.reset(raw);
  Check(avformat_find_stream_info(raw, nullptr), "read the stream information");
  m.video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  Check(m.video, "find a video stream");
  AVStream* vs = raw->streams[m.video];
  const AVCodecParameters* par = vs->codecpar;
  if (par->codec_id == AV_CODEC_ID_H264) {
    format_.codec = VideoCodec::kH264;
  } else if (par->codec_id == AV_CODEC_ID_HEVC) {
    format_.codec = VideoCodec::kH265;
  } else {
    throw std::runtime_error("source: the video is neither H.264 nor H.265");
  }
  format_.width = par->width;
  format_.height = par->height;
  const AVRational rate = av_guess_frame_rate(raw, vs, nullptr);
  format_.fps =
      rate.num > 0 && rate.den > 0 ? std::clamp((rate.num + rate.den / 2) / rate.den, 1, 120) : 25;
  if (par->extradata_size > 0 &&
      !AnnexB(par->extradata, static_cast<size_t>(par->extradata_size))) {
    // Length-prefixed video (a file): the filter converts it and puts the
    // parameter sets before every key frame.
    const AVBitStreamFilter* filter = av_bsf_get_by_name(
        format_.codec == VideoCodec::kH264 ? "h264_mp4toannexb" : "hevc_mp4toannexb");
    AVBSFContext* rawBsf = nullptr;
    if (filter == nullptr) throw std::runtime_error("source: no bitstream filter");
    Check(av_bsf_alloc(filter, &rawBsf), "bitstream filter");
    m.bsf.reset(rawBsf);
    Check(avcodec_parameters_copy(rawBsf->par_in, par), "filter parameters");
    rawBsf->time_base_in = vs->time_base;
    Check(av_bsf_init(rawBsf), "filter init");
  } else if (par->extradata_size > 0) {
    m.parameter_sets.assign(par->extradata, par->extradata + par->extradata_size);
  }
  m.audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (m.audio >= 0) {
    const AVCodecParameters* a = raw->streams[m.audio]->codecpar;
    format_.audio = a->codec_id == AV_CODEC_ID_PCM_ALAW    ? SourceAudio::kALaw
                    : a->codec_id == AV_CODEC_ID_PCM_MULAW ? SourceAudio::kMuLaw
                    : a->codec_id == AV_CODEC_ID_AAC       ? SourceAudio::kAac
                                                           : SourceAudio::kNone;
    format_.audio_rate = a->sample_rate;
    format_.audio_channels = std::max(1, a->ch_layout.nb_channels);
    if (a->extradata_size > 0) m.aac_config.assign(a->extradata, a->extradata + a->extradata_size);
    if (format_.audio == SourceAudio::kNone) m.audio = -1;
  }
}

SourceInput::~SourceInput() = default;

bool SourceInput::Read(SourcePacket* out) {
  Impl& m = *impl_;
  AVPacket* p = m.packet.get();
  for (;;) {
    av_packet_unref(p);
    if (m.bsf && av_bsf_receive_packet(m.bsf.get(), p) == 0) break;
    m.deadline = Clock::now() + kReadTimeout;
    if (av_read_frame(m.input.get(), p) < 0) return false;
    if (p->stream_index == m.audio && p->size > 0) break;
    if (p->stream_index != m.video || p->size <= 0) continue;
    if (!m.bsf) break;
    if (av_bsf_send_packet(m.bsf.get(), p) < 0) return false;
  }
  const AVStream* stream = m.input->streams[p->stream_index];
  const bool audio = p->stream_index == m.audio;
  if (!m.Pace(*p, audio || !m.bsf ? stream->time_base : m.bsf->time_base_out)) return false;
  out->audio = audio;
  out->data.clear();
  if (audio) {
    out->key = false;
    if (format_.audio == SourceAudio::kAac &&
        !(p->size >= 2 && p->data[0] == 0xFF && (p->data[1] & 0xF0) == 0xF0)) {
      out->data = Adts(m.aac_config, static_cast<size_t>(p->size));
    }
    out->data.insert(out->data.end(), p->data, p->data + p->size);
    return true;
  }
  out->data.assign(p->data, p->data + p->size);
  const NalKinds kinds = Kinds(format_.codec, out->data);
  out->key = (p->flags & AV_PKT_FLAG_KEY) != 0 || kinds.random_access;
  if (out->key && !kinds.parameter_sets) {
    out->data.insert(out->data.begin(), m.parameter_sets.begin(), m.parameter_sets.end());
  }
  return true;
}

}  // namespace vdevice
