// The player's decoding of a stream: the 96-byte stream-information record,
// then each frame told apart by the classifier and handed, as a packet, to
// the video or the audio decoder the record calls for, as the decoding
// thread does. Input: [96-byte record][u8 -][u8 -][u16 length][frame]...
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <array>
#include <cstring>
#include <map>

#include "audio_decoder.h"
#include "frame_classifier.h"
#include "stream_description.h"
#include "video_decoder.h"

using namespace qvsp;

namespace {

// Decoders are opened once for each codec (and audio format) and kept:
// every input goes on with the stream, as a player's decoder sees all the
// frames of a stream. Opening one costs more than decoding a few small
// frames (libavcodec zeroes some 700 KiB for a video decoder).
template <class Decoder, class Key>
Decoder* Kept(std::map<Key, std::unique_ptr<Decoder>>& kept, const Key& key,
              const StreamDescription& stream) {
  if (kept.size() >= 16) kept.clear();
  auto [at, added] = kept.try_emplace(key);
  if (added) at->second = Decoder::Open(stream);
  return at->second.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::map<VideoCodec, std::unique_ptr<VideoDecoder>> videoDecoders;
  static std::map<std::array<int, 3>, std::unique_ptr<AudioDecoder>> audioDecoders;
  if (size < kStreamInfoSize) return 0;
  const auto stream = ParseStreamInfo(data, kStreamInfoSize);
  if (!stream) return 0;
  VideoDecoder* video = Kept(videoDecoders, stream->video, *stream);
  if (video == nullptr) return 0;
  const std::array<int, 3> format = {stream->audio ? static_cast<int>(*stream->audio) : -1,
                                     stream->sampleRate, stream->channels};
  AudioDecoder* audio = Kept(audioDecoders, format, *stream);
  const FrameClassifier classifier(stream->video, stream->audioPresent);
  const VideoDecoder::PictureSink picture = [](FramePtr) {};
  const AudioDecoder::SampleSink samples = [](const AVFrame&) {};
  for (size_t at = kStreamInfoSize; at + 4 <= size;) {
    const size_t length = std::min<size_t>(data[at + 2] | data[at + 3] << 8, size - at - 4);
    const uint8_t* frame = data + at + 4;
    at += 4 + length;
    if (length == 0) continue;
    const FrameClass type = classifier.Classify(frame, length);
    PacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), static_cast<int>(length)) < 0) return 0;
    std::memcpy(packet->data, frame, length);
    if (type.key) packet->flags |= AV_PKT_FLAG_KEY;
    if (type.kind == FrameKind::kVideo) {
      video->Decode(packet.get(), picture);
    } else if (audio) {
      audio->Decode(packet.get(), samples);
    }
  }
  return 0;
}
