// The channel base: construction, the link state machine and the reports
// that are the same for every transport.
#include "qcsdk/channel/channel.h"

#include <cstring>
#include <mutex>

#include "grpc/grpc_context.h"
#include "platform/player_api.h"
#include "qcsdk/base/assertion.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/base/callbacks.h"
#include "qcsdk/channel/registry.h"

namespace qcsdk {

Channel::Channel(int32_t nChannel)
    : m_nChannel(nChannel),
      m_pRecListLock(std::make_unique<os::RecursiveLock>()),
      m_pPlayerLock(std::make_unique<os::RecursiveLock>()),
      m_pRecFileLock(std::make_unique<os::RecursiveLock>()),
      m_pDecodedLock(std::make_unique<os::RecursiveLock>()),
      m_pDownloadLock(std::make_unique<os::RecursiveLock>()) {
  m_pGrpc = grpc_context_create(this, &Channel::GrpcSend, &Channel::GrpcRecv);
}

Channel::~Channel() {
  int32_t player = m_hPlayer.exchange(-1);
  if (player >= 0) platform::Player().ReleasePlayer(player);
  grpc_context_destroy(m_pGrpc);
  m_pGrpc = nullptr;
  CloseDownloadFile();
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pRecFileLock);
    m_recFile.Reset();
  }
}

int32_t Channel::GrpcSend(GrpcContext* context, const char* text, int32_t length) {
  return static_cast<Channel*>(context->owner)->SendGrpcRequest(context, text, length);
}

int32_t Channel::GrpcRecv(GrpcContext* context, char* buffer, int32_t capacity, int32_t* elapsed) {
  return static_cast<Channel*>(context->owner)
      ->RecvGrpcResponse(context, buffer, capacity, elapsed);
}

StreamInfoRecord Channel::InfoSnapshot() const {
  std::lock_guard<std::mutex> guard(m_infoMutex);
  return m_streamInfo;
}

uint16_t Channel::InfoWord(std::size_t offset) const {
  std::lock_guard<std::mutex> guard(m_infoMutex);
  return LoadLe16(m_streamInfo.data() + offset);
}

bool Channel::Connect(const char* /*szAddress*/, int32_t /*nPort*/, int32_t /*nDeviceChannel*/,
                      int32_t /*nStream*/, const char* szUser, const char* szPassword,
                      bool /*bByNumber*/, void* pUserData) {
  if (Status() != QCLS_UnConnect) {
    QC_ASSERT(m_eLinkStatus == QCLS_UnConnect, "channel");
    return false;
  }
  int32_t player = platform::Player().CreatePlayer();
  if (player < 0) return false;
  m_hPlayer.store(player, std::memory_order_release);
  m_pUserData = pUserData;
  SetStatus(QCLS_Connecting);
  // Longer names and passwords are cut to the 31 characters the RPC
  // context holds; the transport still receives them whole.
  if (m_pGrpc != nullptr) grpc_set_credentials(m_pGrpc, szUser, szPassword);
  return true;
}

bool Channel::GetDeviceInfo(int32_t* pDeviceType) {
  if (Status() != QCLS_Connected || pDeviceType == nullptr) return false;
  switch (InfoWord(info::kDeviceType)) {
    case 1: *pDeviceType = 1; break;
    case 2: *pDeviceType = 2; break;
    case 3: *pDeviceType = 3; break;
    case 4:
    case 5: *pDeviceType = 4; break;
    default: *pDeviceType = 0; break;
  }
  return true;
}

void Channel::RemoveIfUnconnected() {
  if (Status() == QCLS_UnConnect) RemoveChannel(*this);
}

void Channel::OnLinkEvent(int32_t nCode, const char* szText) {
  const char* text = szText != nullptr ? szText : "";
  switch (nCode) {
    case 0:
      QC_ASSERT(m_eLinkStatus == QCLS_Connecting, "channel");
      SetStatus(QCLS_WaitData);
      m_strConnectText = text;
      return;
    case 1:
      QC_ASSERT(m_eLinkStatus == QCLS_WaitData, "channel");
      SetStatus(QCLS_Connected);
      break;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      QC_ASSERT(m_eLinkStatus == QCLS_Connecting, "channel");
      SetStatus(QCLS_UnConnect);
      break;
    case 7:
      if (Status() == QCLS_UnConnect) return;
      SetStatus(QCLS_UnConnect);
      break;
    case 8:
    case 9:
      QC_ASSERT(m_eLinkStatus == QCLS_Connected || m_eLinkStatus == QCLS_WaitData, "channel");
      SetStatus(QCLS_UnConnect);
      break;
    default: QC_ASSERT(false, "channel"); return;
  }
  RaiseEvent(m_nChannel, nCode, nCode == 1 ? text : nullptr, 0, m_pUserData);
  RemoveIfUnconnected();
}

void Channel::OnStreamInfo(const uint8_t* pRecord) {
  if (pRecord == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(m_infoMutex);
    std::memcpy(m_streamInfo.data(), pRecord, kStreamInfoSize);
  }
  m_bInfoReceived = true;
  m_bRawData = LoadLe16(pRecord + info::kVideoCodec) == 1;
  m_nFrameCount = 0;
  if (Status() == QCLS_WaitData) {
    SetStatus(QCLS_Connected);
    RaiseEvent(m_nChannel, QCSDK_EVENT_CONNECTED, m_strConnectText.c_str(), 0, m_pUserData);
    RemoveIfUnconnected();
  } else {
    RaiseEvent(m_nChannel, QCSDK_EVENT_STREAM_CHANGED, nullptr, 0, m_pUserData);
  }
}

void Channel::OnRemoteRecFileList(const uint8_t* pEntries, int32_t nCount) {
  if (nCount < 0) {
    std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
    m_recFileList.clear();
    RaiseEvent(m_nChannel, QCSDK_EVENT_REC_LIST_FAILED, nullptr, 0, m_pUserData);
    return;
  }
  std::vector<RecEntry> entries(pEntries != nullptr ? static_cast<std::size_t>(nCount) : 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::memcpy(entries[i].data(), pEntries + i * kRecEntrySize, kRecEntrySize);
  }
  OnRemoteRecFileList(std::move(entries));
}

void Channel::OnRemoteRecFileList(std::vector<RecEntry>&& entries) {
  std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
  m_recFileList = std::move(entries);
  const char* first =
      m_recFileList.empty() ? nullptr : reinterpret_cast<const char*>(m_recFileList[0].data());
  RaiseEvent(m_nChannel, QCSDK_EVENT_REC_LIST, first, static_cast<int32_t>(m_recFileList.size()),
             m_pUserData);
}

void Channel::OnRemoteRecordingState(int32_t nState) {
  // The state travels in the data-pointer position of the event.
  RaiseEvent(m_nChannel, QCSDK_EVENT_RECORDING_STATE,
             reinterpret_cast<const char*>(static_cast<intptr_t>(nState)), 0, m_pUserData);
}

}  // namespace qcsdk
