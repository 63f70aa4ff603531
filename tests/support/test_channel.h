// A scripted channel for tests of the registry, the export frame and the
// channel base: every transport slot records its call; Disconnect behaves
// like a transport that confirms at once (event 7 inside the call).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "qcsdk/channel/channel.h"
#include "qcsdk/facade/registry.h"

namespace qcsdk::test {

class TestChannel : public Channel {
 public:
  TestChannel(int32_t nChannel, bool bOct);
  ~TestChannel() override;

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

  const bool m_bOct;
  std::vector<std::string> Calls() const;
  // Slots answer this value (Connect: whether the transport accepts).
  std::atomic<bool> answer{true};
  // Where and on which thread the last TestChannel was destroyed.
  static std::atomic<int> destroyed;
  static std::atomic<std::thread::id> destroyedOn;

 private:
  bool Note(std::string call);
  mutable std::mutex m_mutex;
  std::vector<std::string> m_calls;
};

// Installs TestChannel as the channel class of the registry for a scope.
class TestChannelFactory {
 public:
  TestChannelFactory();
  ~TestChannelFactory();
  // Whether the last channel made was an OCT channel.
  static std::atomic<bool> lastOct;
  // When false, the next channels refuse their connect request.
  static std::atomic<bool> connectAnswer;
};

// The test channel at that number (null when none or another class).
std::shared_ptr<TestChannel> FindTestChannel(int32_t nChannel);

}  // namespace qcsdk::test
