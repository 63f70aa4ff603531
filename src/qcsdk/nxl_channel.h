// The channel over the Nxl transport library.
#pragma once

#include "qcsdk/channel.h"

namespace qcsdk {

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

 protected:
  const int32_t m_nLinkId;  // registry number + 1
};

}  // namespace qcsdk
