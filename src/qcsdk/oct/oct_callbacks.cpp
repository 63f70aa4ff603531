// What the OCT library reports: each callback holds a shared reference to
// the connection named by its handle and, for sub-handle callbacks, to the
// owning channel, and hands the report to the channel's handler below.
#include "qcsdk/oct/oct_callbacks.h"

#include <cjson/cJSON.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "qcsdk/base/callback_edge.h"
#include "qcsdk/base/callbacks.h"
#include "qcsdk/oct/oct_channel.h"
#include "qcsdk/oct/oct_conn.h"

namespace qcsdk {
namespace {

uint32_t LoadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// The owner of a sub-handle of a known connection, or empty.
std::shared_ptr<OctChannel> Owner(int32_t hConn, int32_t hSub) {
  const OctConnectionPtr conn = FindConnection(hConn);
  if (!conn) return nullptr;
  return std::dynamic_pointer_cast<OctChannel>(conn->FindChannel(hSub));
}

}  // namespace

void OctChannel::ApplyLive() {
  StreamInfoRecord live;
  {
    std::lock_guard<std::mutex> guard(m_recordMutex);
    live = m_liveInfo;
  }
  OnStreamInfo(live.data());
}

void OctChannel::OnStreamState(int32_t hConn, int32_t hStream, int32_t nKind, int32_t nResult) {
  if (nKind == 1) {
    // Only a channel still connecting waits for an open or connect result.
    if (Status() != QCLS_Connecting) return;
    if (nResult == 0) {
      m_hConn = hConn;
      m_hStream = hStream;
      if (hStream > 0) AddHandle(hStream);
      OnLinkEvent(0, nullptr);
      return;
    }
    int32_t code = 6;
    switch (nResult) {
      case OCTC_ERR_AUTH: code = 2; break;
      case OCTC_ERR_NO_CHANNEL: code = 3; break;
      case OCTC_ERR_CLIENT_LIMIT: code = 5; break;
      default: break;
    }
    OnLinkEvent(code, nullptr);
    CloseAllHandles();
  } else if (nKind == 3) {
    CloseAllHandles();
    const LinkStatus status = Status();
    if (status == QCLS_Connected || status == QCLS_WaitData) {
      OnLinkEvent(9, nullptr);
    } else if (status == QCLS_Connecting) {
      // The link ended before the stream was opened: the connect failed.
      OnLinkEvent(6, nullptr);
    }
    CloseAllHandles();  // whatever the connection worker entered meanwhile
  }
}

void OctChannel::OnStreamData(int32_t nKind, const void* pRecord, bool bPlayback) {
  if (pRecord == nullptr) return;
  const bool playing = m_hVod > 0;
  switch (nKind) {
    case OCTC_DATA_MEDIA_INFO: {
      const StreamInfoRecord record =
          BuildStreamInfo(*static_cast<const OctMediaInfo*>(pRecord), m_nDeviceKind);
      {
        std::lock_guard<std::mutex> guard(m_recordMutex);
        (bPlayback ? m_playInfo : m_liveInfo) = record;
      }
      if (bPlayback || !playing) OnStreamInfo(record.data());
      return;
    }
    case OCTC_DATA_VIDEO: {
      if (!bPlayback && playing) return;
      const auto* frame = static_cast<const OctFrame*>(pRecord);
      int32_t type;
      switch (frame->type) {
        case OCTC_FRAME_KEY: type = QCSDK_FRAME_KEY; break;
        case OCTC_FRAME_P:
        case OCTC_FRAME_B: type = QCSDK_FRAME_P; break;
        default: return;
      }
      if (frame->data == nullptr || frame->size < 0) return;
      OnFrame(type, frame->data, frame->size);
      return;
    }
    case OCTC_DATA_AUDIO: {
      if (!bPlayback && playing) return;
      const auto* audio = static_cast<const OctAudio*>(pRecord);
      if (audio->data == nullptr || audio->size < 0) return;
      OnFrame(QCSDK_FRAME_AUDIO, audio->data, audio->size);
      return;
    }
    default: return;
  }
}

void OctChannel::OnVodState(int32_t nStatus, int32_t nFlag) {
  int32_t event;
  if (nStatus == 0 && nFlag == 0) {
    event = QCSDK_EVENT_PLAYBACK_END_12;
  } else if (nStatus == 0 || nStatus == 1) {
    event = nStatus == 0 ? QCSDK_EVENT_PLAYBACK_END_14 : QCSDK_EVENT_PLAYBACK_END_13;
    if (const int32_t handle = m_hVod; handle > 0) RemoveHandle(handle);
    m_hVod = 0;
  } else {
    return;
  }
  RaiseEvent(m_nChannel, event, nullptr, 0, m_pUserData);
  ApplyLive();
}

void OctChannel::OnDownState(int32_t hDown, int32_t nStatus, int32_t nFlag) {
  int32_t code;
  if (nStatus == 0) {
    if (nFlag == 0) return;
    code = QCSDK_DOWNLOAD_END_3;
  } else if (nStatus == 1) {
    code = m_bDownloadDone ? QCSDK_DOWNLOAD_END_1 : QCSDK_DOWNLOAD_END_2;
  } else {
    return;
  }
  OnDownloadData(code, nullptr, 0, 0, hDown);  // closes the local file, then tells the host
}

void OctChannel::OnDownData(int32_t hDown, const OctDownData* pData) {
  if (pData == nullptr) return;
  {
    // The library may still deliver a block of a download closed meanwhile.
    std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
    if (hDown != m_hDown) return;
    if (pData->received >= pData->total) m_bDownloadDone = true;
  }
  const int32_t size = pData->data != nullptr && pData->size > 0 ? pData->size : 0;
  OnDownloadData(0, pData->data, size, static_cast<uint32_t>(pData->total), hDown);
}

// Only reports on the running download's sub-handle count: the library does
// not wait for a callback under way when a sub-handle is closed.
Channel::DownloadFate OctChannel::DownloadReportFate(int32_t nCode, int32_t nSource) {
  const int32_t handle = m_hDown;
  if (nSource != handle || handle <= 0) return DownloadFate::kDropped;
  if (nCode != 0) {
    RemoveHandle(handle);
    m_hDown = 0;
  }
  return DownloadFate::kCurrent;
}

void OctChannel::OnChatState(int32_t nStatus, int32_t nResult) {
  if ((nStatus == 0 && nResult != 0) || nStatus == 1) {
    if (const int32_t handle = m_hChat; handle > 0) RemoveHandle(handle);
    m_hChat = 0;
    OnTalkEvent(QCSDK_TALK_ENDED, nullptr, 0);
  } else if (nStatus == 0) {
    OnTalkEvent(QCSDK_TALK_ACCEPTED, nullptr, 0);
  }
}

void OctChannel::OnNotify(int32_t nType, const void* pData, int32_t nLength) {
  if (pData == nullptr || nLength < 0) return;
  const auto* bytes = static_cast<const uint8_t*>(pData);
  if (nType == kOctNoticeRecording) {
    cJSON* root =
        cJSON_ParseWithLength(static_cast<const char*>(pData), static_cast<std::size_t>(nLength));
    if (root == nullptr) return;
    const cJSON* channel = cJSON_GetObjectItem(root, "channel");
    const int32_t number = cJSON_IsNumber(channel) ? channel->valueint : -1;
    const int32_t state = cJSON_GetObjectItem(root, "start") != nullptr ? 1 : 0;
    cJSON_Delete(root);
    if (number == m_nDeviceChannel) OnRemoteRecordingState(state);
  } else if (nType == kOctNoticeUserData) {
    if (static_cast<std::size_t>(nLength) < kUserDataHeaderSize ||
        std::memcmp(bytes, kUserDataPrefix, 16) != 0) {
      return;
    }
    const uint32_t to = LoadBe32(bytes + 16);
    if (to != 0 && to != static_cast<uint32_t>(m_nChannel)) return;
    if (UserDataCallback fn = g_pfnUserData.load(std::memory_order_acquire)) {
      fn(m_nChannel, bytes + kUserDataHeaderSize,
         nLength - static_cast<int32_t>(kUserDataHeaderSize));
    }
  }
}

namespace oct {

constexpr const char* kSource = "oct_callbacks";

void OnConnection(int32_t conn, int32_t event, int32_t, int32_t result, int32_t, int32_t, int32_t,
                  const OctDevInfo* info) {
  AtCallbackEdge(kSource, [&] {
    if (const OctConnectionPtr connection = FindConnection(conn)) {
      connection->OnConnEvent(event, result, info);
    }
  });
}

void OnNotice(int32_t conn, int32_t type, const void* data, int32_t length) {
  AtCallbackEdge(kSource, [&] {
    const OctConnectionPtr connection = FindConnection(conn);
    if (!connection) return;
    for (const ChannelPtr& c : connection->Channels()) {
      if (auto channel = std::dynamic_pointer_cast<OctChannel>(c)) {
        channel->OnNotify(type, data, length);
      }
    }
  });
}

void OnStreamState(int32_t conn, int32_t handle, int32_t status, int32_t result) {
  AtCallbackEdge(kSource, [&] {
    const OctConnectionPtr connection = FindConnection(conn);
    if (!connection) return;
    auto channel = std::dynamic_pointer_cast<OctChannel>(connection->FindChannel(handle));
    if (!channel) return;
    if (status == OCTC_STATE_RESULT) {
      channel->OnStreamState(connection->Handle(), handle, 1, result);
    } else if (status == OCTC_STATE_CLOSED) {
      channel->OnStreamState(connection->Handle(), handle, 3, 0);
    }
  });
}

void OnStreamData(int32_t conn, int32_t handle, int32_t kind, const void* record) {
  AtCallbackEdge(kSource, [&] {
    if (auto channel = Owner(conn, handle)) channel->OnStreamData(kind, record, false);
  });
}

void OnVodState(int32_t conn, int32_t handle, int32_t status, int32_t flag) {
  AtCallbackEdge(kSource, [&] {
    if (auto channel = Owner(conn, handle)) channel->OnVodState(status, flag);
  });
}

void OnVodData(int32_t conn, int32_t handle, int32_t kind, const void* record) {
  AtCallbackEdge(kSource, [&] {
    if (auto channel = Owner(conn, handle)) channel->OnStreamData(kind, record, true);
  });
}

void OnDownState(int32_t conn, int32_t handle, int32_t status, int32_t flag) {
  AtCallbackEdge(kSource, [&] {
    if (auto channel = Owner(conn, handle)) channel->OnDownState(handle, status, flag);
  });
}

void OnDownData(int32_t conn, int32_t handle, const OctDownData* data) {
  AtCallbackEdge(kSource, [&] {
    if (auto channel = Owner(conn, handle)) channel->OnDownData(handle, data);
  });
}

void OnChatState(int32_t conn, int32_t handle, int32_t status, int32_t result) {
  AtCallbackEdge(kSource, [&] {
    if (auto channel = Owner(conn, handle)) channel->OnChatState(status, result);
  });
}

// Audio from the device is not delivered on this transport.
void OnChatData(int32_t conn, int32_t handle, const void*, int32_t) {
  AtCallbackEdge(kSource, [&] { Owner(conn, handle); });
}

}  // namespace oct
}  // namespace qcsdk
