// The device side of an Nxl link: listens on 127.0.0.1, runs the login
// handshake against configured credentials, then lets its owner send typed
// messages to each logged-in client and receive what clients send.
//
// Threads: one loop thread per server accepts, reads and calls the
// handlers. Handlers may call every method of the server (sending, closing,
// dropping); they must not call Stop. Send methods may be called from any
// thread; they block at most for the send time-out (5 s) of a stalled client,
// which is then dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvc::device {

using ClientId = uint64_t;

struct DeviceConfig {
  std::string user = "admin";
  std::string password;
  int32_t channel_count = 1;
  // Device channels accepted: first_channel .. first_channel + channel_count - 1.
  int32_t first_channel = 0;
  int32_t max_clients = 8;
  // Bit n set: connect type n is accepted (types 0..31).
  uint32_t accepted_connect_types = 0x3;
  // Sent with the login acceptance; the client reports it with result 1.
  std::string greeting;
  // A client that sends nothing for this long is dropped (clients ping
  // every 2 s by default).
  int idle_timeout_ms = 30000;
};

// Why a client went away (reported to on_gone).
enum class GoneReason {
  kBye,            // the client disconnected in order
  kClosedByPeer,   // the connection ended without notice
  kProtocolError,  // the client sent something malformed
  kIdle,           // silent for longer than idle_timeout_ms
  kDropped,        // Drop was called
  kClosed,         // Close was called
  kSendFailed,     // a send to the client failed or stalled
  kStopped,        // the server stopped
};

// The refusal a server gives every login while it is set.
enum class ForcedRefusal { kNone, kWrongPassword, kNoChannel, kConnectType, kClientLimit };

struct ClientInfo {
  ClientId id = 0;
  std::string user;
  int32_t device_channel = 0;
  int32_t connect_type = 0;
};

struct DeviceHandlers {
  std::function<void(const ClientInfo&)> on_login;
  // A message sent by the client with QVC_SendData: its type and bytes.
  std::function<void(ClientId, uint32_t type, const uint8_t* data, size_t size)> on_message;
  std::function<void(ClientId, GoneReason)> on_gone;
};

class DeviceServer {
 public:
  DeviceServer(DeviceConfig config, DeviceHandlers handlers);
  ~DeviceServer();
  DeviceServer(const DeviceServer&) = delete;
  DeviceServer& operator=(const DeviceServer&) = delete;

  // Listens on 127.0.0.1:port (0: the system picks) and starts the loop.
  bool Start(uint16_t port = 0);
  // Closes every client (reported as kStopped) and joins the loop thread.
  void Stop();
  uint16_t port() const;

  std::vector<ClientId> Clients() const;

  // Messages to a logged-in client; false when there is no such client or
  // the send failed.
  bool SendLive(ClientId id, uint8_t frame_type, const uint8_t* data, size_t size);
  bool SendPlayback(ClientId id, uint8_t frame_type, const uint8_t* data, size_t size);
  bool SendFileList(ClientId id, const uint8_t* data, size_t size);
  bool SendTalk(ClientId id, uint8_t kind, const uint8_t* data, size_t size);
  bool SendText(ClientId id, uint8_t type, const uint8_t* data, size_t size);
  bool SendDownload(ClientId id, uint8_t type, uint32_t total, const uint8_t* data, size_t size);
  // A live message (prefix and data as its bytes after the frame type)
  // appended to `out`, to be sent, alone or with others, by SendEncoded:
  // a device encodes what it sends to many clients once.
  static void AppendLive(std::vector<uint8_t>* out, uint8_t frame_type, const uint8_t* prefix,
                         size_t prefix_size, const uint8_t* data, size_t size);
  bool SendEncoded(ClientId id, const uint8_t* data, size_t size);

  // Fault switches.
  // Ends the client's connection without any message: the client reports
  // its link lost.
  bool Drop(ClientId id);
  // Tells the client the device closes the link (it reports result 7).
  bool Close(ClientId id, const std::string& text);
  // Sends bytes that break the framing; the client ends the link as lost.
  bool SendMalformed(ClientId id);
  // Sends arbitrary bytes on the client's connection (hostile-input tests).
  bool SendRaw(ClientId id, const uint8_t* data, size_t size);
  // Delays the challenge and the login answer by this much.
  void SetResponseDelay(int ms);
  void SetForcedRefusal(ForcedRefusal refusal);
  // Stops answering pings, so a client that is sent nothing else sees a
  // silent link and ends it after its keep-alive time-out.
  void SetSilent(bool silent);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qvc::device
