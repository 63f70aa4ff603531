// The path of a stream inside a channel: frames to the host and into the
// player and a recording, decoded pictures back to the host, and the
// stream description the host can query. Nothing on this path copies a
// frame: the host and the player receive the transport's own buffer.
#include <mutex>

#include "platform/player_api.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/base/callback_edge.h"
#include "qcsdk/base/callbacks.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/channel/stream_path.h"

namespace qcsdk {

void Channel::OnFrame(int32_t nType, const uint8_t* pData, int32_t nLength) {
  if (m_bRawData.load(std::memory_order_relaxed) ||
      m_bRawAllCodecs.load(std::memory_order_relaxed)) {
    if (RawDataCallback fn = g_pfnRawData.load(std::memory_order_acquire)) {
      RawFrame frame{nType, pData, nLength};
      fn(m_nChannel, &frame, m_pUserData);
    }
  }
  if (nType < 0 || nType > QCSDK_FRAME_AUDIO) return;
  if (nType == QCSDK_FRAME_KEY && m_bInfoReceived.load(std::memory_order_relaxed)) {
    m_bKeyFrameSeen.store(true, std::memory_order_relaxed);
  }
  if (nType != QCSDK_FRAME_AUDIO) m_nFrameCount.fetch_add(1, std::memory_order_relaxed);
  if (!m_bInfoReceived.load(std::memory_order_relaxed) ||
      !m_bKeyFrameSeen.load(std::memory_order_relaxed)) {
    return;
  }
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pPlayerLock);
    if (m_bDecoderOn.load(std::memory_order_acquire)) {
      platform::Player().WriteToStreamOneFrame(PlayerHandle(), pData, nLength);
    }
  }
  std::lock_guard<os::RecursiveLock> guard(*m_pRecFileLock);
  if (m_recFile) {
    m_recFile->WriteFrame(pData, nLength, nType == QCSDK_FRAME_KEY, nType == QCSDK_FRAME_AUDIO);
  }
}

void Channel::ClearDecodedFrame() {
  std::lock_guard<os::RecursiveLock> guard(*m_pDecodedLock);
  m_decodedFrame = DecodedFrame{};
}

bool Channel::EnableDecoder(bool bEnable) {
  if (bEnable == m_bDecoderOn.load(std::memory_order_acquire)) return true;
  if (bEnable) {
    if (!m_bInfoReceived.load(std::memory_order_acquire)) return false;
    ClearDecodedFrame();
    StreamInfoRecord record = InfoSnapshot();
    bool open = platform::Player().OpenStream(PlayerHandle(), record.data(),
                                              static_cast<int32_t>(kStreamInfoSize)) != 0;
    m_bDecoderOn.store(open, std::memory_order_release);
    InsertKeyFrame();
    return open;
  }
  m_bDecoderOn.store(false, std::memory_order_release);
  platform::Player().CloseStream(PlayerHandle());
  ClearDecodedFrame();
  return true;
}

bool Channel::SetVideoPreview(void* hWnd, const QCSDK_Rect* pRect) {
  const bool on = hWnd != nullptr && pRect != nullptr;
  m_bVideoPreview = on;
  QVSP_Rect rect{};
  if (pRect != nullptr) rect = QVSP_Rect{pRect->left, pRect->top, pRect->right, pRect->bottom};
  if (platform::Player().SetVideoPreview(PlayerHandle(), hWnd, pRect != nullptr ? &rect : nullptr,
                                         on ? 1 : 0) == 0) {
    m_bVideoPreview = false;
    return false;
  }
  return true;
}

bool Channel::SetAudioPreview(void* hWnd) {
  const bool on = hWnd != nullptr;
  m_bAudioPreview = on;
  if (platform::Player().SetAudioPreview(PlayerHandle(), hWnd, on ? 1 : 0) == 0) {
    m_bAudioPreview = false;
    return false;
  }
  return true;
}

namespace {

int32_t MapVideoCodec(uint16_t codec) {
  switch (codec) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 11;
    default: return 0;
  }
}

int32_t MapAudioCodec(uint16_t codec) {
  return codec <= 3 ? codec + 3 : 0;
}

}  // namespace

bool Channel::GetStreamInfo(StreamInfo* pInfo) {
  if (Status() != QCLS_Connected || pInfo == nullptr) return false;
  const StreamInfoRecord r = InfoSnapshot();
  const uint8_t* p = r.data();
  const uint16_t den = LoadLe16(p + info::kRateDen);
  const uint16_t kind = LoadLe16(p + info::kRecordKind);
  pInfo->videoCodec = MapVideoCodec(LoadLe16(p + info::kVideoCodec));
  pInfo->width = LoadLe16(p + info::kWidth);
  pInfo->height = LoadLe16(p + info::kHeight);
  pInfo->frameRateNum = LoadLe16(p + info::kRateNum);
  pInfo->frameRateDen = den == 0 ? 1 : den;
  pInfo->audioCodec = MapAudioCodec(LoadLe16(p + info::kAudioCodec));
  pInfo->audioParam1 = LoadLe16(p + info::kAudioParam1);
  pInfo->audioParam3 = LoadLe16(p + info::kAudioParam3);
  pInfo->audioParam2 = LoadLe16(p + info::kAudioParam2);
  pInfo->recordingKind = kind <= 4 ? kind + 1 : 0;
  pInfo->totalFrames = static_cast<int32_t>(LoadLe32(p + info::kTotalFrames));
  pInfo->framesReceived = m_nFrameCount.load(std::memory_order_relaxed);
  return true;
}

int32_t Channel::TalkAudioType() const {
  const uint16_t device = InfoWord(info::kDeviceType);
  const uint16_t kind = InfoWord(info::kRecordKind);
  switch (device) {
    case 1:
    case 5: return 7;
    case 2:
    case 3:
    case 4: return kind == 3 || kind == 4 ? 9 : 8;
    default: return 0;
  }
}

void Channel::OnTalkEvent(int32_t nCode, const uint8_t* pData, int32_t nLength) {
  TalkCallback fn = g_pfnTalk.load(std::memory_order_acquire);
  switch (nCode) {
    case QCSDK_TALK_ACCEPTED:
      if (!m_bTalkRequested) {
        m_bTalkReady = false;
        return;
      }
      m_bTalkReady = true;
      if (fn != nullptr)
        fn(m_nChannel, QCSDK_TALK_ACCEPTED, TalkAudioType(), nullptr, 0, m_pUserData);
      return;
    case QCSDK_TALK_AUDIO:
      if (m_bTalkReady && fn != nullptr)
        fn(m_nChannel, QCSDK_TALK_AUDIO, 255, pData, nLength, m_pUserData);
      return;
    case QCSDK_TALK_ENDED:
      if (!m_bTalkRequested && !m_bTalkReady) return;
      m_bTalkRequested = false;
      m_bTalkReady = false;
      if (fn != nullptr) fn(m_nChannel, QCSDK_TALK_ENDED, 255, nullptr, 0, m_pUserData);
      return;
    default: return;
  }
}

void Channel::OnDecodedPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                               int32_t yStride, int32_t uvStride) {
  int32_t width = 0;
  int32_t height = 0;
  platform::Player().GetBitmapSize(PlayerHandle(), &width, &height);
  DecodedFrame copy;
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pDecodedLock);
    m_decodedFrame = DecodedFrame{width, height, y, u, v, yStride, uvStride, uvStride};
    copy = m_decodedFrame;
  }
  if (DecodedFrameCallback fn = g_pfnDecodedFrame.load(std::memory_order_acquire)) {
    fn(m_nChannel, &copy, m_pUserData);
  }
}

void OnPlayerPicture(int32_t player, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                     int32_t yStride, int32_t uvStride) {
  AtCallbackEdge("stream_path", [&] {
    if (ChannelPtr channel = FindChannelByPlayer(player)) {
      channel->OnDecodedPicture(y, u, v, yStride, uvStride);
    }
  });
}

}  // namespace qcsdk
