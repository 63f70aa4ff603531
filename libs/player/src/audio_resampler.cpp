#include "audio_resampler.h"

#include <optional>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace qvsp {

void AudioResampler::Feed(const AVFrame& samples, AudioTrack& track) {
  const std::optional<AudioFormat> out = track.Format();
  if (!out || samples.nb_samples <= 0 || !Configure(samples, *out)) return;
  const int room = swr_get_out_samples(m_swr.get(), samples.nb_samples);
  if (room <= 0) return;
  m_buffer.resize(static_cast<size_t>(room) * static_cast<size_t>(out->channels));
  auto* to = reinterpret_cast<uint8_t*>(m_buffer.data());
  const int frames =
      swr_convert(m_swr.get(), &to, room, const_cast<const uint8_t**>(samples.extended_data),
                  samples.nb_samples);
  if (frames > 0) track.Append(*out, m_buffer.data(), static_cast<size_t>(frames));
}

bool AudioResampler::Configure(const AVFrame& in, const AudioFormat& out) {
  const int channels = in.ch_layout.nb_channels;
  if (m_swr && in.sample_rate == m_inRate && in.format == m_inFormat && channels == m_inChannels &&
      out == m_out) {
    return true;
  }
  m_swr.reset();
  if (in.sample_rate <= 0 || channels <= 0 || out.rate <= 0 || out.channels <= 0) return false;
  // Decoders that give no channel order get the usual one for their count.
  AVChannelLayout inLayout{};
  if (in.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&inLayout, channels);
  } else if (av_channel_layout_copy(&inLayout, &in.ch_layout) < 0) {
    return false;
  }
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, out.channels);
  SwrContext* swr = nullptr;
  const int result =
      swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, out.rate, &inLayout,
                          static_cast<AVSampleFormat>(in.format), in.sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  av_channel_layout_uninit(&outLayout);
  SwrPtr owned(swr);
  if (result < 0) return false;
  // A mono source plays at its own level on the front left and right
  // speakers (libswresample would put it 3 dB lower on each).
  if (channels == 1 && out.channels >= 2) {
    std::vector<double> matrix(static_cast<size_t>(out.channels), 0.0);
    matrix[0] = matrix[1] = 1.0;  // every default layout of 2 or more starts FL, FR
    if (swr_set_matrix(owned.get(), matrix.data(), 1) < 0) return false;
  }
  if (swr_init(owned.get()) < 0) return false;
  m_swr = std::move(owned);
  m_inRate = in.sample_rate;
  m_inFormat = in.format;
  m_inChannels = channels;
  m_out = out;
  return true;
}

}  // namespace qvsp
