// A scripted channel for tests of the registry, the export frame and the channel base: each slot
// records its call; Disconnect confirms at once (event 7 inside the call).
#pragma once

#include <atomic>
#include <string>

#include "qcsdk/channel/channel.h"
#include "qcsdk/channel/registry.h"
#include "support/event_log.h"

namespace qcsdk::test {

class TestChannel : public Channel {
 public:
  TestChannel(int32_t nChannel, bool bOct);
  ~TestChannel() override;

  bool Connect(const char* szAddress, int32_t nPort, int32_t nDeviceChannel, int32_t nStream,
               const char* szUser, const char* szPassword, bool bByNumber,
               void* pUserData) override;
  bool Disconnect() override;
  bool EnableVideoData(bool b) override { return Note(std::string("EnableVideoData ") + Bit(b)); }
  void InsertKeyFrame() override { Note("InsertKeyFrame"); }
  bool StartTalk() override {
    if (!Note("StartTalk")) return false;
    m_bTalkRequested = true;
    return true;
  }
  bool StopTalk() override {
    m_bTalkRequested = false;
    m_bTalkReady = false;
    return Note("StopTalk");
  }
  bool SendTalkData(const uint8_t* p, int32_t n) override {
    return Note("SendTalkData " + Bytes(p, n) + " " + Num(n));
  }
  bool GetRemoteRecFileList(const int32_t* p) override {
    return Note("GetRemoteRecFileList " + Num(p != nullptr ? p[0] : -1));
  }
  bool RemotePlay(int32_t i) override { return Note("RemotePlay " + Num(i)); }
  bool RemotePlayControl(int32_t c, int32_t v) override {
    return Note("RemotePlayControl " + Num(c) + " " + Num(v));
  }
  bool DownloadRemoteFile(int32_t nIndex, const char* szFilename) override {
    Note("DownloadRemoteFile " + Num(nIndex));
    return Channel::DownloadRemoteFile(nIndex, szFilename);
  }
  bool StopDownload() override {
    Note("StopDownload");
    return Channel::StopDownload();
  }
  bool RemoteRecording(bool b) override { return Note(std::string("RemoteRecording ") + Bit(b)); }
  bool RemoteConfig(int32_t v) override { return Note("RemoteConfig " + Num(v)); }
  bool SendPTZCommand(int32_t c, bool b) override {
    return Note("SendPTZCommand " + Num(c) + " " + Bit(b));
  }
  bool SendUserData(const uint8_t* p, int32_t n) override {
    return Note("SendUserData " + Bytes(p, n) + " " + Num(n));
  }
  bool GrpcBegin() override { return Note("GrpcBegin"); }
  bool GrpcEnd() override { return Note("GrpcEnd"); }
  int32_t SendGrpcRequest(GrpcContext*, const char*, int32_t n) override {
    Note("SendGrpcRequest");
    return n;
  }
  int32_t RecvGrpcResponse(GrpcContext*, char*, int32_t, int32_t*) override {
    Note("RecvGrpcResponse");
    return -2;
  }

  const bool m_bOct;
  std::vector<std::string> Calls() const { return m_calls.Snapshot(); }
  // Slots answer this value (Connect: whether the transport accepts).
  std::atomic<bool> answer{true};
  // How many test channels have been destroyed.
  static std::atomic<int> destroyed;

 private:
  bool Note(std::string call);
  static std::string Num(int32_t n) { return std::to_string(n); }
  static const char* Bit(bool b) { return b ? "1" : "0"; }
  static std::string Bytes(const uint8_t* p, int32_t n) {
    return p == nullptr ? "-" : std::string(p, p + std::max(n, 0));
  }
  EventLog<std::string> m_calls;
};

// Installs TestChannel as the channel class of the registry for a scope.
class TestChannelFactory {
 public:
  TestChannelFactory();
  ~TestChannelFactory();
  // When false, the next channels refuse their connect request.
  static std::atomic<bool> connectAnswer;
};

// The test channel at that number (null when none or another class).
std::shared_ptr<TestChannel> FindTestChannel(int32_t nChannel);

}  // namespace qcsdk::test
