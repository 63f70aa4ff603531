// Links between the qvc library and the device engine over loopback: refusals, the login digest,
// connects by number, link ends, re-entrant callbacks, release, links sharing loop threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <set>

#include "frame.h"
#include "messages.h"
#include "netio/address.h"
#include "netio/socket.h"
#include "qvc/device/device_server.h"
#include "qvc/device/directory.h"
#include "qvc/qvc.h"
#include "qvc/qvc_config.h"
#include "support/event_log.h"
#include "support/process_probe.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using qvc::device::ClientId;
using qvc::device::DeviceServer;
using qvc::device::GoneReason;

struct Event {
  enum Kind { kConnect, kLive, kOther };
  Kind kind;
  int32_t link = 0, code = 0;  // code: connect result or frame type
  std::vector<uint8_t> data = {};
  std::string text = {};
};

// Records every callback of the library; a hook runs after each record.
using Recorder = EventLog<Event>;

// Events of one kind and link (any when link < 0).
Recorder::Keep Of(int kind, int32_t link = -1) {
  return [=](const Event& e) { return e.kind == kind && (link < 0 || e.link == link); };
}

std::atomic<Recorder*> g_recorder{nullptr};

void Record(Event e) {
  if (Recorder* r = g_recorder.load()) r->Add(std::move(e));
}

// A device engine with channels 0 to 3 that records logins, messages and departures.
struct Device {
  explicit Device(int32_t maxClients = 8, uint32_t connectTypes = 0x3)
      : server({.password = "s3cret",
                .channel_count = 4,
                .max_clients = maxClients,
                .accepted_connect_types = connectTypes,
                .greeting = "welcome"},
               {[this](const qvc::device::ClientInfo& info) { logins.Add(info); },
                [this](ClientId, uint32_t type, const uint8_t*, size_t) { messages.Add(type); },
                [this](ClientId, GoneReason reason) { gone.Add(reason); }}) {
    EXPECT_TRUE(server.Start(0));
  }
  int port() const { return server.port(); }
  // The n-th login (0-based), once it has happened.
  qvc::device::ClientInfo Login(size_t n) {
    logins.WaitCount(n + 1);
    return logins.Snapshot().at(n);
  }
  EventLog<qvc::device::ClientInfo> logins;
  EventLog<uint32_t> messages;
  EventLog<GoneReason> gone;
  DeviceServer server;  // last: stopped before the records above go away
};

int32_t ConnectTo(int32_t link, int port, const char* password = "s3cret", int32_t channel = 0,
                  int32_t type = 0, const char* user = "admin", const char* address = "127.0.0.1") {
  return QVC_Connect(0, link, channel, address, port, user, password, -1, nullptr, type, 0, 0, 0,
                     0);
}

// Registers the recorder, initialises the library (no directory outside loopback), releases it.
class NxlLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder.store(&recorder_);
    constexpr auto other = [](int32_t l, auto...) { Record({.kind = Event::kOther, .link = l}); };
    QVC_RegisterCallBack(
        [](int32_t l, uint8_t r, const char* t) {
          Record({.kind = Event::kConnect, .link = l, .code = r, .text = t ? t : "(null)"});
        },
        [](int32_t l, uint8_t type, const uint8_t* d, int32_t n) {
          Record({.kind = Event::kLive, .link = l, .code = type, .data = {d, d + std::max(n, 0)}});
        },
        other, other, other, other, other);
    ASSERT_EQ(1, QVC_InitSDK(0, 0));
    ASSERT_EQ(1, QVC_SetLinkTimeouts(ScaledMs(5000), 0, 0));
    ASSERT_EQ(1, QVC_SetDirectoryServer("127.0.0.1", 1));
  }
  void TearDown() override {
    EXPECT_EQ(1, QVC_ReleaseSDK());
    recorder_.SetHook(nullptr);
    g_recorder.store(nullptr);
  }
  // The connect results of a link so far, and a wait for the n-th.
  std::vector<Event> Results(int32_t link) const {
    return recorder_.Snapshot(Of(Event::kConnect, link));
  }
  bool WaitResult(int32_t link, size_t count = 1) {
    return recorder_.WaitCount(count, Of(Event::kConnect, link));
  }
  bool Answered(int32_t link, int port) { return ConnectTo(link, port) == 1 && WaitResult(link); }

  Recorder recorder_;
};

TEST_F(NxlLinkTest, EachRefusalReportsItsText) {
  Device device(2, 0x1);                   // two client places, connect type 0 only
  const int closedPort = Device().port();  // the device is gone again
  std::map<int32_t, size_t> reports;       // per link, so far
  for (const TableRow& row : Table("nxl/connect_refusals.md")) {
    SCOPED_TRACE(row.Where());
    const auto link = static_cast<int32_t>(row.Int("link"));
    const std::string &port = row.Text("port"), &address = row.Text("address");
    ASSERT_EQ(row.Bool("accepted") ? 1 : 0,
              ConnectTo(link,
                        port == "device"   ? device.port()
                        : port == "closed" ? closedPort
                                           : static_cast<int>(row.Int("port")),
                        row.Text("password").c_str(), static_cast<int32_t>(row.Int("channel")),
                        static_cast<int32_t>(row.Int("connect type")), row.Text("user").c_str(),
                        address == "(null)" ? nullptr : address.c_str()));
    ASSERT_TRUE(WaitResult(link, ++reports[link]));
    const std::string& text = row.Text("text");
    EXPECT_EQ(text.empty() ? QVC_CONNECT_OK : QVC_CONNECT_FAILED, Results(link).back().code);
    EXPECT_EQ(text.empty() ? "welcome" : text, Results(link).back().text);
  }
}

// A raw-socket device sees what the client sends at login: a challenge digest, never the password.
TEST_F(NxlLinkTest, LoginSendsADigestNeverThePassword) {
  const std::string password = "correct horse battery";
  std::string error;
  const netio::Fd listener = netio::ListenTcp(netio::kLoopback, 0, &error);
  ASSERT_TRUE(listener.valid()) << error;
  int32_t link = 0;
  for (const TableRow& row : Table("nxl/login_refusals.md")) {
    SCOPED_TRACE(row.Where());
    ASSERT_EQ(
        1, ConnectTo(++link, netio::LocalPort(listener.get()), password.c_str(), 3, 1, "operator"));
    const netio::Fd conn = netio::Accept(listener.get());
    std::vector<uint8_t> seen;
    qvc::wire::FrameParser parser;
    const auto read = [&] {
      qvc::wire::Frame frame;
      uint8_t byte = 0;
      while (parser.Next(&frame) == qvc::wire::FrameParser::Status::kNeedMore &&
             netio::ReceiveAll(conn.get(), &byte, 1) == netio::Received::kData) {
        seen.push_back(byte);
        parser.Feed(&byte, 1);
      }
      return frame;
    };
    const auto send = [&](qvc::wire::MsgType type, const std::vector<uint8_t>& payload) {
      auto frame = qvc::wire::EncodeFrame(type, payload.data(), payload.size());
      netio::SendAll(conn.get(), frame.data(), frame.size());
    };
    ASSERT_EQ(qvc::wire::MsgType::kHello, read().type);
    qvc::wire::Challenge challenge;
    challenge.nonce.fill(0x11);
    send(qvc::wire::MsgType::kChallenge, qvc::wire::Encode(challenge));
    const auto frame = read();
    ASSERT_EQ(qvc::wire::MsgType::kLogin, frame.type);
    qvc::wire::Login login;
    ASSERT_TRUE(qvc::wire::Decode(frame.payload, &login));
    EXPECT_EQ(std::tuple("operator", 3, 1),
              std::tuple(login.user, login.device_channel, login.connect_type));
    // HMAC-SHA256 keyed with the password over the nonce and the user name.
    std::string hex;
    for (uint8_t b : login.digest)
      hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    EXPECT_EQ("acc2ee660e2aa01843649626232b68af2797461c85f095a68e359b7c77903b47", hex);
    EXPECT_EQ(std::search(seen.begin(), seen.end(), password.begin(), password.end()), seen.end());
    const std::string refusal = static_cast<char>(row.Int("reason")) + row.Text("device text");
    send(qvc::wire::MsgType::kLoginRefused, {refusal.begin(), refusal.end()});
    ASSERT_TRUE(WaitResult(link));
    EXPECT_EQ(std::tuple(QVC_CONNECT_FAILED, row.Text("reported")),
              std::tuple(Results(link)[0].code, Results(link)[0].text));
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
  // Group and number identify the device, each alone.
  EXPECT_EQ(4, QVC_WANGetChannelCount("abc", 12345, 2000));
  EXPECT_EQ(-1, QVC_WANGetChannelCount("ABC", 12346, 2000));
  EXPECT_EQ(-1, QVC_WANGetChannelCount("AB", 12345, 2000));
  ASSERT_EQ(1, QVC_Connect(1, 3, 0, nullptr, 0, "admin", "s3cret", 12345, "abc", 1, 1, 0, 0, 0));
  ASSERT_EQ(1, QVC_Connect(1, 4, 0, nullptr, 0, "admin", "s3cret", 99, "ABC", 1, 1, 0, 0, 0));
  for (int32_t link : {3, 4}) ASSERT_TRUE(WaitResult(link));
  EXPECT_EQ(QVC_CONNECT_OK, Results(3)[0].code);
  EXPECT_EQ(1, device.Login(0).connect_type);
  EXPECT_EQ("device is offline", Results(4)[0].text);
  // Unregistered: offline as soon as the directory notices.
  registration.Unregister();
  EXPECT_TRUE(
      WaitUntil([] { return QVC_WANGetChannelCount("ABC", 12345, 2000) == -1; }, 10000, 20));
  // No directory at all: neither online nor offline, and connects fail.
  directory.Stop();
  EXPECT_EQ(0, QVC_WANGetChannelCount("ABC", 12345, 2000));
  ASSERT_EQ(1, QVC_Connect(1, 5, 0, nullptr, 0, "admin", "s3cret", 12345, "abc", 1, 1, 0, 0, 0));
  ASSERT_TRUE(WaitResult(5));
  EXPECT_EQ(QVC_CONNECT_FAILED, Results(5)[0].code);
}

TEST_F(NxlLinkTest, DeviceCloseDropAndMalformedStreamsEndTheLink) {
  Device device;
  DeviceServer& s = device.server;
  // What the device does to link n; all but the first (closed by the device, 7) end as lost (6).
  std::vector<std::function<bool(ClientId)>> endings = {
      [&](ClientId c) { return s.Close(c, "device reboots"); },
      [&](ClientId c) { return s.Drop(c); }, [&](ClientId c) { return s.SendMalformed(c); }};
  const Table streams("nxl/malformed_streams.md");
  for (const TableRow& row : streams) {
    if (row.Text("from") != "device") continue;
    endings.push_back([&s, bytes = row.Text("bytes"), drop = row.Bool("then drop")](ClientId c) {
      return s.SendRaw(c, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) &&
             (!drop || s.Drop(c));
    });
  }
  const auto links = static_cast<int32_t>(endings.size());
  for (int32_t link = 1; link <= links; ++link) ASSERT_TRUE(Answered(link, device.port()));
  for (int32_t link = 1; link <= links; ++link)
    ASSERT_TRUE(endings[link - 1](device.Login(link - 1).id)) << link;
  for (int32_t link = 1; link <= links; ++link) {
    ASSERT_TRUE(WaitResult(link, 2)) << link;
    EXPECT_EQ(link == 1 ? QVC_CONNECT_REMOTE_CLOSED : QVC_CONNECT_LOST, Results(link)[1].code);
    // An ended link is gone: its id is free and sends fail.
    EXPECT_EQ(0, QVC_SendData(link, 112, nullptr, 0)) << link;
    EXPECT_EQ(0, QVC_DisConnect(link)) << link;
  }
  EXPECT_EQ("device reboots", Results(1)[1].text);
  // Nothing of the bad messages reached a data callback.
  EXPECT_EQ(recorder_.Count(), recorder_.Count(Of(Event::kConnect)));
  ASSERT_EQ(1, ConnectTo(2, device.port()));
  ASSERT_TRUE(WaitResult(2, 3));
  EXPECT_EQ(QVC_CONNECT_OK, Results(2)[2].code);
  // Hostile clients are shut out without disturbing the device.
  for (const TableRow& row : streams) {
    if (row.Text("from") != "client") continue;
    const std::string& bytes = row.Text("bytes");
    const netio::Fd fd =
        netio::ConnectTcp("127.0.0.1", device.port(), ScaledMs(5000), ScaledMs(5000));
    ASSERT_TRUE(fd.valid());
    netio::SendAll(fd.get(), bytes.data(), bytes.size());
    uint8_t buf[256];
    size_t got = 0;
    while (netio::ReceiveSome(fd.get(), buf, sizeof buf, &got) == netio::Received::kData) {
    }  // the device closes the connection
  }
  EXPECT_EQ(1u, device.server.Clients().size());
}

TEST_F(NxlLinkTest, NetCardSelectionKeepAliveAndLoginTimeLimits) {
  // Cards count the IPv4 addresses of the interfaces that are up, from 1.
  int32_t count = 0, loopback = 0;
  for (uint32_t address = 0; netio::CardAddress(count + 1, &address);) {
    ++count;
    if (address == netio::kLoopback && loopback == 0) loopback = count;
  }
  ASSERT_GT(loopback, 0);
  EXPECT_EQ(1, QVC_SetLocalNetCard(count));
  for (const int32_t card : {count + 1, -1}) EXPECT_EQ(0, QVC_SetLocalNetCard(card)) << card;
  ASSERT_EQ(1, QVC_SetLocalNetCard(loopback));  // the links below go out through it
  ASSERT_EQ(1, QVC_SetLinkTimeouts(ScaledMs(5000), 50, ScaledMs(600)));
  EXPECT_EQ(0, QVC_SetLinkTimeouts(0, 500, 400));
  Device device;
  ASSERT_TRUE(Answered(1, device.port()));
  EXPECT_EQ(QVC_CONNECT_OK, Results(1)[0].code);
  device.server.SetSilent(true);
  ASSERT_TRUE(WaitResult(1, 2));
  EXPECT_EQ("keep-alive time-out", Results(1)[1].text);
  device.server.SetSilent(false);
  // A connect that waits for its answer ends with the disconnect report.
  device.server.SetResponseDelay(ScaledMs(60000));
  ASSERT_EQ(1, ConnectTo(2, device.port()));
  ASSERT_EQ(1, QVC_DisConnect(2));
  ASSERT_EQ(1u, Results(2).size());
  EXPECT_EQ(QVC_CONNECT_DISCONNECTED, Results(2)[0].code);
  // Slow but within the time limit: up; slower: a failure.
  ASSERT_EQ(1, QVC_SetLinkTimeouts(ScaledMs(1000), 0, 0));
  for (const auto& [link, delay] : {std::pair{3, 200}, {4, 60000}}) {
    device.server.SetResponseDelay(ScaledMs(delay));
    ASSERT_TRUE(Answered(link, device.port()));
    EXPECT_EQ(delay < 1000 ? "welcome" : "login timed out", Results(link)[0].text);
  }
  EXPECT_EQ(1, QVC_SetLocalNetCard(0));
}

TEST_F(NxlLinkTest, CallbacksMayCallBackIntoTheLibrary) {
  Device device;
  std::atomic<int> sentFromCallback{0}, connectedFromCallback{0};
  recorder_.SetHook([&](const Event& e) {
    if (e.kind == Event::kConnect && e.code == QVC_CONNECT_OK) {
      // Send and open a further link from inside the connect callback.
      sentFromCallback += QVC_SendData(e.link, 64, nullptr, 0);
      if (e.link == 1) connectedFromCallback += ConnectTo(2, device.port());
    }
    if (e.kind == Event::kLive) {
      // Disconnect the link that delivers the frame, and the other one.
      QVC_DisConnect(e.link);
      QVC_DisConnect(e.link == 1 ? 2 : 1);
    }
  });
  ASSERT_EQ(1, ConnectTo(1, device.port()));
  ASSERT_TRUE(WaitResult(2));
  ASSERT_TRUE(device.messages.WaitCount(2));
  EXPECT_EQ(2u, device.messages.Count());
  uint8_t key = 0;
  ASSERT_TRUE(device.server.SendLive(device.Login(0).id, 1, &key, 1));
  for (int32_t link : {1, 2}) ASSERT_TRUE(WaitResult(link, 2));
  // Each link reports its end after its earlier callbacks have returned.
  EXPECT_EQ(std::pair(2, 1), std::pair(sentFromCallback.load(), connectedFromCallback.load()));
  for (int32_t link : {1, 2}) EXPECT_EQ(QVC_CONNECT_DISCONNECTED, Results(link)[1].code) << link;
  ASSERT_TRUE(device.gone.WaitCount(2));
  EXPECT_EQ(2u, device.gone.Count());
}

TEST_F(NxlLinkTest, ReleaseStopsEveryThreadAndEveryCallback) {
  Device device, slow;
  slow.server.SetResponseDelay(ScaledMs(60000));
  const int baseline = ThreadCount();
  const auto noSearch = [](QVC_SearchResult) {};
  ASSERT_EQ(1, QVC_StartLANSerchServer(0, 9, noSearch, 2));
  ASSERT_EQ(1, QVC_StartBroadcastServer(
                   0, 9, [](int32_t, const uint8_t*, int32_t, uint32_t, int32_t) {}));
  // An OKIP message of another size is refused; an id is taken once while its answers are awaited.
  const std::vector<uint8_t> find(744, 0);
  EXPECT_EQ(0, QVC_BroadcastOnce(1, find.data(), 743, 60000));
  ASSERT_EQ(1, QVC_BroadcastOnce(1, find.data(), 744, 60000));
  EXPECT_EQ(0, QVC_BroadcastOnce(1, find.data(), 744, 60000));
  for (int32_t link = 1; link <= 4; ++link) ASSERT_TRUE(Answered(link, device.port()));
  // The device streams to every client during the release while more links are logging in.
  std::atomic<bool> streaming{true};
  std::thread streamer([&] {
    uint8_t frame[256] = {};
    while (streaming.load())
      for (ClientId id : device.server.Clients()) device.server.SendLive(id, 3, frame, 256);
  });
  ASSERT_TRUE(recorder_.WaitCount(100, Of(Event::kLive)));
  EXPECT_GT(ThreadCount(), baseline);
  for (int32_t link = 5; link <= 40; ++link) ASSERT_EQ(1, ConnectTo(link, slow.port()));
  ASSERT_EQ(1, QVC_ReleaseSDK());
  const size_t afterRelease = recorder_.Count();
  // Only the streamer is left; a joined thread stays listed for a moment.
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline + 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  streaming.store(false);
  streamer.join();
  // Release reports nothing, not even the ends of the links.
  EXPECT_EQ(afterRelease, recorder_.Count());
  EXPECT_EQ(4u, recorder_.Count(Of(Event::kConnect)));
  // Not initialised: nothing starts.
  EXPECT_EQ(0, ConnectTo(1, device.port()));
  EXPECT_EQ(0, QVC_StartLANSerchServer(0, 9, noSearch, 2));
  ASSERT_EQ(1, QVC_InitSDK(0, 0));  // TearDown releases once more
}

TEST_F(NxlLinkTest, ManyLinksShareAFewLoopThreadsAndKeepTheirOrder) {
  constexpr int32_t kLinks = 32;
  Device device(kLinks);
  // Counted here rather than by the recorder, whose waits scan every event.
  std::mutex mu;
  std::condition_variable cv;
  std::map<int32_t, std::thread::id> threadOf;
  std::map<int32_t, uint32_t> next;
  std::set<int32_t> disconnected;
  size_t live = 0;
  int disorder = 0, threadHops = 0, late = 0;
  recorder_.SetHook([&](const Event& e) {
    std::lock_guard lock(mu);
    if (e.kind == Event::kConnect && e.code == QVC_CONNECT_OK)
      threadOf[e.link] = std::this_thread::get_id();
    if (e.kind != Event::kLive) return;
    late += static_cast<int>(disconnected.count(e.link));
    threadHops += threadOf[e.link] != std::this_thread::get_id() ? 1 : 0;
    uint32_t seq = 0;
    std::memcpy(&seq, e.data.data(), sizeof seq);
    disorder += seq != next[e.link] ? 1 : 0;
    next[e.link] = seq + 1;
    ++live;
    cv.notify_all();
  });
  const auto waitMoreLive = [&](size_t count) {
    std::unique_lock lock(mu);
    const size_t target = live + count;
    return cv.wait_for(lock, Scaled(20000), [&] { return live >= target; });
  };
  const int baseline = ThreadCount();
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_EQ(1, ConnectTo(link, device.port()));
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_TRUE(WaitResult(link));
  device.Login(kLinks - 1);
  EXPECT_LE(ThreadCount() - baseline, 8);  // at most eight loop threads serve every link

  // Four device threads stream numbered frames, ten per buffer, to every client: five rounds at
  // once, then 5 ms apart and a few rounds ahead of the host at most (floods starve links).
  const std::vector<ClientId> clients = device.server.Clients();
  ASSERT_EQ(static_cast<size_t>(kLinks), clients.size());
  std::atomic<bool> streaming{true};
  std::atomic<size_t> sent{0};
  constexpr size_t kAhead = kLinks * 10 * 8;
  std::vector<std::thread> senders;
  for (size_t t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      for (uint32_t round = 0; streaming.load(); ++round) {
        if (round >= 5) {
          // Bounded: frames sent to a link being disconnected never count.
          std::unique_lock lock(mu);
          cv.wait_for(lock, std::chrono::milliseconds(50),
                      [&] { return sent.load() <= live + kAhead; });
        }
        for (size_t c = t; c < clients.size(); c += 4) {
          std::vector<uint8_t> burst;
          for (uint32_t seq = round * 10; seq < round * 10 + 10; ++seq) {
            const auto f = qvc::wire::EncodeTyped(qvc::wire::MsgType::kLive, 3,
                                                  reinterpret_cast<const uint8_t*>(&seq), 4);
            burst.insert(burst.end(), f.begin(), f.end());
          }
          if (device.server.SendRaw(clients[c], burst.data(), burst.size())) sent += 10;
        }
        if (round >= 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  ASSERT_TRUE(waitMoreLive(kLinks * 10 * 5));
  // No callback of a link once QVC_DisConnect has returned.
  for (int32_t link = 1; link <= kLinks / 2; ++link) {
    ASSERT_EQ(1, QVC_DisConnect(link));
    std::lock_guard lock(mu);
    disconnected.insert(link);
  }
  EXPECT_TRUE(waitMoreLive(kLinks * 10));
  streaming.store(false);
  for (auto& t : senders) t.join();
  ASSERT_EQ(1, QVC_ReleaseSDK());  // no callback reaches the hook's state after this
  std::lock_guard lock(mu);
  EXPECT_EQ(std::tuple(0, 0, 0), std::tuple(disorder, threadHops, late));
}

TEST_F(NxlLinkTest, ABlockedCallbackHoldsBackOnlyTheLinksOfItsThread) {
  Device device;
  constexpr int32_t kLinks = 6;
  std::promise<void> unblock;
  const std::shared_future<void> unblocked = unblock.get_future().share();
  EventLog<std::pair<int32_t, std::thread::id>> connectThreads;
  recorder_.SetHook([&](const Event& e) {
    if (e.kind == Event::kConnect) connectThreads.Add({e.link, std::this_thread::get_id()});
    if (e.kind == Event::kLive && e.link == 1) unblocked.wait_for(Scaled(10000));
  });
  for (int32_t link = 1; link <= kLinks; ++link) ASSERT_EQ(1, ConnectTo(link, device.port()));
  // The hook runs after the recorder has the event: wait for the hook.
  ASSERT_TRUE(connectThreads.WaitCount(kLinks));
  std::map<int32_t, std::thread::id> threadOf;
  for (const auto& [link, thread] : connectThreads.Snapshot()) threadOf[link] = thread;
  size_t elsewhere = 0;
  for (auto& [link, thread] : threadOf) elsewhere += thread != threadOf.at(1) ? 1 : 0;
  EXPECT_TRUE(std::thread::hardware_concurrency() <= 1 || elsewhere > 0);
  uint8_t key = 1;
  for (ClientId id : device.server.Clients()) ASSERT_TRUE(device.server.SendLive(id, 1, &key, 1));
  // Link 1 is stuck in its callback; the links of the other threads flow.
  EXPECT_TRUE(recorder_.WaitFor([&](const std::vector<Event>& events) {
    size_t n = 0;
    for (const auto& e : events) n += e.kind == Event::kLive && threadOf[e.link] != threadOf[1];
    return n == elsewhere;
  }));
  unblock.set_value();
  EXPECT_TRUE(recorder_.WaitCount(kLinks, Of(Event::kLive)));
  ASSERT_EQ(1, QVC_ReleaseSDK());
}

}  // namespace
}  // namespace qcsdk::test
