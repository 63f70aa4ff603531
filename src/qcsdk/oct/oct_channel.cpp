#include "qcsdk/oct/oct_channel.h"

#include <qcsdk/qcsdk_grpc.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "grpc/grpc_envelope.h"
#include "grpc/grpc_stubs.h"
#include "platform/oct_api.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/oct/oct_conn.h"

namespace qcsdk {
namespace {

constexpr int32_t kSpeedTable[10] = {-16, -8, -4, -2, 1, 2, 4, 8, 16, 0};
constexpr int32_t kNormalSpeedIndex = 4;
constexpr int32_t kFastestIndex = 8;
constexpr int32_t kPauseIndex = 9;
constexpr std::size_t kNameOffset = 8;
constexpr std::size_t kFileNameOffset = 16;
constexpr std::size_t kPathOffset = 2064;
constexpr std::size_t kTextField = 2048;

void StoreBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b != 0) {
    const uint32_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

const char* EntryPath(const RecEntry& entry) {
  return reinterpret_cast<const char*>(entry.data() + kPathOffset);
}

// Copies a text into a zero-filled field; false when it does not fit with
// its terminator.
bool CopyText(uint8_t* field, const char* text) {
  if (text == nullptr) return true;
  const std::size_t n = strnlen(text, kTextField);
  if (n >= kTextField) return false;
  std::memcpy(field, text, n);
  return true;
}

}  // namespace

OctChannel::OctChannel(int32_t nChannel) : Channel(nChannel) {}

// Makes no library call: the handles were closed when the link ended.
OctChannel::~OctChannel() = default;

int32_t OctChannel::SpeedValue(int32_t nIndex) {
  return nIndex >= 0 && nIndex < 10 ? kSpeedTable[nIndex] : kSpeedTable[kNormalSpeedIndex];
}

StreamInfoRecord OctChannel::BuildStreamInfo(const OctMediaInfo& media, int32_t nDeviceKind) {
  StreamInfoRecord r{};
  uint8_t* p = r.data();
  std::memcpy(p + info::kFileTag, "QFH", 3);
  p[info::kFileTag + 3] = 1;
  uint16_t deviceType = 0;
  switch (nDeviceKind) {
    case 2: deviceType = 2; break;
    case 3:
    case 4: deviceType = 3; break;
    case 5: deviceType = 4; break;
    default: break;
  }
  StoreLe16(p + info::kDeviceType, deviceType);
  StoreLe16(p + info::kVideoCodec, media.video_codec == 2 ? 2 : 1);
  StoreLe16(p + info::kAudioPresent, media.audio_codec == 0 ? 0 : 1);
  StoreLe16(p + info::kWidth, static_cast<uint16_t>(media.width));
  StoreLe16(p + info::kHeight, static_cast<uint16_t>(media.height));
  // The rate as the fraction (rate x 10000) / 10000 in lowest terms. A rate
  // of 0 (or a negative one, taken as 0) gives 0/1.
  const uint32_t rate =
      media.frame_rate_x10000 > 0 ? static_cast<uint32_t>(media.frame_rate_x10000) : 0u;
  const uint32_t g = Gcd(rate, 10000);
  StoreLe16(p + info::kRateNum, static_cast<uint16_t>(rate / g));
  StoreLe16(p + info::kRateDen, static_cast<uint16_t>(10000 / g));
  uint16_t audioCodec = 0;
  switch (media.audio_codec) {
    case 1: audioCodec = 2; break;
    case 2: audioCodec = 3; break;
    case 4: audioCodec = 1; break;
    default: break;
  }
  StoreLe16(p + info::kAudioCodec, audioCodec);
  StoreLe16(p + info::kAudioParam1, static_cast<uint16_t>(media.audio_sample_rate));
  StoreLe16(p + info::kAudioParam2, static_cast<uint16_t>(media.audio_channels));
  StoreLe16(p + info::kAudioParam3, static_cast<uint16_t>(media.audio_bits));
  const int64_t total = static_cast<int64_t>(media.duration_ms) * rate / 10000000;
  StoreLe32(p + info::kTotalFrames, static_cast<uint32_t>(total));
  StoreLe16(p + info::kRecordKind, deviceType == 4 ? 4 : 3);
  return r;
}

std::shared_ptr<OctConnection> OctChannel::Conn() const {
  std::lock_guard<std::mutex> guard(m_connMutex);
  return m_pConn.lock();
}

void OctChannel::SetConnection(const std::shared_ptr<OctConnection>& conn) {
  std::lock_guard<std::mutex> guard(m_connMutex);
  m_pConn = conn;
}

void OctChannel::AddHandle(int32_t hSub) {
  if (auto conn = Conn()) conn->AddHandle(m_nChannel, hSub);
}

void OctChannel::RemoveHandle(int32_t hSub) {
  if (auto conn = Conn()) conn->RemoveHandle(hSub);
}

bool OctChannel::Connect(const char* szAddress, int32_t nPort, int32_t nDeviceChannel,
                         int32_t nStream, const char* szUser, const char* szPassword,
                         bool bByNumber, void* pUserData) {
  if (!bByNumber && os::InetAddr(szAddress) == 0xFFFFFFFFu) return false;
  if (!Channel::Connect(szAddress, nPort, nDeviceChannel, nStream, szUser, szPassword, bByNumber,
                        pUserData)) {
    return false;
  }
  m_nDeviceChannel = nDeviceChannel;
  m_nStreamIndex = nStream;
  return OctConnection::ConnectChannel(m_nChannel, szAddress, nPort, szUser, szPassword, bByNumber);
}

void OctChannel::CloseAllHandles() {
  const platform::OctApi& oct = platform::Oct();
  const int32_t conn = m_hConn;
  auto close = [&](std::atomic<int32_t>& member, auto closeFn) {
    const int32_t handle = member.load();
    if (handle <= 0) return;
    closeFn(conn, handle);
    RemoveHandle(handle);
    member = 0;
  };
  close(m_hChat, oct.chat_close);
  close(m_hDown, oct.down_close);
  close(m_hVod, oct.vod_close);
  close(m_hStream, oct.stream_close);
  // Streams the connection opened for this channel whose result has not
  // arrived yet are closed too, so that nothing keeps the connection alive.
  if (auto shared = Conn()) {
    for (int32_t handle : shared->DropChannel(this)) {
      if (handle > 0) oct.stream_close(shared->Handle(), handle);
    }
  }
}

bool OctChannel::Disconnect() {
  CloseAllHandles();
  if (Status() == QCLS_UnConnect) return true;
  OnLinkEvent(7, nullptr);
  // A stream the connection worker entered meanwhile is closed here; one it
  // enters from now on it closes itself, seeing the channel unconnected.
  CloseAllHandles();
  return true;
}

bool OctChannel::EnableVideoData(bool) {
  return false;
}

void OctChannel::InsertKeyFrame() {
  const int32_t conn = m_hConn;
  const int32_t stream = m_hStream;
  if (conn >= 0 && stream > 0) platform::Oct().stream_insert_keyframe(conn, stream);
}

bool OctChannel::StartTalk() {
  if (Status() != QCLS_Connected || m_bTalkRequested) return false;
  const OctConnection::OpenScope opening(Conn());
  const int32_t handle = platform::Oct().chat_open(m_hConn);
  m_hChat = handle;
  if (handle > 0) {
    m_bTalkRequested = true;
    AddHandle(handle);
  }
  return m_bTalkRequested;
}

bool OctChannel::StopTalk() {
  m_bTalkRequested = false;
  m_bTalkReady = false;
  const int32_t handle = m_hChat;
  if (handle > 0) {
    platform::Oct().chat_close(m_hConn, handle);
    RemoveHandle(handle);
    m_hChat = 0;
  }
  return true;
}

bool OctChannel::SendTalkData(const uint8_t* pData, int32_t nLength) {
  const int32_t handle = m_hChat;
  if (handle < 0) return false;
  const uint64_t tick = os::TickCount64();
  return platform::Oct().chat_write(m_hConn, handle, pData, nLength, static_cast<uint32_t>(tick),
                                    static_cast<uint32_t>(tick >> 32)) >= 0;
}

bool OctChannel::GetRemoteRecFileList(const int32_t* pDates) {
  if (pDates == nullptr) return false;
  OctRecQuery query{};
  query.channel = m_nDeviceChannel;
  query.begin = {pDates[0], pDates[1], pDates[2], 0, 0, 0, 0};
  query.end = {pDates[3], pDates[4], pDates[5], 23, 59, 59, 999};
  OctRecList list{};
  const platform::OctApi& oct = platform::Oct();
  if (oct.cmd_get_rec_file_list(m_hConn, &query, &list) < 0) return false;
  const int32_t kind = InfoWord(info::kRecordKind) == 4 ? 5 : 4;
  std::vector<RecEntry> entries;
  try {
    for (int32_t i = 0; list.items != nullptr && i < list.count &&
                        entries.size() < static_cast<std::size_t>(kRecListMax);
         ++i) {
      const OctRecItem& item = list.items[i];
      RecEntry entry{};
      // The path is the key for playback and download: an item whose path
      // does not fit is left out rather than cut. A long name is cut.
      if (!CopyText(entry.data() + kPathOffset, item.path)) continue;
      if (item.name != nullptr) {
        std::memcpy(entry.data() + kFileNameOffset, item.name, strnlen(item.name, kTextField - 1));
      }
      StoreLe32(entry.data(), static_cast<uint32_t>(entries.size()));
      StoreLe32(entry.data() + 4, static_cast<uint32_t>(kind));
      char name[kFileNameOffset - kNameOffset] = {};
      std::snprintf(name, sizeof name, "%.2d%.2d%.2d", item.hour, item.minute, item.second);
      std::memcpy(entry.data() + kNameOffset, name, sizeof name);
      entries.push_back(entry);
    }
  } catch (const std::bad_alloc&) {
    entries.clear();
  }
  oct.cmd_free_rec_file_list_result(&list);
  OnRemoteRecFileList(std::move(entries));
  return true;
}

bool OctChannel::RemotePlay(int32_t nIndex) {
  if (Status() != QCLS_Connected) return false;
  const platform::OctApi& oct = platform::Oct();
  if (const int32_t handle = m_hVod; handle > 0) {
    oct.vod_close(m_hConn, handle);
    RemoveHandle(handle);
    m_hVod = 0;
  }
  m_nSpeedIndex = kNormalSpeedIndex;
  if (nIndex < 0) return true;
  os::Sleep(50);
  std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
  if (static_cast<std::size_t>(nIndex) >= m_recFileList.size()) return false;
  const OctConnection::OpenScope opening(Conn());
  const int32_t handle = oct.vod_open(m_hConn, EntryPath(m_recFileList[nIndex]), 0);
  m_hVod = handle;
  if (handle > 0) AddHandle(handle);
  return handle > 0;
}

bool OctChannel::RemotePlayControl(int32_t nCommand, int32_t nValue) {
  const int32_t handle = m_hVod;
  if (handle < 0) return false;
  const platform::OctApi& oct = platform::Oct();
  if (nCommand == 5) {
    StreamInfoRecord play;
    {
      std::lock_guard<std::mutex> guard(m_recordMutex);
      play = m_playInfo;
    }
    const int64_t num = LoadLe16(play.data() + info::kRateNum);
    const int64_t den = LoadLe16(play.data() + info::kRateDen);
    // No playback record yet: the frame number cannot be turned into a time.
    if (num == 0) return false;
    const int64_t position = static_cast<int64_t>(nValue) * den * 1000 / num;
    return oct.vod_skip_to(m_hConn, handle, static_cast<int32_t>(position)) >= 0;
  }
  int32_t index = m_nSpeedIndex;
  switch (nCommand) {
    case 1: index = kPauseIndex; break;
    case 2: index = std::min(index + 1, kFastestIndex); break;
    case 3: index = std::max(index - 1, 0); break;
    case 4: index = kNormalSpeedIndex; break;
    default: break;
  }
  if (oct.vod_set_speed(m_hConn, handle, SpeedValue(index)) < 0) return false;
  if (nCommand != 1) m_nSpeedIndex = index;
  return true;
}

bool OctChannel::DownloadRemoteFile(int32_t nIndex, const char* szFilename) {
  if (Status() != QCLS_Connected) return false;
  const auto listed = [&] {
    return nIndex >= 0 && static_cast<std::size_t>(nIndex) < m_recFileList.size();
  };
  {
    // A file the list lacks creates no output file.
    std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
    if (!listed()) return false;
  }
  if (!Channel::DownloadRemoteFile(nIndex, szFilename)) return false;
  std::lock_guard<os::RecursiveLock> guard(*m_pRecListLock);
  m_bDownloadDone = false;
  int32_t handle = -1;
  if (listed()) {
    // The first reports on the new sub-handle wait until it is entered.
    const OctConnection::OpenScope opening(Conn());
    handle = platform::Oct().down_open(m_hConn, EntryPath(m_recFileList[nIndex]), 0);
    {
      std::lock_guard<os::RecursiveLock> download(*m_pDownloadLock);
      m_hDown = handle;
    }
    if (handle > 0) AddHandle(handle);
  } else {
    m_hDown = handle;
  }
  // A refused download leaves no output file open.
  if (handle < 0) CloseDownloadFile();
  return handle >= 0;
}

bool OctChannel::StopDownload() {
  int32_t handle = 0;
  {
    std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
    if (m_hDown > 0) handle = m_hDown.exchange(0);
  }
  if (handle > 0) {
    platform::Oct().down_close(m_hConn, handle);
    RemoveHandle(handle);
  }
  return Channel::StopDownload();
}

bool OctChannel::RemoteRecording(bool) {
  GrpcContext* context = Grpc();
  if (context == nullptr) return false;
  qvbu_context* ctx = grpc::ToQvbu(context);
  qvbu_record_get_param get{};
  get.channelid = m_nDeviceChannel - 1;
  qvbu_record_get_result current{};
  {
    // The read needs only to be sent, answered and parsed: an error answer
    // (whose result reads as zeros) still leads to the write.
    GrpcCallLock lock(context);
    if (CLIENT_REQ_qvbu_record_get(ctx, &get) != 0 || grpc_recv_response(context) != 0) {
      return false;
    }
    CLIENT_RESP_qvbu_record_get(ctx, &current);
  }
  // The device's current settings are written back unchanged: the first
  // element of the answer, zeros when it has none.
  qvbu_record_set_param_record_params element{};
  if (current.record_params_count >= 1 && current.record_params != nullptr) {
    const qvbu_record_get_result_record_params& from = current.record_params[0];
    element.channelid = from.channelid;
    element.normal_record = from.normal_record;
    element.time_record = from.time_record;
    element.disconnect_record = from.disconnect_record;
    element.packettimelen = from.packettimelen;
    element.task.time_count = from.task.time_count;
    element.task.time = from.task.time;  // the array lives in the channel's arena
  }
  qvbu_record_set_param set{};
  set.record_params_count = 1;
  set.record_params = &element;
  int32_t placeholder = 0;
  return CLIENT_qvbu_record_set(ctx, &set, &placeholder) == 0;
}

bool OctChannel::RemoteConfig(int32_t) {
  return false;
}

bool OctChannel::SendPTZCommand(int32_t nCommand, bool bStart) {
  if (nCommand < 0 || nCommand > 14) return false;
  return CallRpc(nCommand, bStart);
}

bool OctChannel::CallRpc(int32_t nCommand, bool bStart) {
  GrpcContext* context = Grpc();
  if (context == nullptr) return false;
  qvbu_context* ctx = grpc::ToQvbu(context);
  const int32_t channelid = m_nDeviceChannel - 1;
  int32_t placeholder = 0;
  switch (nCommand) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 9:
    case 10: {
      if (!bStart) {
        qvbu_ptz_move_stop_param stop{};
        stop.channelid = channelid;
        return CLIENT_qvbu_ptz_move_stop(ctx, &stop, &placeholder) == 0;
      }
      qvbu_ptz_move_start_param move{};
      move.channelid = channelid;
      const int32_t amount = (nCommand == 0 || nCommand == 2 || nCommand == 9) ? 127 : -127;
      if (nCommand <= 1) {
        move.tiltUp = amount;
      } else if (nCommand <= 3) {
        move.panLeft = amount;
      } else {
        move.zoomIn = amount;
      }
      return CLIENT_qvbu_ptz_move_start(ctx, &move, &placeholder) == 0;
    }
    case 4: {
      if (!bStart) {
        qvbu_ptz_patrol_stop_param stop{};
        stop.channelid = channelid;
        return CLIENT_qvbu_ptz_patrol_stop(ctx, &stop, &placeholder) == 0;
      }
      qvbu_ptz_patrol_locate_param locate{};
      locate.channelid = channelid;
      return CLIENT_qvbu_ptz_patrol_locate(ctx, &locate, &placeholder) == 0;
    }
    case 5:
    case 6:
    case 7:
    case 8: {
      if (!bStart) {
        qvbu_ptz_fi_stop_param stop{};
        stop.channelid = channelid;
        return CLIENT_qvbu_ptz_fi_stop(ctx, &stop, &placeholder) == 0;
      }
      qvbu_ptz_fi_start_param fi{};
      fi.channelid = channelid;
      if (nCommand <= 6) {
        fi.irisOpen = nCommand == 5 ? 254 : -254;
      } else {
        fi.focusFar = nCommand == 7 ? 254 : -254;
      }
      return CLIENT_qvbu_ptz_fi_start(ctx, &fi, &placeholder) == 0;
    }
    default: {
      const int32_t auxid = nCommand - 10;
      if (bStart) {
        qvbu_ptz_aux_on_param on{};
        on.channelid = channelid;
        on.auxid = auxid;
        return CLIENT_qvbu_ptz_aux_on(ctx, &on, &placeholder) == 0;
      }
      qvbu_ptz_aux_off_param off{};
      off.channelid = channelid;
      off.auxid = auxid;
      return CLIENT_qvbu_ptz_aux_off(ctx, &off, &placeholder) == 0;
    }
  }
}

bool OctChannel::SendUserData(const uint8_t* pData, int32_t nLength) {
  if (nLength < 0 || (pData == nullptr && nLength > 0)) return false;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(nLength) + kUserDataHeaderSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(buffer.data(), kUserDataPrefix, 16);
  StoreBe32(buffer.data() + 16, static_cast<uint32_t>(m_nChannel));
  if (nLength > 0) {
    std::memcpy(buffer.data() + kUserDataHeaderSize, pData, static_cast<std::size_t>(nLength));
  }
  return platform::Oct().cmd_send_notify(m_hConn, kOctNoticeUserData, buffer.data(),
                                         static_cast<int32_t>(buffer.size())) >= 0;
}

// The RPC exchange of this transport is synchronous: nothing to open.
bool OctChannel::GrpcBegin() {
  return true;
}
bool OctChannel::GrpcEnd() {
  return true;
}

int32_t OctChannel::SendGrpcRequest(GrpcContext*, const char* szText, int32_t nLength) {
  if (szText == nullptr || nLength < 0) return -1;
  const platform::OctApi& oct = platform::Oct();
  OctBuffer request{szText, nLength};
  OctBuffer response{};
  if (oct.cmd_remote_config(m_hConn, 0, &request, &response) < 0) return -1;
  {
    std::lock_guard<std::mutex> guard(m_respMutex);
    if (response.text != nullptr && response.length > 0) {
      m_grpcResp.assign(response.text, response.text + response.length);
    } else {
      m_grpcResp.clear();
    }
    m_bGrpcRespHeld = true;
  }
  oct.cmd_free_remote_config_result(&response);
  return nLength;
}

int32_t OctChannel::RecvGrpcResponse(GrpcContext*, char* pBuffer, int32_t nCapacity, int32_t*) {
  std::lock_guard<std::mutex> guard(m_respMutex);
  if (!m_bGrpcRespHeld) return -1;
  const int32_t n = static_cast<int32_t>(m_grpcResp.size());
  m_bGrpcRespHeld = n > 0 && (nCapacity < n || pBuffer == nullptr);
  // An empty answer is a failed exchange: a count of 0 would read as success and leave the
  // last call's answer to be read again.
  if (n == 0 || m_bGrpcRespHeld) return -1;
  std::memcpy(pBuffer, m_grpcResp.data(), static_cast<std::size_t>(n));
  return n;
}

}  // namespace qcsdk
