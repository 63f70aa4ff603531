// The channel over the Nxl transport library: every device operation is one
// or two typed messages; what the device sends back arrives through the
// transport's callbacks (nxl_callbacks).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/os.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/dialog/config_dialog.h"

namespace qcsdk {

// Message types the channel sends.
namespace nxlmsg {
constexpr int32_t kUserData = 8;
constexpr int32_t kFileList = 16;
constexpr int32_t kDownload = 32;
constexpr int32_t kStopDownload = 36;
constexpr int32_t kPlay = 48;
constexpr int32_t kFaster = 51;
constexpr int32_t kSlower = 52;
constexpr int32_t kNormalSpeed = 53;
constexpr int32_t kStopPlay = 54;
constexpr int32_t kPause = 55;
constexpr int32_t kResume = 56;
constexpr int32_t kTalkStart = 64;
constexpr int32_t kTalkData = 65;
constexpr int32_t kTalkStop = 67;
constexpr int32_t kSeek = 68;
constexpr int32_t kTextOpen = 80;
constexpr int32_t kText = 81;
constexpr int32_t kTextAccepted = 82;
constexpr int32_t kTextClose = 83;
constexpr int32_t kControl = 96;
constexpr int32_t kVideoOn = 112;
constexpr int32_t kVideoOff = 117;
}  // namespace nxlmsg

// States of the RPC text exchange.
enum GrpcState : int32_t {
  kGrpcAccepted = 2,
  kGrpcAwaiting = 3,
  kGrpcAnswered = 4,
  kGrpcRefused = 5,
};

class NxlChannel : public Channel {
 public:
  explicit NxlChannel(int32_t nChannel);
  ~NxlChannel() override;

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

  // What the transport's callbacks deliver (transport threads).
  void HandleConnectResult(uint8_t result, const char* text);
  void HandleStreamData(uint8_t frameType, const uint8_t* data, int32_t length, bool playback);
  void HandleFileList(const uint8_t* data, int32_t length);
  void HandleText(uint8_t type, const uint8_t* data, int32_t length);

  int32_t LinkId() const { return m_nLinkId; }

 protected:
  DownloadFate DownloadReportFate(int32_t nCode, int32_t nSource) override;

 private:
  void Send(int32_t type, const void* data = nullptr, int32_t length = 0) const;
  bool Connected() const { return Status() == QCLS_Connected; }
  // Decodes a stream header into a 96-byte record.
  static StreamInfoRecord DecodeHeader(const uint8_t* data, int32_t length, bool playback);
  void CloseDialog() const;
  void ApplyStreamInfo(const StreamInfoRecord& record);

  const int32_t m_nLinkId;  // registry number + 1
  std::atomic<int32_t> m_nDeviceChannel{0};
  std::atomic<bool> m_bPlayInfoActive{false};
  std::mutex m_headerMutex;  // guards the two header records and the query date
  StreamInfoRecord m_liveInfo{};
  StreamInfoRecord m_playInfo{};
  int32_t m_queryDate[6] = {};
  std::atomic<int32_t> m_eGrpcState{0};
  // Set at every change of the RPC state by the text callback: the RPC
  // waits never consume the configuration exchange's wake-ups.
  os::ManualResetEvent m_hGrpcEvent;
  std::mutex m_respMutex;  // guards the held answer
  std::vector<char> m_pGrpcResp;
  std::atomic<bool> m_bTextBusy{false};
  // The last configuration message, 196,612 bytes; allocated when the first
  // one arrives, as only the configuration handshake uses it.
  std::vector<uint8_t> m_textBuf;
  std::atomic<int32_t> m_nTextType{0};
  os::RecursiveLock m_csText;
  os::ManualResetEvent m_hTextEvent;  // set only for the configuration exchange's 81 and 82
  std::unique_ptr<os::Thread> m_hDlgThread;
  // Download messages carry no download id: after a stop, the device's
  // blocks until its end message belong to the stopped download. Both under
  // the download lock.
  bool m_bDeviceDownloading = false;  // asked for, and no end message yet
  int32_t m_nStoppedDownloads = 0;    // stopped while running, end message still due
};

}  // namespace qcsdk
