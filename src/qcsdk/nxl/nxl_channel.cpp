#include "qcsdk/nxl/nxl_channel.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "log/log.h"
#include "platform/nxl_api.h"
#include "qcsdk/base/bytes.h"

namespace qcsdk {
namespace {

constexpr int64_t kTextWaitMs = 5000;
constexpr uint32_t kGrpcBudgetMs = 5000;
constexpr uint32_t kPollMs = 10;
constexpr int32_t kFileListQueryLength = 28;

// PTZ codes on start and on stop, by command.
constexpr int32_t kPtzStart[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 32, 34, 36, 38};
constexpr int32_t kPtzStop[15] = {21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 33, 35, 37, 39};

}  // namespace

NxlChannel::NxlChannel(int32_t nChannel) : Channel(nChannel), m_nLinkId(nChannel + 1) {}

NxlChannel::~NxlChannel() = default;

void NxlChannel::Send(int32_t type, const void* data, int32_t length) const {
  platform::Nxl().SendData(m_nLinkId, type, data, length);
}

bool NxlChannel::Connect(const char* szAddress, int32_t nPort, int32_t nDeviceChannel,
                         int32_t nStream, const char* szUser, const char* szPassword,
                         bool bByNumber, void* pUserData) {
  if (!bByNumber && os::InetAddr(szAddress) == 0xFFFFFFFFu) return false;
  if (!Channel::Connect(szAddress, nPort, nDeviceChannel, nStream, szUser, szPassword, bByNumber,
                        pUserData)) {
    return false;
  }
  if (bByNumber) {
    // Group: the leading characters before the first digit (at most four,
    // raised to upper case); number: the leading digits of the rest.
    char group[5] = {};
    const char* p = szAddress != nullptr ? szAddress : "";
    for (int n = 0; n < 4 && *p != '\0' && (*p < '0' || *p > '9'); ++n, ++p) {
      group[n] = (*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 'a' + 'A') : *p;
    }
    int64_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      number = number * 10 + (*p - '0');
      if (number > INT32_MAX) number = INT32_MAX;
    }
    platform::Nxl().Connect(1, m_nLinkId, nDeviceChannel, nullptr, 0, szUser, szPassword,
                            static_cast<int32_t>(number), group, 1, 1, 0, 0, 0);
  } else {
    platform::Nxl().Connect(0, m_nLinkId, nDeviceChannel, szAddress, nPort, szUser, szPassword, -1,
                            nullptr, 0, 0, 0, 0, 0);
  }
  m_nDeviceChannel = nDeviceChannel;
  return true;
}

bool NxlChannel::Disconnect() {
  platform::Nxl().DisConnect(m_nLinkId);
  return true;
}

bool NxlChannel::EnableVideoData(bool bEnable) {
  if (!Connected()) return false;
  Send(bEnable ? nxlmsg::kVideoOn : nxlmsg::kVideoOff);
  return true;
}

// The Nxl transport has no key-frame request.
void NxlChannel::InsertKeyFrame() {}

bool NxlChannel::StartTalk() {
  if (!Connected() || m_bTalkRequested) return false;
  m_bTalkRequested = true;
  Send(nxlmsg::kTalkStart);
  return true;
}

bool NxlChannel::StopTalk() {
  m_bTalkRequested = false;
  m_bTalkReady = false;
  Send(nxlmsg::kTalkStop);
  return true;
}

bool NxlChannel::SendTalkData(const uint8_t* pData, int32_t nLength) {
  if (!m_bTalkReady) return false;
  Send(nxlmsg::kTalkData, pData, nLength);
  return true;
}

bool NxlChannel::GetRemoteRecFileList(const int32_t* pDates) {
  if (!Connected() || pDates == nullptr) return false;
  char query[64];
  {
    std::lock_guard<std::mutex> guard(m_headerMutex);
    std::memcpy(m_queryDate, pDates, sizeof m_queryDate);
  }
  std::snprintf(query, sizeof query, "%04d%02d%02d000000%04d%02d%02d000000", pDates[0], pDates[1],
                pDates[2], pDates[3], pDates[4], pDates[5]);
  // Always the first 28 characters: a date out of range formats longer
  // (never shorter) but does not lengthen the query.
  Send(nxlmsg::kFileList, query, kFileListQueryLength);
  return true;
}

bool NxlChannel::RemotePlay(int32_t nIndex) {
  if (!Connected()) return false;
  Send(nxlmsg::kStopPlay);
  if (nIndex < 0) return true;
  os::Sleep(50);
  std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
  if (static_cast<std::size_t>(nIndex) >= m_recFileList.size()) return false;
  const char* path = reinterpret_cast<const char*>(m_recFileList[nIndex].data() + 2064);
  Send(nxlmsg::kPlay, path, static_cast<int32_t>(strnlen(path, 2048)));
  return true;
}

bool NxlChannel::RemotePlayControl(int32_t nCommand, int32_t nValue) {
  if (!Connected()) return false;
  switch (nCommand) {
    case 0: Send(nxlmsg::kResume); return true;
    case 1: Send(nxlmsg::kPause); return true;
    case 2: Send(nxlmsg::kFaster); return true;
    case 3: Send(nxlmsg::kSlower); return true;
    case 4: Send(nxlmsg::kNormalSpeed); return true;
    case 5: {
      uint8_t frame[4];
      StoreLe32(frame, static_cast<uint32_t>(nValue));
      Send(nxlmsg::kSeek, frame, 4);
      const uint32_t total = LoadLe32(InfoSnapshot().data() + info::kTotalFrames);
      if (nValue >= 1 && static_cast<uint32_t>(nValue) <= total) m_nFrameCount = nValue;
      return true;
    }
    default: return false;
  }
}

bool NxlChannel::DownloadRemoteFile(int32_t nIndex, const char* szFilename) {
  if (!Connected()) return false;
  if (!Channel::DownloadRemoteFile(nIndex, szFilename)) return false;
  std::string path;
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= m_recFileList.size()) return false;
    const char* entry = reinterpret_cast<const char*>(m_recFileList[nIndex].data() + 2064);
    path.assign(entry, strnlen(entry, 2048));
  }
  // The request and the flag together: the device's first answer waits for
  // the flag.
  std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
  Send(nxlmsg::kDownload, path.data(), static_cast<int32_t>(path.size()));
  m_bDeviceDownloading = true;
  return true;
}

bool NxlChannel::StopDownload() {
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
    if (m_bDeviceDownloading) ++m_nStoppedDownloads;
    m_bDeviceDownloading = false;
    Send(nxlmsg::kStopDownload);
  }
  return Channel::StopDownload();
}

Channel::DownloadFate NxlChannel::DownloadReportFate(int32_t nCode, int32_t /*nSource*/) {
  if (m_nStoppedDownloads > 0) {
    if (nCode == 0) return DownloadFate::kDropped;
    --m_nStoppedDownloads;
    return DownloadFate::kStoppedEnd;
  }
  if (nCode != 0) m_bDeviceDownloading = false;
  return DownloadFate::kCurrent;
}

bool NxlChannel::RemoteRecording(bool bStart) {
  if (!Connected()) return false;
  uint8_t code[4];
  StoreLe32(code, bStart ? 41 : 42);
  Send(nxlmsg::kControl, code, 4);
  return true;
}

bool NxlChannel::SendPTZCommand(int32_t nCommand, bool bStart) {
  if (!Connected() || nCommand < 0 || nCommand > 14) return false;
  uint32_t code = static_cast<uint32_t>(bStart ? kPtzStart[nCommand] : kPtzStop[nCommand]);
  if (InfoWord(info::kDeviceType) == 3) code |= 0x7F000000u;
  uint8_t payload[4];
  StoreLe32(payload, code);
  Send(nxlmsg::kControl, payload, 4);
  return true;
}

bool NxlChannel::SendUserData(const uint8_t* pData, int32_t nLength) {
  if (nLength < 0 || (pData == nullptr && nLength > 0)) return false;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(nLength) + 2);
  } catch (const std::bad_alloc&) {
    return false;
  }
  buffer[0] = 'A';
  buffer[1] = 'L';
  if (nLength > 0) std::memcpy(buffer.data() + 2, pData, static_cast<std::size_t>(nLength));
  Send(nxlmsg::kUserData, buffer.data(), nLength + 2);
  return true;
}

bool NxlChannel::RemoteConfig(int32_t nValue) {
  {
    std::lock_guard<os::RecursiveLock> guard(m_csText);
    if (!Connected() || InfoWord(info::kDeviceType) != 3 || m_bTextBusy) return false;
    m_bTextBusy = true;
    m_hTextEvent.Reset();
    m_nTextType = 0;
  }
  // The exchange closes on every way out, a failed allocation included:
  // left open, it would refuse every later handshake on this channel.
  struct TextClose {
    NxlChannel& self;
    ~TextClose() {
      std::lock_guard<os::RecursiveLock> guard(self.m_csText);
      self.m_bTextBusy = false;
    }
  } close{*this};
  Send(nxlmsg::kTextOpen);
  // Each message the text callback hands over (an acceptance, device text
  // of any kind) starts a fresh wait; 5 s of silence ends the handshake.
  for (;;) {
    if (!m_hTextEvent.Wait(kTextWaitMs)) return false;
    m_hTextEvent.Reset();
    // Taken, so that only a new message makes the exchange act again.
    const int32_t type = m_nTextType.exchange(0);
    if (type == nxlmsg::kTextAccepted) {
      std::vector<uint8_t> reply(kTextBufferSize, 0);
      StoreLe32(reply.data(), 5);
      StoreLe32(reply.data() + 4, GetInstalledCfgVersion());
      // The version bytes count up to their first zero byte, as a text.
      const int32_t versionBytes =
          static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(reply.data() + 4), 4));
      Send(nxlmsg::kText, reply.data(), 4 + versionBytes);
    } else if (type == nxlmsg::kText) {
      std::vector<uint8_t> message;
      {
        std::lock_guard<os::RecursiveLock> guard(m_csText);
        message = m_textBuf;
      }
      if (message.size() == static_cast<std::size_t>(kTextBufferSize) &&
          (LoadLe32(message.data()) & 0x1F) == 5) {
        RunRemoteConfigDialog(m_nLinkId, message.data(), nValue);
        return true;
      }
    }
  }
}

bool NxlChannel::GrpcBegin() {
  if (InfoSnapshot()[info::kRpcSupport] == 0) return false;
  m_bTextBusy = true;
  m_nTextType = 1;
  Send(nxlmsg::kTextOpen);
  const uint64_t start = os::TickCount64();
  while (os::TickCount64() - start < kTextWaitMs) {
    const int32_t state = m_eGrpcState;
    if (state == kGrpcAccepted) return true;
    if (state == kGrpcRefused) return false;
    m_hGrpcEvent.Wait(kPollMs);  // woken early by every change of the RPC state
    m_hGrpcEvent.Reset();
  }
  return false;
}

bool NxlChannel::GrpcEnd() {
  Send(nxlmsg::kTextClose);
  m_bTextBusy = false;
  return true;
}

int32_t NxlChannel::SendGrpcRequest(GrpcContext*, const char* szText, int32_t nLength) {
  if (szText == nullptr || nLength < 0) return -1;
  // The device answers only inside an open exchange (the text callback drops
  // answers outside one): fail now rather than wait out the budget.
  if (!m_bTextBusy) {
    QC_LOG(log::kError, "nxl_channel",
           "channel %d: RPC call without QCSDK_GRPC_Begin fails: an Nxl channel needs an open RPC "
           "exchange",
           Number());
    return -1;
  }
  std::vector<char> buffer(static_cast<std::size_t>(nLength) + 5);
  std::memcpy(buffer.data(), "grpc:", 5);
  std::memcpy(buffer.data() + 5, szText, static_cast<std::size_t>(nLength));
  m_eGrpcState = kGrpcAwaiting;
  Send(nxlmsg::kText, buffer.data(), nLength + 5);
  return nLength;
}

int32_t NxlChannel::RecvGrpcResponse(GrpcContext*, char* pBuffer, int32_t nCapacity,
                                     int32_t* pElapsedMs) {
  const uint32_t elapsed = pElapsedMs != nullptr ? static_cast<uint32_t>(*pElapsedMs) : 0;
  const uint32_t budget = kGrpcBudgetMs - elapsed;  // unsigned: a spent budget wraps past it
  const uint64_t start = os::TickCount64();
  for (;;) {
    const uint64_t waited = os::TickCount64() - start;
    if (elapsed >= kGrpcBudgetMs || waited >= budget) return -2;
    const int32_t state = m_eGrpcState;
    if (state == kGrpcAnswered) {
      std::vector<char> answer;
      {
        std::lock_guard<std::mutex> guard(m_respMutex);
        answer.swap(m_pGrpcResp);
        m_eGrpcState = 0;  // an answer is delivered once
      }
      const int32_t n = std::min(static_cast<int32_t>(answer.size()), nCapacity);
      if (n > 0 && pBuffer != nullptr)
        std::memcpy(pBuffer, answer.data(), static_cast<std::size_t>(n));
      if (pElapsedMs != nullptr) *pElapsedMs += static_cast<int32_t>(os::TickCount64() - start);
      return n;
    }
    if (state != kGrpcAwaiting) return -1;
    const uint64_t left = budget - waited;
    m_hGrpcEvent.Wait(static_cast<int64_t>(std::min<uint64_t>(left, kPollMs)));
    m_hGrpcEvent.Reset();
  }
}

}  // namespace qcsdk
