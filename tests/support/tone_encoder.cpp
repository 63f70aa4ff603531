#include "support/tone_encoder.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "vdevice/av_owners.h"

namespace qcsdk::test {
namespace {

void Check(int result, const char* what) {
  vdevice::CheckAv(result, "tone encoder", what);
}

constexpr int kG711Samples = 160;

void FillTone(AVFrame& frame, const ToneOptions& options, int64_t first) {
  const auto format = static_cast<AVSampleFormat>(frame.format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  for (int i = 0; i < frame.nb_samples; ++i) {
    const double t = static_cast<double>(first + i) / options.sampleRate;
    const double value = 0.5 * std::sin(2.0 * std::numbers::pi * options.frequency * t);
    for (int c = 0; c < options.channels; ++c) {
      const int plane = planar ? c : 0, index = planar ? i : i * options.channels + c;
      if (format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_FLT) {
        reinterpret_cast<float*>(frame.data[plane])[index] = static_cast<float>(value);
      } else {
        reinterpret_cast<int16_t*>(frame.data[plane])[index] =
            static_cast<int16_t>(value * 32767.0);
      }
    }
  }
}

}  // namespace

const char* ToneEncoderName(ToneCodec codec) {
  // In the order of ToneCodec.
  static constexpr const char* kNames[] = {"adpcm_ima_wav", "pcm_alaw", "pcm_mulaw", "aac"};
  return kNames[static_cast<int>(codec)];
}

std::vector<std::vector<uint8_t>> EncodeTone(const ToneOptions& options) {
  const AVCodec* codec = avcodec_find_encoder_by_name(ToneEncoderName(options.codec));
  if (codec == nullptr) throw std::runtime_error("tone encoder: encoder missing");
  vdevice::ContextPtr context(avcodec_alloc_context3(codec));
  if (!context) throw std::runtime_error("tone encoder: no memory");
  context->sample_rate = options.sampleRate;
  context->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&context->ch_layout, options.channels);
  context->time_base = AVRational{1, options.sampleRate};
  if (options.codec == ToneCodec::kAac) context->bit_rate = 32000;
  Check(avcodec_open2(context.get(), codec, nullptr), "open");

  vdevice::FramePtr frame(av_frame_alloc());
  vdevice::PacketPtr packet(av_packet_alloc());
  if (!frame || !packet) throw std::runtime_error("tone encoder: no memory");
  frame->format = context->sample_fmt;
  frame->nb_samples = context->frame_size > 0 ? context->frame_size : kG711Samples;
  frame->sample_rate = options.sampleRate;
  Check(av_channel_layout_copy(&frame->ch_layout, &context->ch_layout), "layout");
  Check(av_frame_get_buffer(frame.get(), 0), "frame buffer");

  std::vector<std::vector<uint8_t>> out;
  int64_t samples = 0;
  auto drain = [&] {
    for (;;) {
      const int result = avcodec_receive_packet(context.get(), packet.get());
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
      Check(result, "receive packet");
      out.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
  };
  while (static_cast<int>(out.size()) < options.packets) {
    Check(av_frame_make_writable(frame.get()), "writable frame");
    FillTone(*frame, options, samples);
    frame->pts = samples;
    samples += frame->nb_samples;
    Check(avcodec_send_frame(context.get(), frame.get()), "send frame");
    drain();
  }
  out.resize(static_cast<size_t>(options.packets));
  return out;
}

}  // namespace qcsdk::test
