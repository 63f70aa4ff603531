#include "player.h"

#include <utility>

namespace qvsp {

Player::Player(int32_t handle, ThreadReaper& reaper,
               const std::atomic<QVSP_PictureCallback>& callback, AudioOutput& output)
    : m_handle(handle), m_reaper(reaper), m_callback(callback), m_output(output) {}

Player::~Player() {
  Shutdown();
}

bool Player::OpenStream(const uint8_t* info, int32_t length) {
  CloseStream();
  const std::optional<StreamDescription> stream = ParseStreamInfo(info, length);
  DecodeSession::Setup setup;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutdown || !stream) return false;
    m_counters = std::make_shared<StreamCounters>();
    setup.counters = m_counters;
    setup.limits = m_limits;
  }
  setup.handle = m_handle;
  setup.stream = *stream;
  setup.slot = m_slot;
  setup.display = m_display;
  setup.callback = &m_callback;
  setup.sound = m_sound;
  setup.generation = m_slot->Restart();
  std::shared_ptr<DecodeSession> session = DecodeSession::Start(std::move(setup));
  if (!session) return false;
  std::shared_ptr<DecodeSession> previous;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutdown) {
      previous = std::move(session);
    } else {
      // A stream opened by a concurrent call gives way to this one.
      previous = std::exchange(m_session, session);
    }
  }
  Retire(std::move(previous), m_reaper);
  return session != nullptr;
}

void Player::CloseStream() {
  std::shared_ptr<DecodeSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    session = std::move(m_session);
  }
  Retire(std::move(session), m_reaper);
}

bool Player::Shutdown() {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    first = !std::exchange(m_shutdown, true);
  }
  m_sound->Retire();
  m_output.Stop(m_sound);
  CloseStream();
  return first;
}

bool Player::Write(const uint8_t* data, int32_t length) {
  std::shared_ptr<DecodeSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    session = m_session;
  }
  return session && session->Write(data, length);
}

bool Player::SetVideoPreview(void* window, const QVSP_Rect* rect, int32_t on) {
  return m_display->Set(window, rect, on != 0);
}

int32_t Player::Refresh() {
  if (!m_slot->HasPicture()) return 0;
  switch (m_display->Current()) {
    case VideoOutput::State::kOff: return 1;  // nothing to draw into
    case VideoOutput::State::kFailed: return 0;
    case VideoOutput::State::kOn: break;
  }
  const FramePtr last = m_slot->Last();
  return last && m_display->Show(*last) == VideoOutput::Shown::kDrawn ? 1 : 0;
}

bool Player::SetAudioPreview(void* window, int32_t on) {
  const bool playing = on != 0 && m_output.Play(m_sound);
  if (on == 0) m_output.Stop(m_sound);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_audioWindow = window;
  m_audioOn = playing;
  return playing || on == 0;
}

void Player::Statistics(QVSP_Statistics& out) const {
  out = QVSP_Statistics{};
  std::shared_ptr<DecodeSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counters->Fill(out);
    session = m_session;
  }
  if (session) {
    size_t frames = 0;
    size_t bytes = 0;
    session->Depth(frames, bytes);
    out.queuedFrames = static_cast<uint32_t>(frames);
    out.queuedBytes = static_cast<uint32_t>(bytes);
  }
}

void Player::SetQueueLimits(QueueLimits limits) {
  std::shared_ptr<DecodeSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limits = limits;
    session = m_session;
  }
  if (session) session->SetLimits(limits);
}

}  // namespace qvsp
