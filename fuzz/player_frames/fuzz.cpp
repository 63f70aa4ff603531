// The player's decoding of a stream: the 96-byte stream-information record,
// then each frame told apart by the classifier and handed, as a packet, to
// the video or the audio decoder the record calls for, as the decoding
// thread does. Input: [96-byte record][u8 -][u8 -][u16 length][frame]...
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

#include "audio_decoder.h"
#include "frame_classifier.h"
#include "stream_description.h"
#include "video_decoder.h"

using namespace qvsp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kStreamInfoSize) return 0;
  const auto stream = ParseStreamInfo(data, kStreamInfoSize);
  if (!stream) return 0;
  auto video = VideoDecoder::Open(*stream);
  if (!video) return 0;
  auto audio = AudioDecoder::Open(*stream);
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
