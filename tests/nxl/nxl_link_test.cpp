// Links between the qvc library and the device engine over loopback:
// connect by address and by number, every refusal, messages both ways for
// every callback, the four ways a link ends, hostile streams, re-entrant
// callbacks and release.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <thread>

#include "auth.h"
#include "frame.h"
#include "messages.h"
#include "nxl_test_env.h"
#include "qvc/device/device_server.h"
#include "qvc/device/directory.h"

namespace nxl_test {
namespace {

using qvc::device::ClientId;
using qvc::device::DeviceConfig;
using qvc::device::DeviceServer;
using qvc::device::GoneReason;

struct Received {
  ClientId client;
  uint32_t type;
  std::vector<uint8_t> data;
};

// A device engine with recording handlers.
class Device {
 public:
  explicit Device(DeviceConfig config = Config())
      : server_(std::move(config),
                {[this](const qvc::device::ClientInfo& info) {
                   std::lock_guard lock(mu_);
                   logins_.push_back(info);
                   cv_.notify_all();
                 },
                 [this](ClientId id, uint32_t type, const uint8_t* data, size_t size) {
                   std::lock_guard lock(mu_);
                   messages_.push_back({id, type, std::vector<uint8_t>(data, data + size)});
                   cv_.notify_all();
                 },
                 [this](ClientId id, GoneReason reason) {
                   std::lock_guard lock(mu_);
                   gone_.emplace_back(id, reason);
                   cv_.notify_all();
                 }}) {
    EXPECT_TRUE(server_.Start(0));
  }

  static DeviceConfig Config() {
    DeviceConfig c;
    c.user = "admin";
    c.password = "s3cret";
    c.channel_count = 4;
    c.greeting = "welcome";
    return c;
  }

  DeviceServer& server() { return server_; }
  int port() const { return server_.port(); }

  // The id of the n-th client that logged in (0-based).
  ClientId WaitLogin(size_t n = 0) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, Scaled(10000), [&] { return logins_.size() > n; });
    return logins_.size() > n ? logins_[n].id : 0;
  }
  qvc::device::ClientInfo Login(size_t n) {
    std::lock_guard lock(mu_);
    return logins_.at(n);
  }
  std::vector<Received> WaitMessages(size_t count) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, Scaled(10000), [&] { return messages_.size() >= count; });
    return messages_;
  }
  std::vector<std::pair<ClientId, GoneReason>> WaitGone(size_t count) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, Scaled(10000), [&] { return gone_.size() >= count; });
    return gone_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<qvc::device::ClientInfo> logins_;
  std::vector<Received> messages_;
  std::vector<std::pair<ClientId, GoneReason>> gone_;
  DeviceServer server_;  // last: stopped before the records above go away
};

int32_t ConnectTo(int32_t link, int port, const char* password = "s3cret", int32_t channel = 0,
                  int32_t type = 0, const char* user = "admin") {
  return QVC_Connect(0, link, channel, "127.0.0.1", port, user, password, -1, nullptr, type, 0, 0,
                     0, 0);
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) {
  return b;
}

// The connect results of a link so far.
std::vector<Event> Results(const Recorder& r, int32_t link) {
  std::vector<Event> out;
  for (auto& e : r.Events(Event::kConnect)) {
    if (e.link == link) out.push_back(e);
  }
  return out;
}

bool WaitResult(Recorder& r, int32_t link, size_t count) {
  return r.WaitFor([&](const std::vector<Event>& events) {
    size_t n = 0;
    for (const auto& e : events) n += (e.kind == Event::kConnect && e.link == link) ? 1 : 0;
    return n >= count;
  });
}

class NxlLinkTest : public NxlTest {};

TEST_F(NxlLinkTest, LinkCarriesEveryKindOfMessageBothWaysThenDisconnects) {
  Device device;
  ASSERT_EQ(1, ConnectTo(7, device.port(), "s3cret", 2, 0));
  ASSERT_TRUE(WaitResult(recorder_, 7, 1));
  auto up = Results(recorder_, 7);
  EXPECT_EQ(QVC_CONNECT_OK, up[0].code);
  EXPECT_EQ("welcome", up[0].text);
  ClientId client = device.WaitLogin();
  ASSERT_NE(0u, client);
  EXPECT_EQ(2, device.Login(0).device_channel);

  DeviceServer& s = device.server();
  std::vector<uint8_t> frame = {0, 0, 0, 1, 0x65, 0x88};
  for (uint8_t type : {1, 2, 3, 4, 8})
    ASSERT_TRUE(s.SendLive(client, type, frame.data(), frame.size()));
  for (uint8_t type : {uint8_t{1}, uint8_t{'2'}, uint8_t{'9'}, uint8_t{'w'}})
    ASSERT_TRUE(s.SendPlayback(client, type, nullptr, 0));
  std::vector<uint8_t> list(23, 'C');
  ASSERT_TRUE(s.SendFileList(client, list.data(), list.size()));
  ASSERT_TRUE(s.SendFileList(client, nullptr, 0));
  ASSERT_TRUE(s.SendTalk(client, 'B', nullptr, 0));
  ASSERT_TRUE(s.SendTalk(client, 'A', frame.data(), 4));
  ASSERT_TRUE(s.SendTalk(client, 'C', nullptr, 0));
  std::string answer = "grpc:{\"result\":0}";
  ASSERT_TRUE(
      s.SendText(client, 81, reinterpret_cast<const uint8_t*>(answer.data()), answer.size()));
  std::vector<uint8_t> big(3 * 1024 * 1024 + 17, 0x42);
  ASSERT_TRUE(s.SendDownload(client, 33, 123456, big.data(), big.size()));
  ASSERT_TRUE(s.SendDownload(client, 34, 123456, nullptr, 0));

  ASSERT_TRUE(recorder_.WaitCount(Event::kDownload, 2));
  auto live = recorder_.Events(Event::kLive);
  ASSERT_EQ(5u, live.size());
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(7, live[i].link);
    EXPECT_EQ(frame, live[i].data);
  }
  EXPECT_EQ(8, live[4].code);
  auto playback = recorder_.Events(Event::kPlayback);
  ASSERT_EQ(4u, playback.size());
  EXPECT_EQ('w', playback[3].code);
  EXPECT_TRUE(playback[3].data.empty());
  auto lists = recorder_.Events(Event::kFileList);
  ASSERT_EQ(2u, lists.size());
  EXPECT_EQ(list, lists[0].data);
  EXPECT_TRUE(lists[1].data.empty());
  auto talk = recorder_.Events(Event::kTalk);
  ASSERT_EQ(3u, talk.size());
  EXPECT_EQ('B', talk[0].code);
  EXPECT_EQ('A', talk[1].code);
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4), talk[1].data);
  EXPECT_EQ('C', talk[2].code);
  auto text = recorder_.Events(Event::kText);
  ASSERT_EQ(1u, text.size());
  EXPECT_EQ(81, text[0].code);
  EXPECT_EQ(answer, std::string(text[0].data.begin(), text[0].data.end()));
  auto download = recorder_.Events(Event::kDownload);
  EXPECT_EQ(33, download[0].code);
  EXPECT_EQ(123456u, download[0].total);
  EXPECT_EQ(big, download[0].data);
  EXPECT_EQ(34, download[1].code);

  // Client to device: typed messages with and without payload.
  std::string query = "20240506000000202405060000000";
  ASSERT_EQ(1, QVC_SendData(7, 112, nullptr, 0));
  ASSERT_EQ(1, QVC_SendData(7, 16, query.data(), 28));
  ASSERT_EQ(1, QVC_SendData(7, 0x7F000026, big.data(), static_cast<int32_t>(big.size())));
  EXPECT_EQ(0, QVC_SendData(7, 65, nullptr, 4));
  EXPECT_EQ(0, QVC_SendData(7, 65, big.data(), -1));
  EXPECT_EQ(0, QVC_SendData(8, 65, big.data(), 1));
  auto messages = device.WaitMessages(3);
  ASSERT_EQ(3u, messages.size());
  EXPECT_EQ(112u, messages[0].type);
  EXPECT_TRUE(messages[0].data.empty());
  EXPECT_EQ(16u, messages[1].type);
  EXPECT_EQ(query.substr(0, 28), std::string(messages[1].data.begin(), messages[1].data.end()));
  EXPECT_EQ(0x7F000026u, messages[2].type);
  EXPECT_EQ(big, messages[2].data);

  ASSERT_EQ(1, QVC_DisConnect(7));
  // The disconnect report has come when QVC_DisConnect returns.
  auto results = Results(recorder_, 7);
  ASSERT_EQ(2u, results.size());
  EXPECT_EQ(QVC_CONNECT_DISCONNECTED, results[1].code);
  EXPECT_EQ(0, QVC_DisConnect(7));
  EXPECT_EQ(0, QVC_SendData(7, 112, nullptr, 0));
  auto gone = device.WaitGone(1);
  ASSERT_EQ(1u, gone.size());
  EXPECT_EQ(GoneReason::kBye, gone[0].second);
}

TEST_F(NxlLinkTest, EachRefusalReportsItsText) {
  DeviceConfig config = Device::Config();
  config.max_clients = 1;
  config.accepted_connect_types = 0x1;
  Device device(config);
  ASSERT_EQ(1, ConnectTo(1, device.port(), "wrong"));
  ASSERT_EQ(1, ConnectTo(2, device.port(), "s3cret", 0, 0, "guest"));
  ASSERT_EQ(1, ConnectTo(3, device.port(), "s3cret", 4));
  ASSERT_EQ(1, ConnectTo(4, device.port(), "s3cret", -1));
  ASSERT_EQ(1, ConnectTo(5, device.port(), "s3cret", 0, 1));
  for (int32_t link = 1; link <= 5; ++link) ASSERT_TRUE(WaitResult(recorder_, link, 1));
  const char* expected[] = {"Passwords is wrong", "Passwords is wrong", "No Channel service!",
                            "No Channel service!", "connect type invalid!"};
  for (int32_t link = 1; link <= 5; ++link) {
    auto r = Results(recorder_, link);
    ASSERT_EQ(1u, r.size()) << link;
    EXPECT_EQ(QVC_CONNECT_FAILED, r[0].code) << link;
    EXPECT_EQ(expected[link - 1], r[0].text) << link;
  }
  // The client limit: one link up, the next refused.
  ASSERT_EQ(1, ConnectTo(6, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 6, 1));
  EXPECT_EQ(QVC_CONNECT_OK, Results(recorder_, 6)[0].code);
  ASSERT_EQ(1, ConnectTo(7, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 7, 1));
  EXPECT_EQ(QVC_CONNECT_FAILED, Results(recorder_, 7)[0].code);
  EXPECT_EQ("client count limit", Results(recorder_, 7)[0].text);

  // Forced refusals of the simulator give the same texts.
  device.server().SetForcedRefusal(qvc::device::ForcedRefusal::kConnectType);
  ASSERT_EQ(1, ConnectTo(8, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 8, 1));
  EXPECT_EQ("connect type invalid!", Results(recorder_, 8)[0].text);

  // Nothing listening: a failure with a text of its own.
  int closed_port = 0;
  {
    Device gone;
    closed_port = gone.port();
  }
  ASSERT_EQ(1, ConnectTo(9, closed_port));
  ASSERT_TRUE(WaitResult(recorder_, 9, 1));
  EXPECT_EQ(QVC_CONNECT_FAILED, Results(recorder_, 9)[0].code);
  EXPECT_EQ("connection refused", Results(recorder_, 9)[0].text);

  // Connects refused at once are reported all the same, each once.
  EXPECT_EQ(0, QVC_Connect(0, 10, 0, "300.1.1.1", 80, "a", "b", -1, nullptr, 0, 0, 0, 0, 0));
  EXPECT_EQ(0, QVC_Connect(0, 11, 0, nullptr, 80, "a", "b", -1, nullptr, 0, 0, 0, 0, 0));
  EXPECT_EQ(0, QVC_Connect(0, 12, 0, "127.0.0.1", 70000, "a", "b", -1, nullptr, 0, 0, 0, 0, 0));
  EXPECT_EQ(0, ConnectTo(6, device.port()));  // link 6 is up
  for (const auto& [link, text] : {std::pair{10, "invalid address"}, {11, "invalid address"},
                                   {12, "invalid port"}, {6, "link id in use"}}) {
    ASSERT_TRUE(WaitResult(recorder_, link, link == 6 ? 2 : 1)) << link;
    EXPECT_EQ(QVC_CONNECT_FAILED, Results(recorder_, link).back().code) << link;
    EXPECT_EQ(text, Results(recorder_, link).back().text) << link;
  }
}

// A device written by hand on a raw socket: it sees exactly what the client
// sends during login.
class RawDevice {
 public:
  RawDevice() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    EXPECT_EQ(0, ::listen(listen_, 4));
    socklen_t len = sizeof sa;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~RawDevice() {
    if (conn_ >= 0) ::close(conn_);
    ::close(listen_);
  }
  int port() const { return port_; }
  void Accept() { conn_ = ::accept(listen_, nullptr, nullptr); }
  // Reads one frame, keeping every byte read in `seen`.
  qvc::wire::Frame Read() {
    qvc::wire::Frame frame;
    uint8_t byte = 0;
    while (parser_.Next(&frame) == qvc::wire::FrameParser::Status::kNeedMore &&
           ::recv(conn_, &byte, 1, 0) == 1) {
      seen_.push_back(byte);
      parser_.Feed(&byte, 1);
    }
    return frame;
  }
  void Send(qvc::wire::MsgType type, const std::vector<uint8_t>& payload) {
    auto frame = qvc::wire::EncodeFrame(type, payload.data(), payload.size());
    ::send(conn_, frame.data(), frame.size(), MSG_NOSIGNAL);
  }
  const std::vector<uint8_t>& seen() const { return seen_; }

 private:
  int listen_ = -1;
  int conn_ = -1;
  int port_ = 0;
  qvc::wire::FrameParser parser_;
  std::vector<uint8_t> seen_;
};

TEST_F(NxlLinkTest, LoginSendsADigestNeverThePassword) {
  struct Case {
    qvc::wire::Refusal reason;
    std::string device_text;
    std::string reported;
  };
  std::vector<Case> cases = {
      {qvc::wire::Refusal::kOther, "maintenance", "refused by the device: maintenance"},
      {qvc::wire::Refusal::kVersion, "x", "protocol version not supported by the device"},
      {qvc::wire::Refusal::kClientLimit, "whatever", "client count limit"},
  };
  int32_t link = 1;
  for (const auto& c : cases) {
    RawDevice device;
    const std::string password = "correct horse battery";
    ASSERT_EQ(1, ConnectTo(link, device.port(), password.c_str(), 3, 1, "operator"));
    device.Accept();
    auto hello = device.Read();
    ASSERT_EQ(qvc::wire::MsgType::kHello, hello.type);
    qvc::wire::Challenge challenge;
    challenge.nonce.fill(0x11);
    device.Send(qvc::wire::MsgType::kChallenge, qvc::wire::Encode(challenge));
    auto login_frame = device.Read();
    ASSERT_EQ(qvc::wire::MsgType::kLogin, login_frame.type);
    qvc::wire::Login login;
    ASSERT_TRUE(qvc::wire::Decode(login_frame.payload, &login));
    EXPECT_EQ("operator", login.user);
    EXPECT_EQ(3, login.device_channel);
    EXPECT_EQ(1, login.connect_type);
    qvc::wire::Digest expected;
    ASSERT_TRUE(qvc::wire::ComputeDigest(challenge.nonce, "operator", password, &expected));
    EXPECT_EQ(expected, login.digest);
    const auto& seen = device.seen();
    EXPECT_EQ(std::search(seen.begin(), seen.end(), password.begin(), password.end()), seen.end());
    std::vector<uint8_t> refusal(1 + c.device_text.size());
    refusal[0] = static_cast<uint8_t>(c.reason);
    std::copy(c.device_text.begin(), c.device_text.end(), refusal.begin() + 1);
    device.Send(qvc::wire::MsgType::kLoginRefused, refusal);
    ASSERT_TRUE(WaitResult(recorder_, link, 1));
    auto r = Results(recorder_, link);
    EXPECT_EQ(QVC_CONNECT_FAILED, r[0].code);
    EXPECT_EQ(c.reported, r[0].text);
    ++link;
  }
}

TEST_F(NxlLinkTest, ConnectByNumberAndOnlineStatusGoThroughTheDirectory) {
  qvc::device::DirectoryServer directory;
  ASSERT_TRUE(directory.Start(0));
  ASSERT_EQ(1, QVC_SetDirectoryServer("127.0.0.1", directory.port()));
  Device device;
  qvc::device::DirectoryRegistration registration;
  ASSERT_TRUE(registration.Register("127.0.0.1", directory.port(),
                                    {"abc", 12345, static_cast<uint16_t>(device.port()), 4, ""}));
  EXPECT_EQ(4, QVC_WANGetChannelCount("ABC", 12345, 2000));
  EXPECT_EQ(4, QVC_WANGetChannelCount("abc", 12345, 2000));
  EXPECT_EQ(-1, QVC_WANGetChannelCount("ABC", 12346, 2000));
  EXPECT_EQ(-1, QVC_WANGetChannelCount("AB", 12345, 2000));

  ASSERT_EQ(1, QVC_Connect(1, 3, 0, nullptr, 0, "admin", "s3cret", 12345, "abc", 1, 1, 0, 0, 0));
  ASSERT_EQ(1, QVC_Connect(1, 4, 0, nullptr, 0, "admin", "s3cret", 99, "ABC", 1, 1, 0, 0, 0));
  ASSERT_TRUE(WaitResult(recorder_, 3, 1));
  ASSERT_TRUE(WaitResult(recorder_, 4, 1));
  EXPECT_EQ(QVC_CONNECT_OK, Results(recorder_, 3)[0].code);
  ASSERT_NE(0u, device.WaitLogin(0));
  EXPECT_EQ(1, device.Login(0).connect_type);
  EXPECT_EQ(QVC_CONNECT_FAILED, Results(recorder_, 4)[0].code);
  EXPECT_EQ("device is offline", Results(recorder_, 4)[0].text);

  // Unregistered: offline as soon as the directory notices.
  registration.Unregister();
  bool offline = false;
  for (auto until = std::chrono::steady_clock::now() + Scaled(10000);
       !offline && std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    offline = QVC_WANGetChannelCount("ABC", 12345, 2000) == -1;
  }
  EXPECT_TRUE(offline);

  // No directory at all: neither online nor offline, and connects fail.
  directory.Stop();
  EXPECT_EQ(0, QVC_WANGetChannelCount("ABC", 12345, 2000));
  ASSERT_EQ(1, QVC_Connect(1, 5, 0, nullptr, 0, "admin", "s3cret", 12345, "abc", 1, 1, 0, 0, 0));
  ASSERT_TRUE(WaitResult(recorder_, 5, 1));
  EXPECT_EQ(QVC_CONNECT_FAILED, Results(recorder_, 5)[0].code);
}

TEST_F(NxlLinkTest, DeviceCloseDropAndMalformedStreamsEndTheLink) {
  Device device;
  // 1: closed by the device (7), 2: dropped (6), 3: malformed header (6),
  // 4: unknown type (6), 5: live frame without its type byte (6),
  // 6: download shorter than its header (6), 7: client-only message (6),
  // 8: a frame cut short by the end of the connection (6).
  constexpr int32_t kLinks = 8;
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_EQ(1, ConnectTo(link, device.port()));
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_TRUE(WaitResult(recorder_, link, 1));
  std::map<int32_t, ClientId> clients;
  for (size_t i = 0; i < static_cast<size_t>(kLinks); ++i) {
    ClientId id = device.WaitLogin(i);
    ASSERT_NE(0u, id);
  }
  // Logins may complete in any order: map links to clients by sending a
  // live frame naming the client and reading which link got it.
  for (size_t i = 0; i < static_cast<size_t>(kLinks); ++i) {
    ClientId id = device.Login(i).id;
    uint8_t tag = static_cast<uint8_t>(id);
    ASSERT_TRUE(device.server().SendLive(id, 1, &tag, 1));
  }
  ASSERT_TRUE(recorder_.WaitCount(Event::kLive, kLinks));
  for (auto& e : recorder_.Events(Event::kLive)) clients[e.link] = e.data.at(0);

  DeviceServer& s = device.server();
  ASSERT_TRUE(s.Close(clients[1], "device reboots"));
  ASSERT_TRUE(s.Drop(clients[2]));
  ASSERT_TRUE(s.SendMalformed(clients[3]));
  auto unknown = Bytes({'N', 'X', 1, 99, 0, 0, 0, 0});
  ASSERT_TRUE(s.SendRaw(clients[4], unknown.data(), unknown.size()));
  auto no_type = Bytes({'N', 'X', 1, 32, 0, 0, 0, 0});
  ASSERT_TRUE(s.SendRaw(clients[5], no_type.data(), no_type.size()));
  auto short_download = Bytes({'N', 'X', 1, 37, 3, 0, 0, 0, 33, 1, 2});
  ASSERT_TRUE(s.SendRaw(clients[6], short_download.data(), short_download.size()));
  auto challenge = Bytes({'N', 'X', 1, 2, 0, 0, 0, 0});
  ASSERT_TRUE(s.SendRaw(clients[7], challenge.data(), challenge.size()));
  auto truncated = Bytes({'N', 'X', 1, 32, 100, 0, 0, 0, 1, 2, 3});
  ASSERT_TRUE(s.SendRaw(clients[8], truncated.data(), truncated.size()));
  ASSERT_TRUE(s.Drop(clients[8]));

  for (int32_t link = 1; link <= kLinks; ++link) {
    ASSERT_TRUE(WaitResult(recorder_, link, 2)) << link;
  }
  auto closed = Results(recorder_, 1);
  EXPECT_EQ(QVC_CONNECT_REMOTE_CLOSED, closed[1].code);
  EXPECT_EQ("device reboots", closed[1].text);
  for (int32_t link = 2; link <= kLinks; ++link) {
    auto r = Results(recorder_, link);
    ASSERT_EQ(2u, r.size()) << link;
    EXPECT_EQ(QVC_CONNECT_LOST, r[1].code) << link;
    // An ended link is gone: its id is free and sends fail.
    EXPECT_EQ(0, QVC_SendData(link, 112, nullptr, 0)) << link;
    EXPECT_EQ(0, QVC_DisConnect(link)) << link;
  }
  // Nothing of the bad messages reached a data callback.
  EXPECT_EQ(static_cast<size_t>(kLinks), recorder_.Events(Event::kLive).size());
  EXPECT_TRUE(recorder_.Events(Event::kDownload).empty());
  // The id can be used again at once.
  ASSERT_EQ(1, ConnectTo(2, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 2, 3));
  EXPECT_EQ(QVC_CONNECT_OK, Results(recorder_, 2)[2].code);
}

TEST_F(NxlLinkTest, KeepAliveNoticesASilentDevice) {
  ASSERT_EQ(1, QVC_SetLinkTimeouts(static_cast<int32_t>(Scaled(5000).count()), 50,
                                   static_cast<int32_t>(Scaled(600).count())));
  EXPECT_EQ(0, QVC_SetLinkTimeouts(0, 500, 400));
  Device device;
  ASSERT_EQ(1, ConnectTo(1, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 1, 1));
  ASSERT_EQ(QVC_CONNECT_OK, Results(recorder_, 1)[0].code);
  // Answered pings keep an idle link up through several silence periods.
  std::this_thread::sleep_for(Scaled(600) * 3);
  ASSERT_EQ(1u, Results(recorder_, 1).size());
  ASSERT_EQ(1, QVC_SendData(1, 112, nullptr, 0));
  device.server().SetSilent(true);
  ASSERT_TRUE(WaitResult(recorder_, 1, 2));
  auto r = Results(recorder_, 1);
  EXPECT_EQ(QVC_CONNECT_LOST, r[1].code);
  EXPECT_EQ("keep-alive time-out", r[1].text);
}

TEST_F(NxlLinkTest, DisconnectWhileTheDeviceIsSlowToAnswer) {
  Device device;
  device.server().SetResponseDelay(static_cast<int>(Scaled(60000).count()));
  ASSERT_EQ(1, ConnectTo(1, device.port()));
  // A connect that waits for its answer ends with the disconnect report.
  ASSERT_EQ(1, QVC_DisConnect(1));
  auto r = Results(recorder_, 1);
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ(QVC_CONNECT_DISCONNECTED, r[0].code);
  // Slow but within the time limit: the link comes up.
  device.server().SetResponseDelay(200);
  ASSERT_EQ(1, ConnectTo(2, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 2, 1));
  EXPECT_EQ(QVC_CONNECT_OK, Results(recorder_, 2)[0].code);
  // Slower than the time limit: a failure.
  ASSERT_EQ(1, QVC_SetLinkTimeouts(300, 0, 0));
  device.server().SetResponseDelay(static_cast<int>(Scaled(60000).count()));
  ASSERT_EQ(1, ConnectTo(3, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 3, 1));
  EXPECT_EQ(QVC_CONNECT_FAILED, Results(recorder_, 3)[0].code);
  EXPECT_EQ("login timed out", Results(recorder_, 3)[0].text);
}

TEST_F(NxlLinkTest, CallbacksMayCallBackIntoTheLibrary) {
  Device device;
  std::atomic<int> sent_from_callback{0};
  std::atomic<int> connected_from_callback{0};
  recorder_.SetHook([&](const Event& e) {
    if (e.kind == Event::kConnect && e.code == QVC_CONNECT_OK) {
      // Send and open a further link from inside the connect callback.
      sent_from_callback += QVC_SendData(e.link, 64, nullptr, 0);
      if (e.link == 1) connected_from_callback += ConnectTo(2, device.port());
    }
    if (e.kind == Event::kLive) {
      // Disconnect the link that delivers the frame, and the other one.
      QVC_DisConnect(e.link);
      QVC_DisConnect(e.link == 1 ? 2 : 1);
    }
  });
  ASSERT_EQ(1, ConnectTo(1, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 2, 1));
  EXPECT_EQ(2u, device.WaitMessages(2).size());
  ClientId first = device.WaitLogin(0);
  uint8_t key = 0;
  ASSERT_TRUE(device.server().SendLive(first, 1, &key, 1));
  ASSERT_TRUE(WaitResult(recorder_, 1, 2));
  ASSERT_TRUE(WaitResult(recorder_, 2, 2));
  // Each link reports its end after its earlier callbacks have returned.
  EXPECT_EQ(2, sent_from_callback.load());
  EXPECT_EQ(1, connected_from_callback.load());
  EXPECT_EQ(QVC_CONNECT_DISCONNECTED, Results(recorder_, 1)[1].code);
  EXPECT_EQ(QVC_CONNECT_DISCONNECTED, Results(recorder_, 2)[1].code);
  EXPECT_EQ(2u, device.WaitGone(2).size());
}

TEST_F(NxlLinkTest, ReleaseStopsEveryThreadAndEveryCallback) {
  Device device;
  Device slow;
  slow.server().SetResponseDelay(static_cast<int>(Scaled(60000).count()));
  int baseline = ThreadCount();
  ASSERT_EQ(1, QVC_StartLANSerchServer(0, FreeUdpPort(), &OnSearch, 2));
  ASSERT_EQ(1, QVC_StartBroadcastServer(0, FreeUdpPort(), &OnOkip));
  for (int32_t link = 1; link <= 4; ++link) ASSERT_EQ(1, ConnectTo(link, device.port()));
  for (int32_t link = 1; link <= 4; ++link) ASSERT_TRUE(WaitResult(recorder_, link, 1));
  // The device streams to every client while the library is released.
  std::atomic<bool> streaming{true};
  std::thread streamer([&] {
    uint8_t frame[256] = {};
    while (streaming.load()) {
      for (ClientId id : device.server().Clients()) device.server().SendLive(id, 3, frame, 256);
    }
  });
  ASSERT_TRUE(recorder_.WaitCount(Event::kLive, 100));
  EXPECT_GT(ThreadCount(), baseline);
  // Links still logging in when the library is released.
  for (int32_t link = 5; link <= 40; ++link) ASSERT_EQ(1, ConnectTo(link, slow.port()));
  ASSERT_EQ(1, QVC_ReleaseSDK());
  size_t after_release = recorder_.Events().size();
  EXPECT_EQ(baseline + 1, ThreadCount());  // the streamer
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  streaming.store(false);
  streamer.join();
  EXPECT_EQ(after_release, recorder_.Events().size());
  // Release reports nothing, not even the ends of the links.
  for (int32_t link = 1; link <= 4; ++link) EXPECT_EQ(1u, Results(recorder_, link).size());
  for (int32_t link = 5; link <= 40; ++link) EXPECT_TRUE(Results(recorder_, link).empty());
  // Not initialised: nothing starts.
  EXPECT_EQ(0, ConnectTo(1, device.port()));
  EXPECT_EQ(0, QVC_StartLANSerchServer(0, 9, &OnSearch, 2));
  ASSERT_EQ(1, QVC_InitSDK(0, 0));  // TearDown releases once more
}

// Live frames whose payload is a 32-bit sequence number, `count` of them in
// one buffer, so that the client reads many frames at once.
std::vector<uint8_t> NumberedFrames(uint32_t first, uint32_t count) {
  std::vector<uint8_t> out;
  for (uint32_t seq = first; seq < first + count; ++seq) {
    auto frame = qvc::wire::EncodeTyped(qvc::wire::MsgType::kLive, 3,
                                        reinterpret_cast<const uint8_t*>(&seq), sizeof seq);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

TEST_F(NxlLinkTest, ManyLinksShareAFewLoopThreadsAndKeepTheirOrder) {
  DeviceConfig config = Device::Config();
  constexpr int32_t kLinks = 48;
  constexpr uint32_t kBurst = 10;
  constexpr uint32_t kBursts = 5;
  config.max_clients = kLinks;
  Device device(config);
  struct Seen {
    std::thread::id thread;
    uint32_t next = 0;
    bool disconnected = false;
  };
  std::mutex mu;
  std::condition_variable cv;
  std::map<int32_t, Seen> seen;
  size_t live = 0;
  int disorder = 0, thread_hops = 0, late = 0;
  // Counted here rather than by the recorder, whose waits scan every event.
  auto wait_live = [&](size_t count) {
    std::unique_lock lock(mu);
    return cv.wait_for(lock, Scaled(20000), [&] { return live >= count; });
  };
  recorder_.SetHook([&](const Event& e) {
    std::lock_guard lock(mu);
    Seen& s = seen[e.link];
    if (e.kind == Event::kConnect && e.code == QVC_CONNECT_OK)
      s.thread = std::this_thread::get_id();
    if (e.kind != Event::kLive) return;
    late += s.disconnected ? 1 : 0;
    thread_hops += s.thread != std::this_thread::get_id() ? 1 : 0;
    uint32_t seq = 0;
    std::memcpy(&seq, e.data.data(), sizeof seq);
    disorder += seq != s.next ? 1 : 0;
    s.next = seq + 1;
    ++live;
    cv.notify_all();
  });
  const int baseline = ThreadCount();
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_EQ(1, ConnectTo(link, device.port()));
  ASSERT_NE(0u, device.WaitLogin(kLinks - 1));
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_TRUE(WaitResult(recorder_, link, 1));
  // At most eight loop threads serve every link.
  EXPECT_LE(ThreadCount() - baseline, 8);

  // Four device threads stream numbered bursts to every client at once;
  // later rounds are paced, beside the disconnects below.
  std::vector<ClientId> clients = device.server().Clients();
  ASSERT_EQ(static_cast<size_t>(kLinks), clients.size());
  std::atomic<bool> paced{false};
  std::atomic<bool> streaming{true};
  std::vector<std::thread> senders;
  for (size_t t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      for (uint32_t b = 0; streaming.load(); ++b) {
        for (size_t c = t; c < clients.size(); c += 4) {
          auto burst = NumberedFrames(b * kBurst, kBurst);
          device.server().SendRaw(clients[c], burst.data(), burst.size());
        }
        if (b + 1 >= kBursts) paced.wait(false);
        if (b + 1 > kBursts) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ASSERT_TRUE(wait_live(kLinks * kBurst * kBursts));
  paced.store(true);
  paced.notify_all();
  // Half the links are disconnected while the others stream on: none of
  // them makes a callback once QVC_DisConnect has returned.
  for (int32_t link = 1; link <= kLinks / 2; ++link) {
    ASSERT_EQ(1, QVC_DisConnect(link)) << Results(recorder_, link).back().text;
    std::lock_guard lock(mu);
    seen[link].disconnected = true;
  }
  size_t more = 0;
  {
    std::lock_guard lock(mu);
    more = live + kLinks * kBurst;
  }
  EXPECT_TRUE(wait_live(more));
  streaming.store(false);
  for (auto& t : senders) t.join();
  // No callback reaches the hook's state once it goes out of scope.
  ASSERT_EQ(1, QVC_ReleaseSDK());
  std::lock_guard lock(mu);
  EXPECT_EQ(0, disorder);
  EXPECT_EQ(0, thread_hops);
  EXPECT_EQ(0, late);
  for (int32_t link = 1; link <= kLinks / 2; ++link) {
    EXPECT_EQ(QVC_CONNECT_DISCONNECTED, Results(recorder_, link).back().code);
  }
}

TEST_F(NxlLinkTest, ABlockedCallbackHoldsBackOnlyTheLinksOfItsThread) {
  Device device;
  constexpr int32_t kLinks = 6;
  std::mutex mu;
  std::condition_variable cv;
  bool unblock = false;
  std::map<int32_t, std::thread::id> thread_of;
  recorder_.SetHook([&](const Event& e) {
    std::unique_lock lock(mu);
    if (e.kind == Event::kConnect) thread_of[e.link] = std::this_thread::get_id();
    if (e.kind == Event::kLive && e.link == 1)
      cv.wait_for(lock, Scaled(10000), [&] { return unblock; });
  });
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_EQ(1, ConnectTo(link, device.port()));
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_TRUE(WaitResult(recorder_, link, 1));
  std::vector<int32_t> elsewhere;
  {
    std::lock_guard lock(mu);
    for (auto& [link, thread] : thread_of) {
      if (thread != thread_of.at(1)) elsewhere.push_back(link);
    }
  }
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_FALSE(elsewhere.empty());
  }
  uint8_t key = 1;
  for (ClientId id : device.server().Clients()) {
    ASSERT_TRUE(device.server().SendLive(id, 1, &key, 1));
  }
  // Link 1 is stuck in its callback; the links of the other threads flow.
  EXPECT_TRUE(recorder_.WaitFor([&](const std::vector<Event>& events) {
    size_t n = 0;
    for (const auto& e : events)
      n += e.kind == Event::kLive && std::count(elsewhere.begin(), elsewhere.end(), e.link);
    return n == elsewhere.size();
  }));
  {
    std::lock_guard lock(mu);
    unblock = true;
  }
  cv.notify_all();
  EXPECT_TRUE(recorder_.WaitCount(Event::kLive, kLinks));
  ASSERT_EQ(1, QVC_ReleaseSDK());
}

TEST_F(NxlLinkTest, HostileClientsNeverDisturbTheDevice) {
  Device device;
  auto raw = [&](const std::vector<uint8_t>& bytes) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(device.port()));
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    // The device closes the connection: read until the end.
    uint8_t buf[256];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    ::close(fd);
  };
  raw(Bytes({'G', 'E', 'T', ' ', '/'}));
  raw(Bytes({'N', 'X', 1, 1, 0xff, 0xff, 0xff, 0xff}));
  raw(Bytes({'N', 'X', 1, 3, 4, 0, 0, 0, 1, 2, 3, 4}));  // login before hello
  raw(Bytes({'N', 'X', 1, 16, 2, 0, 0, 0, 1, 2}));       // data before login
  raw(Bytes({'N', 'X', 1, 1, 4, 0, 0, 0, 9, 0, 9, 0}));  // only version 9
  // Still serving.
  ASSERT_EQ(1, ConnectTo(1, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 1, 1));
  EXPECT_EQ(QVC_CONNECT_OK, Results(recorder_, 1)[0].code);
  EXPECT_EQ(1u, device.server().Clients().size());
}

TEST_F(NxlLinkTest, NetCardSelection) {
  EXPECT_EQ(1, QVC_SetLocalNetCard(0));
  EXPECT_EQ(0, QVC_SetLocalNetCard(100000));
  EXPECT_EQ(0, QVC_SetLocalNetCard(-1));
  // Cards count the IPv4 addresses of the interfaces that are up, from 1.
  int32_t loopback_card = 0;
  ifaddrs* list = nullptr;
  ASSERT_EQ(0, ::getifaddrs(&list));
  int32_t index = 0;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !(it->ifa_flags & IFF_UP)) continue;
    ++index;
    auto* sa = reinterpret_cast<sockaddr_in*>(it->ifa_addr);
    if (sa->sin_addr.s_addr == htonl(INADDR_LOOPBACK) && loopback_card == 0) loopback_card = index;
  }
  ::freeifaddrs(list);
  ASSERT_NE(0, loopback_card);
  ASSERT_EQ(1, QVC_SetLocalNetCard(loopback_card));
  Device device;
  ASSERT_EQ(1, ConnectTo(1, device.port()));
  ASSERT_TRUE(WaitResult(recorder_, 1, 1));
  EXPECT_EQ(QVC_CONNECT_OK, Results(recorder_, 1)[0].code);
  EXPECT_EQ(1, QVC_SetLocalNetCard(0));
}

}  // namespace
}  // namespace nxl_test
