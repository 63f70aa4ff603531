// The channel over the OCT transport library. The live stream comes through
// the shared connection (oct_conn); talk, recordings, playback, downloads,
// user data and the RPC texts are the channel's own library calls. What the
// library reports later arrives through the handlers below (oct_callbacks).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/oct_api.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk {

class OctConnection;

// Notice types the SDK uses.
constexpr int32_t kOctNoticeRecording = 1025;
constexpr int32_t kOctNoticeUserData = 1029;
// User data travel with this 16-byte prefix and the 32-bit big-endian
// channel number of the sender (0: every channel).
constexpr char kUserDataPrefix[] = "qcsdk_user_data:";
constexpr std::size_t kUserDataHeaderSize = 20;

class OctChannel : public Channel {
 public:
  explicit OctChannel(int32_t nChannel);
  ~OctChannel() override;

  bool Connect(const char* szAddress, int32_t nPort, int32_t nDeviceChannel, int32_t nStream,
               const char* szUser, const char* szPassword, bool bByNumber,
               void* pUserData) override;
  bool Disconnect() override;
  bool EnableVideoData(bool bEnable) override;
  void InsertKeyFrame() override;
  bool StartTalk() override;
  bool StopTalk() override;
  bool SendTalkData(const uint8_t* pData, int32_t nLength) override;
  bool GetRemoteRecFileList(const int32_t* pDates) override;
  bool RemotePlay(int32_t nIndex) override;
  bool RemotePlayControl(int32_t nCommand, int32_t nValue) override;
  bool DownloadRemoteFile(int32_t nIndex, const char* szFilename) override;
  bool StopDownload() override;
  bool RemoteRecording(bool bStart) override;
  bool RemoteConfig(int32_t nValue) override;
  bool SendPTZCommand(int32_t nCommand, bool bStart) override;
  bool SendUserData(const uint8_t* pData, int32_t nLength) override;
  bool GrpcBegin() override;
  bool GrpcEnd() override;
  int32_t SendGrpcRequest(GrpcContext* pContext, const char* szText, int32_t nLength) override;
  int32_t RecvGrpcResponse(GrpcContext* pContext, char* pBuffer, int32_t nCapacity,
                           int32_t* pElapsedMs) override;

  // Closes every held sub-handle (talk, download, playback, live stream)
  // and takes the channel out of its connection's tables.
  void CloseAllHandles();

  // What the library reports (library threads).
  void OnStreamState(int32_t hConn, int32_t hStream, int32_t nKind, int32_t nResult);
  void OnStreamData(int32_t nKind, const void* pRecord, bool bPlayback);
  void OnVodState(int32_t nStatus, int32_t nFlag);
  // hDown: the download sub-handle the report names.
  void OnDownState(int32_t hDown, int32_t nStatus, int32_t nFlag);
  void OnDownData(int32_t hDown, const OctDownData* pData);
  void OnChatState(int32_t nStatus, int32_t nResult);
  void OnNotify(int32_t nType, const void* pData, int32_t nLength);

  // Set by the connection that takes the channel.
  void SetConnection(const std::shared_ptr<OctConnection>& conn);
  void SetDeviceKind(int32_t nKind) { m_nDeviceKind = nKind; }
  int32_t DeviceChannel() const { return m_nDeviceChannel; }
  int32_t StreamIndex() const { return m_nStreamIndex; }

  // The stream-information record for OCT media information.
  static StreamInfoRecord BuildStreamInfo(const OctMediaInfo& media, int32_t nDeviceKind);
  // The playback speed sent for a speed index (0..9).
  static int32_t SpeedValue(int32_t nIndex);

 protected:
  DownloadFate DownloadReportFate(int32_t nCode, int32_t nSource) override;

 private:
  std::shared_ptr<OctConnection> Conn() const;
  void AddHandle(int32_t hSub);
  void RemoveHandle(int32_t hSub);
  void ApplyLive();
  bool CallRpc(int32_t nCommand, bool bStart);

  std::atomic<int32_t> m_nDeviceChannel{0};
  std::atomic<int32_t> m_nStreamIndex{0};
  std::atomic<int32_t> m_hConn{-1};
  std::atomic<int32_t> m_hStream{-1};
  std::atomic<int32_t> m_hVod{-1};
  std::atomic<int32_t> m_hDown{-1};
  std::atomic<int32_t> m_hChat{-1};
  std::mutex m_respMutex;  // guards the held response
  std::vector<char> m_grpcResp;
  bool m_bGrpcRespHeld = false;
  std::atomic<int32_t> m_nDeviceKind{0};
  mutable std::mutex m_recordMutex;  // guards the two records
  StreamInfoRecord m_liveInfo{};
  StreamInfoRecord m_playInfo{};
  std::atomic<int32_t> m_nSpeedIndex{4};
  std::atomic<bool> m_bDownloadDone{false};
  mutable std::mutex m_connMutex;  // guards m_pConn
  // The connection does not belong to the channel; it retires when no
  // channel uses it, so the channel only observes it.
  std::weak_ptr<OctConnection> m_pConn;
};

}  // namespace qcsdk
