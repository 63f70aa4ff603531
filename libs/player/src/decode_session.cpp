#include "decode_session.h"

#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

#include "thread_name.h"

namespace qvsp {

std::shared_ptr<DecodeSession> DecodeSession::Start(Setup setup) {
  std::unique_ptr<VideoDecoder> video = VideoDecoder::Open(setup.stream);
  if (!video) return nullptr;
  std::unique_ptr<AudioDecoder> audio = AudioDecoder::Open(setup.stream);
  if (setup.stream.audioPresent && !audio) {
    setup.counters->audioAbsent.store(true, std::memory_order_relaxed);
    // The library has no log of its own: this goes where libavcodec's own
    // decoder messages go (standard error unless the host redirects them
    // with av_log_set_callback), once per stream.
    av_log(nullptr, AV_LOG_WARNING,
           "qvsp: player %d: audio codec %d cannot be decoded; the stream plays without sound\n",
           static_cast<int>(setup.handle), setup.stream.audioCodecNumber);
  }
  return std::make_shared<DecodeSession>(std::move(setup), std::move(video), std::move(audio));
}

DecodeSession::DecodeSession(Setup setup, std::unique_ptr<VideoDecoder> video,
                             std::unique_ptr<AudioDecoder> audio)
    : m_setup(std::move(setup)),
      m_classifier(m_setup.stream.video, m_setup.stream.audioPresent),
      m_video(std::move(video)),
      m_audio(std::move(audio)),
      m_queue(m_setup.limits, *m_setup.counters),
      m_thread([this] { Run(); }) {
  // Named so that the player's threads can be told apart in a debugger.
  NameThread(m_thread, kThreadName);
}

DecodeSession::~DecodeSession() {
  Stop();
  if (!m_thread.joinable()) return;
  if (OnOwnThread()) {
    m_thread.detach();  // cannot wait for itself; it ends on return
  } else {
    m_thread.join();
  }
}

void DecodeSession::Stop() {
  m_stop.store(true, std::memory_order_release);
  m_queue.Stop();
}

void DecodeSession::Join() {
  if (m_thread.joinable() && !OnOwnThread()) m_thread.join();
}

bool DecodeSession::Write(const uint8_t* data, int32_t length) {
  StreamCounters& counters = *m_setup.counters;
  if (data == nullptr || length <= 0 || static_cast<size_t>(length) > m_queue.Limits().maxBytes) {
    StreamCounters::Add(counters.refused);
    return false;
  }
  const FrameClass type = m_classifier.Classify(data, static_cast<size_t>(length));
  PacketPtr packet(av_packet_alloc());
  if (!packet || av_new_packet(packet.get(), length) < 0) {
    StreamCounters::Add(counters.refused);
    return false;
  }
  std::memcpy(packet->data, data, static_cast<size_t>(length));
  if (type.key) packet->flags |= AV_PKT_FLAG_KEY;
  return m_queue.Add(QueuedFrame{std::move(packet), type}) == FrameQueue::Push::kQueued;
}

void DecodeSession::Run() {
  StreamCounters& counters = *m_setup.counters;
  try {
    const VideoDecoder::PictureSink report = [this, &counters](FramePtr picture) {
      if (m_stop.load(std::memory_order_acquire)) return;
      // Drawn first: the window shows the picture as soon as it exists.
      switch (m_setup.display->Show(*picture)) {
        case VideoOutput::Shown::kDrawn: StreamCounters::Add(counters.drawn); break;
        case VideoOutput::Shown::kFailed: StreamCounters::Add(counters.drawFailures); break;
        case VideoOutput::Shown::kOff: break;
      }
      QVSP_PictureCallback callback = m_setup.callback->load(std::memory_order_acquire);
      m_setup.slot->Report(m_setup.generation, std::move(picture), m_setup.handle, callback,
                           counters.pictures);
    };
    const AudioDecoder::SampleSink play = [this](const AVFrame& samples) {
      if (m_setup.sound && !m_stop.load(std::memory_order_acquire)) {
        m_resampler.Feed(samples, *m_setup.sound);
      }
    };
    while (std::optional<QueuedFrame> frame = m_queue.Take()) {
      AVPacket* packet = frame->packet.get();
      if (frame->type.kind == FrameKind::kVideo) {
        if (!m_video->Decode(packet, report)) StreamCounters::Add(counters.decodeErrors);
      } else if (m_audio) {
        const int decoded = m_audio->Decode(packet, play);
        if (decoded < 0) {
          StreamCounters::Add(counters.decodeErrors);
        } else {
          StreamCounters::Add(counters.audioDecoded, static_cast<uint64_t>(decoded));
        }
      }
    }
  } catch (...) {
    // Out of memory inside the decoding loop: the stream stops decoding.
  }
  m_finished.store(true, std::memory_order_release);
}

}  // namespace qvsp
