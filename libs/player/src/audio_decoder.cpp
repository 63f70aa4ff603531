#include "audio_decoder.h"

#include <array>
#include <utility>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace qvsp {
namespace {

AVCodecID CodecId(AudioCodec codec) {
  switch (codec) {
    case AudioCodec::kImaAdpcm:
      return AV_CODEC_ID_ADPCM_IMA_WAV;
    case AudioCodec::kG711ALaw:
      return AV_CODEC_ID_PCM_ALAW;
    case AudioCodec::kG711MuLaw:
      return AV_CODEC_ID_PCM_MULAW;
    case AudioCodec::kAac:
      return AV_CODEC_ID_AAC;
  }
  return AV_CODEC_ID_NONE;
}

// The AudioSpecificConfig of AAC-LC at the stream's rate and channels, so
// that raw access units decode without an ADTS header.
bool SetAacConfig(AVCodecContext& context, int sampleRate, int channels) {
  static constexpr std::array<int, 13> kRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                 22050, 16000, 12000, 11025, 8000,  7350};
  int index = 4;  // 44.1 kHz when the rate is not one AAC names
  for (size_t i = 0; i < kRates.size(); ++i) {
    if (kRates[i] == sampleRate) index = static_cast<int>(i);
  }
  constexpr int kAacLc = 2;
  constexpr int kConfigSize = 2;
  auto* config = static_cast<uint8_t*>(av_mallocz(kConfigSize + AV_INPUT_BUFFER_PADDING_SIZE));
  if (config == nullptr) return false;
  config[0] = static_cast<uint8_t>((kAacLc << 3) | (index >> 1));
  config[1] = static_cast<uint8_t>(((index & 1) << 7) | ((channels & 0xF) << 3));
  context.extradata = config;  // owned and freed by the codec context
  context.extradata_size = kConfigSize;
  return true;
}

}  // namespace

std::unique_ptr<AudioDecoder> AudioDecoder::Open(const StreamDescription& stream) {
  if (!stream.audio) return nullptr;
  const AVCodec* codec = avcodec_find_decoder(CodecId(*stream.audio));
  if (codec == nullptr) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return nullptr;
  context->thread_count = 1;
  context->sample_rate = stream.sampleRate;
  av_channel_layout_default(&context->ch_layout, stream.channels);
  if (*stream.audio == AudioCodec::kImaAdpcm) context->bits_per_coded_sample = 4;
  if (*stream.audio == AudioCodec::kAac &&
      !SetAacConfig(*context, stream.sampleRate, stream.channels)) {
    return nullptr;
  }
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  return std::make_unique<AudioDecoder>(std::move(context));
}

AudioDecoder::AudioDecoder(CodecContextPtr context)
    : m_context(std::move(context)), m_decoded(av_frame_alloc()) {}

int AudioDecoder::Decode(AVPacket* packet, const SampleSink& sink) {
  if (!m_decoded) return -1;
  const bool accepted = avcodec_send_packet(m_context.get(), packet) >= 0;
  int frames = 0;
  while (avcodec_receive_frame(m_context.get(), m_decoded.get()) >= 0) {
    ++frames;
    sink(*m_decoded);
    av_frame_unref(m_decoded.get());
  }
  return accepted ? frames : -1;
}

}  // namespace qvsp
