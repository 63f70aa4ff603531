// The abstract channel: one video channel of one device, whatever the
// transport. It owns the link state machine and the events it raises, the
// player handle and the frame path, the snapshot picture, the local
// recording and download files, the remote recording list, the talk flags
// and the RPC context. Transports derive from it, implement the pure slots
// and feed what their library delivers into the report operations.
#pragma once

#include <qcsdk/qcsdk.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mp4pkg_api.h"
#include "platform/os.h"
#include "qcsdk/base/nocopyable.h"
#include "qcsdk/channel/recfile.h"

namespace qcsdk {

struct GrpcContext;

enum LinkStatus : int32_t {
  QCLS_UnConnect = 0,
  QCLS_Connecting = 1,
  QCLS_WaitData = 2,
  QCLS_Connected = 3,
};

constexpr std::size_t kStreamInfoSize = 96;
constexpr std::size_t kRecEntrySize = QCSDK_REC_ENTRY_SIZE;
constexpr int32_t kRecListMax = QCSDK_REC_LIST_MAX;
using StreamInfoRecord = std::array<uint8_t, kStreamInfoSize>;
using RecEntry = std::array<uint8_t, kRecEntrySize>;

// Byte offsets of the stream-information record.
namespace info {
constexpr std::size_t kFileTag = 32;       // "QFH" of a whole device file header
constexpr std::size_t kDeviceType = 36;    // 16-bit
constexpr std::size_t kVideoCodec = 38;    // 16-bit
constexpr std::size_t kAudioPresent = 40;  // 16-bit
constexpr std::size_t kWidth = 44;         // 16-bit
constexpr std::size_t kHeight = 46;        // 16-bit
constexpr std::size_t kRateNum = 48;       // 16-bit
constexpr std::size_t kRateDen = 50;       // 16-bit
constexpr std::size_t kAudioCodec = 52;    // 16-bit
constexpr std::size_t kAudioParam1 = 54;   // 16-bit
constexpr std::size_t kAudioParam2 = 56;   // 16-bit
constexpr std::size_t kAudioParam3 = 58;   // 16-bit
constexpr std::size_t kTotalFrames = 60;   // 32-bit
constexpr std::size_t kRecordKind = 64;    // 16-bit
constexpr std::size_t kRpcSupport = 66;    // 8-bit
}  // namespace info

class Channel : public asl::NoCopyable {
 public:
  explicit Channel(int32_t nChannel);
  virtual ~Channel();  // slot 0

  // Virtual operations in slot order.
  virtual bool Connect(const char* szAddress, int32_t nPort, int32_t nDeviceChannel,
                       int32_t nStream, const char* szUser, const char* szPassword, bool bByNumber,
                       void* pUserData);                                    // 1
  virtual bool Disconnect() = 0;                                            // 2
  virtual bool EnableVideoData(bool bEnable) = 0;                           // 3
  virtual void InsertKeyFrame() = 0;                                        // 4
  virtual bool StartTalk() = 0;                                             // 5
  virtual bool StopTalk() = 0;                                              // 6
  virtual bool SendTalkData(const uint8_t* pData, int32_t nLength) = 0;     // 7
  virtual bool GetRemoteRecFileList(const int32_t* pDates) = 0;             // 8
  virtual bool RemotePlay(int32_t nIndex) = 0;                              // 9
  virtual bool RemotePlayControl(int32_t nCommand, int32_t nValue) = 0;     // 10
  virtual bool DownloadRemoteFile(int32_t nIndex, const char* szFilename);  // 11
  virtual bool StopDownload();                                              // 12
  virtual bool RemoteRecording(bool bStart) = 0;                            // 13
  virtual bool RemoteConfig(int32_t nValue) = 0;                            // 14
  virtual bool SendPTZCommand(int32_t nCommand, bool bStart) = 0;           // 15
  virtual bool SendUserData(const uint8_t* pData, int32_t nLength) = 0;     // 16
  virtual bool GrpcBegin() = 0;                                             // 17
  virtual bool GrpcEnd() = 0;                                               // 18
  virtual int32_t SendGrpcRequest(GrpcContext* pContext, const char* szText,
                                  int32_t nLength) = 0;  // 19
  virtual int32_t RecvGrpcResponse(GrpcContext* pContext, char* pBuffer, int32_t nCapacity,
                                   int32_t* pElapsedMs) = 0;  // 20

  // Operations behind the exports.
  bool GetDeviceInfo(int32_t* pDeviceType);
  bool EnableDecoder(bool bEnable);
  bool GetStreamInfo(StreamInfo* pInfo);
  // On: every frame goes to the raw-data callback whatever the stream's
  // codec; off (the default): only while the stream carries H.264.
  void SetRawDataAllCodecs(bool bOn) { m_bRawAllCodecs.store(bOn, std::memory_order_relaxed); }
  bool SetVideoPreview(void* hWnd, const QCSDK_Rect* pRect);
  bool SetAudioPreview(void* hWnd);
  bool SaveBitmap(const char* szFilename);
  bool SaveBitmapToBuffer(uint8_t** ppBuffer, int32_t* pWidth, int32_t* pHeight);
  bool StartRecord(const char* szFilename);
  bool StopRecord();

  // Report operations the transports call.
  void OnLinkEvent(int32_t nCode, const char* szText);
  void OnStreamInfo(const uint8_t* pRecord);
  void OnFrame(int32_t nType, const uint8_t* pData, int32_t nLength);
  void OnTalkEvent(int32_t nCode, const uint8_t* pData, int32_t nLength);
  void OnRemoteRecFileList(const uint8_t* pEntries, int32_t nCount);
  // The same for a list the transport built as entries: kept without a copy.
  void OnRemoteRecFileList(std::vector<RecEntry>&& entries);
  // nSource names the transport's download the report belongs to (its
  // sub-handle), or kAnyDownload.
  static constexpr int32_t kAnyDownload = 0;
  void OnDownloadData(int32_t nCode, const uint8_t* pData, int32_t nLength, uint32_t nTotal,
                      int32_t nSource = kAnyDownload);
  void OnRemoteRecordingState(int32_t nState);
  void CloseDownloadFile();

  // A picture the player decoded for this channel (player thread).
  void OnDecodedPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t yStride,
                        int32_t uvStride);

  int32_t Number() const { return m_nChannel; }
  LinkStatus Status() const { return m_eLinkStatus.load(std::memory_order_acquire); }
  int32_t PlayerHandle() const { return m_hPlayer.load(std::memory_order_acquire); }
  void* UserData() const { return m_pUserData; }
  GrpcContext* Grpc() const { return m_pGrpc; }

 protected:
  void SetStatus(LinkStatus status) { m_eLinkStatus.store(status, std::memory_order_release); }
  // When the link fell back to unconnected, leaves the registry, unless it
  // left already (the caller holds its own reference).
  void RemoveIfUnconnected();
  // The stream-information record is written on transport threads and read
  // on host threads; these take a consistent copy.
  StreamInfoRecord InfoSnapshot() const;
  uint16_t InfoWord(std::size_t offset) const;
  void ClearDecodedFrame();
  // Download conversion to MP4 (under m_pDownloadLock): opened from a device
  // file header, fed with blocks of "QVS" chunks (returns the progress to
  // report).
  void OpenDownloadConversion(const uint8_t* header);
  int32_t PackageDownloadBlock(const uint8_t* pData, int32_t nLength);
  // What becomes of a download report, decided under m_pDownloadLock: a
  // block or end of a download the host already stopped or replaced must not
  // reach the running one's file.
  enum class DownloadFate {
    kCurrent,     // the running download's
    kDropped,     // a stopped download's: nothing happens
    kStoppedEnd,  // a stopped download's end: told to the host, no file touched
  };
  virtual DownloadFate DownloadReportFate(int32_t /*nCode*/, int32_t /*nSource*/) {
    return DownloadFate::kCurrent;
  }
  // Audio type reported when the device accepts a talk request.
  int32_t TalkAudioType() const;

  const int32_t m_nChannel;
  std::atomic<LinkStatus> m_eLinkStatus{QCLS_UnConnect};
  mutable std::mutex m_infoMutex;  // guards m_streamInfo
  StreamInfoRecord m_streamInfo{};
  std::atomic<int32_t> m_nFrameCount{0};
  std::unique_ptr<os::RecursiveLock> m_pRecListLock;
  std::vector<RecEntry> m_recFileList;
  std::atomic<bool> m_bTalkRequested{false};
  std::atomic<bool> m_bTalkReady{false};
  std::atomic<int32_t> m_hPlayer{-1};
  void* m_pUserData = nullptr;
  std::unique_ptr<os::RecursiveLock> m_pPlayerLock;
  std::unique_ptr<os::RecursiveLock> m_pRecFileLock;
  RecFilePtr m_recFile;
  std::string m_strConnectText;
  std::atomic<bool> m_bDecoderOn{false};
  std::atomic<bool> m_bVideoPreview{false};
  std::atomic<bool> m_bAudioPreview{false};
  GrpcContext* m_pGrpc = nullptr;
  std::atomic<bool> m_bRawData{false};
  std::atomic<bool> m_bRawAllCodecs{false};
  std::atomic<bool> m_bInfoReceived{false};
  std::atomic<bool> m_bKeyFrameSeen{false};
  std::unique_ptr<os::RecursiveLock> m_pDecodedLock;
  DecodedFrame m_decodedFrame{};
  // The download: its data arrive on the transport's thread while the host
  // stops and starts downloads; this lock guards every member below.
  std::unique_ptr<os::RecursiveLock> m_pDownloadLock;
  std::string m_strDownloadPath;  // empty: no download running
  std::ofstream m_downloadFile;
  uint64_t m_nDownloadedBytes = 0;
  QP_Handle m_hPackage = nullptr;
  int32_t m_nPackagedFrames = 0;
  int32_t m_nTotalFrames = 0;
  bool m_bDownloadToMp4 = false;

 private:
  static int32_t GrpcSend(GrpcContext* context, const char* text, int32_t length);
  static int32_t GrpcRecv(GrpcContext* context, char* buffer, int32_t capacity, int32_t* elapsed);
};

}  // namespace qcsdk
