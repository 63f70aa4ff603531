// The device side of the OCT protocol: an engine that serves one virtual
// device on a loopback TCP port (login, device information, live streams,
// recordings, playback, downloads, talk, notices, remote configuration), a
// UDP search responder, registration with a directory, the directory server
// itself, and fault switches for tests. docs/oct-protocol.md describes the
// protocol; this header is the owner's (simulator's, test's) interface.
//
// Threads: the engine accepts on one thread and serves each client session on
// its own thread; the handler's callbacks run on those session threads, one
// session at a time per thread, without any engine lock held, so a handler may
// call every engine function. The push functions may be called from any thread.
#pragma once

#include <octc/octc.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace octc::device {

struct DeviceConfig {
  std::string address = "127.0.0.1";  // listening address
  uint16_t port = 0;                  // 0 = the system picks; see DeviceEngine::port()
  std::string user = "admin";
  std::string password = "admin";
  std::string device_id = "100200300";  // cloud number
  std::string name = "oct device";
  std::string version = "1.0.0";
  int32_t device_type = 1;
  int32_t channel_count = 1;         // channels 1..channel_count
  int32_t stream_count = 2;          // streams 0..stream_count-1
  int32_t client_limit = 4;          // logged-in sessions at once
  int keepalive_timeout_ms = 10000;  // a silent client is dropped after this
};

// One sub-handle (stream, playback, download, talk) of one client session.
struct SubRef {
  uint64_t session = 0;
  int32_t handle = 0;
  friend bool operator==(const SubRef&, const SubRef&) = default;
};

struct RecordEntry {
  std::string name;
  std::string path;  // the key clients open for playback and download
  int32_t channel = 1;
  int32_t kind = 0;
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int32_t duration_s = 0;
  uint64_t size = 0;
};

// What the device owner decides. Every function has a harmless default.
class DeviceHandler {
 public:
  virtual ~DeviceHandler() = default;
  virtual void OnSessionOpened(uint64_t /*session*/) {}
  virtual void OnSessionClosed(uint64_t /*session*/) {}
  // After the engine accepted the stream and sent its stored media information.
  virtual void OnStreamOpened(SubRef, int32_t /*channel*/, int32_t /*stream*/) {}
  virtual void OnStreamClosed(SubRef) {}
  virtual int32_t OnKeyFrameRequest(SubRef) { return 0; }
  virtual std::vector<RecordEntry> OnRecordList(const OctRecQuery&) { return {}; }
  // false refuses the playback (the client sees a failed end).
  virtual bool OnPlaybackOpen(SubRef, const std::string& /*path*/) { return false; }
  virtual int32_t OnPlaybackSpeed(SubRef, int32_t /*speed*/) { return 0; }
  virtual int32_t OnPlaybackSkip(SubRef, int32_t /*position_ms*/) { return 0; }
  virtual void OnPlaybackClosed(SubRef) {}
  virtual bool OnDownloadOpen(SubRef, const std::string& /*path*/) { return false; }
  virtual void OnDownloadClosed(SubRef) {}
  // 0 accepts the talk; anything else refuses it with that result.
  virtual int32_t OnTalkOpen(SubRef) { return 0; }
  virtual void OnTalkData(SubRef, const uint8_t* /*data*/, size_t /*size*/,
                          uint64_t /*timestamp_ms*/) {}
  virtual void OnTalkClosed(SubRef) {}
  virtual void OnNotice(uint64_t /*session*/, int32_t /*type*/, const std::string& /*data*/) {}
  // The answer text to a remote-configuration request.
  virtual std::string OnRemoteConfig(uint64_t /*session*/, const std::string& /*request*/) {
    return {};
  }
};

// Kinds of deliberately broken messages (fault injection).
enum class Malformed {
  kBadMagic,       // a header with the wrong magic
  kOversize,       // a header announcing more than the maximum payload
  kTruncatedBody,  // a state message whose payload is too short
  kUnknownType,    // a type the protocol does not define
  kBadCount,       // a recording list announcing more items than it carries
};

class DeviceEngine {
 public:
  // handler may be null (every request gets the default answer); it must
  // outlive the engine.
  DeviceEngine(DeviceConfig config, DeviceHandler* handler);
  ~DeviceEngine();
  DeviceEngine(const DeviceEngine&) = delete;
  DeviceEngine& operator=(const DeviceEngine&) = delete;

  bool Start();
  // Ends every session, the search responder and the registration; joins all threads.
  void Stop();
  uint16_t port() const;
  DeviceConfig config() const;  // a copy, with the settings changed since

  // Refusal modes, effective for the next login or stream open.
  void SetCredentials(const std::string& user, const std::string& password);
  void SetClientLimit(int32_t limit);
  void SetChannelCount(int32_t count);
  // Delays every answer (login and commands) by ms.
  void SetAnswerDelay(int ms);
  // true: pings go unanswered and nothing is sent (a dead peer).
  void SetSilent(bool silent);
  // true: remote-configuration requests are refused (OCTC_ERR_REFUSED, no
  // text) without asking the handler.
  void SetConfigRefused(bool refused);
  size_t SessionCount() const;

  // Live streams: the media information is stored per channel and stream and
  // sent to every stream opened later; frames go to every open stream.
  // Return the number of streams reached.
  int SetMediaInfo(int32_t channel, int32_t stream, const OctMediaInfo& info);
  int PushFrame(int32_t channel, int32_t stream, int32_t type, const uint8_t* data, size_t size,
                uint32_t timestamp_ms);
  int PushAudio(int32_t channel, int32_t stream, const uint8_t* data, size_t size,
                uint32_t timestamp_ms);
  // Closes every open stream of channel/stream from the device side.
  int CloseStreams(int32_t channel, int32_t stream);

  // Playback, download and talk of one sub-handle; false when it is not open.
  bool PlaybackMediaInfo(SubRef ref, const OctMediaInfo& info);
  bool PlaybackFrame(SubRef ref, int32_t type, const uint8_t* data, size_t size,
                     uint32_t timestamp_ms);
  bool PlaybackAudio(SubRef ref, const uint8_t* data, size_t size, uint32_t timestamp_ms);
  // status 0: reached the end (flag 0, handle kept) or failed (flag != 0);
  // status 1: closed by the device.
  bool EndPlayback(SubRef ref, int32_t status, int32_t flag);
  bool DownloadData(SubRef ref, const uint8_t* data, size_t size, uint64_t total,
                    uint64_t received);
  bool EndDownload(SubRef ref, int32_t status, int32_t flag);
  bool TalkAudio(SubRef ref, const uint8_t* data, size_t size);
  bool EndTalk(SubRef ref);

  // Sends a notice to every logged-in session; returns how many.
  int SendNotice(int32_t type, const void* data, size_t size);
  // Sends a notice to one session; false when it is not logged in.
  bool SendNoticeTo(uint64_t session, int32_t type, const void* data, size_t size);

  // Faults: drop every link abruptly, close every link in order (the client
  // reports a close by the device), or send a malformed message to every session.
  void DropLinks();
  void CloseLinks();
  int SendMalformed(Malformed kind);

  // Keeps a registration (cloud number -> address:port) with a directory while
  // the engine runs; false when the directory refused or is unreachable.
  bool RegisterWithDirectory(const std::string& address, uint16_t port);
  void UnregisterFromDirectory();

  // Answers search probes sent to address:port (a broadcast address receives
  // broadcasts); port 0 = the system picks, see search_port().
  bool StartSearchResponder(const std::string& address = "127.255.255.255", uint16_t port = 0);
  uint16_t search_port() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

// The directory devices register with and clients ask: cloud number ->
// address:port, online while the registering device keeps its link open.
class DirectoryServer {
 public:
  DirectoryServer();
  ~DirectoryServer();
  DirectoryServer(const DirectoryServer&) = delete;
  DirectoryServer& operator=(const DirectoryServer&) = delete;
  bool Start(const std::string& address = "127.0.0.1", uint16_t port = 0);
  void Stop();
  uint16_t port() const;
  size_t RegisteredCount() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace octc::device
