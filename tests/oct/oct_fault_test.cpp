// Hostile and broken peers, lost links, keep-alive and release.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "oct_fixture.h"

namespace octc::test {
namespace {

// A TCP listener on loopback that answers every connection with fixed bytes.
class RawServer {
 public:
  explicit RawServer(std::vector<uint8_t> reply) : m_reply(std::move(reply)) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(m_fd, 4);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    m_thread = std::thread([this] {
      int c = ::accept(m_fd, nullptr, nullptr);
      if (c < 0) return;
      uint8_t buf[256];
      ::recv(c, buf, sizeof buf, 0);  // the hello
      ::send(c, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
      ::recv(c, buf, sizeof buf, 0);  // until the client gives up
      ::close(c);
    });
  }
  ~RawServer() {
    ::shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    ::close(m_fd);
  }
  int port() const { return m_port; }

 private:
  std::vector<uint8_t> m_reply;
  int m_fd = -1;
  int m_port = 0;
  std::thread m_thread;
};

// A TCP connection to a loopback port (a reply is awaited at most 5 s).
int RawConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{Scaled(5000) / 1000, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
  ::close(fd);
  return -1;
}

// Reads until the peer closes, then closes.
void Drain(int fd) {
  uint8_t buf[512];
  while (::recv(fd, buf, sizeof buf, 0) > 0) {
  }
  ::close(fd);
}

std::vector<uint8_t> Header(uint16_t magic, uint16_t type, uint32_t length) {
  std::vector<uint8_t> h(16, 0);
  h[0] = magic & 0xFF;
  h[1] = magic >> 8;
  h[2] = type & 0xFF;
  h[3] = type >> 8;
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  return h;
}

TEST_F(OctTest, HostileMessagesFromTheDeviceCloseOnlyThatLink) {
  const device::Malformed kinds[] = {device::Malformed::kBadMagic, device::Malformed::kOversize,
                                     device::Malformed::kTruncatedBody,
                                     device::Malformed::kUnknownType};
  size_t events = 0;
  for (device::Malformed kind : kinds) {
    int32_t conn = ConnectOk();
    ++events;
    EXPECT_EQ(dev->SendMalformed(kind), 1);
    ConnEvent e = WaitConn(++events);
    EXPECT_EQ(e.conn, conn);
    EXPECT_EQ(e.event, OCTC_CONN_CLOSED);
    EXPECT_EQ(e.result, OCTC_ERR_PROTOCOL);
    EXPECT_EQ(octc_cmd_get_dev_info(conn, nullptr), OCTC_ERR_FAILED);
    EXPECT_EQ(octc_close_conn(conn), 0);
    ASSERT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 0; }));
  }
  // A recording list that announces more items than it carries fails the call
  // and leaves the link up.
  int32_t conn = ConnectOk();
  dev->SendMalformed(device::Malformed::kBadCount);
  OctRecQuery q{};
  q.channel = 1;
  OctRecList list{};
  EXPECT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), OCTC_ERR_PROTOCOL);
  EXPECT_EQ(list.items, nullptr);
  OctDevInfo info{};
  EXPECT_EQ(octc_cmd_get_dev_info(conn, &info), 0);
  octc_cmd_free_dev_info(&info);
}

TEST_F(OctTest, HostileHandshakesFailTheConnect) {
  std::vector<std::vector<uint8_t>> replies;
  replies.push_back(Header(0x544F, 2, 0xFFFFFFFFu));  // challenge announcing 4 GiB
  replies.push_back(Header(0x544F, 2, 3));            // challenge cut short
  auto bad_version = Header(0x544F, 2, 34);
  bad_version.push_back(99);
  bad_version.push_back(0);
  bad_version.resize(bad_version.size() + 32, 7);
  replies.push_back(bad_version);                     // a version we do not speak
  replies.push_back(Header(0x1234, 2, 0));            // not our protocol
  replies.push_back({'H', 'T', 'T', 'P', '/', '1'});  // not even a header
  std::vector<int32_t> expected = {OCTC_ERR_PROTOCOL, OCTC_ERR_LINK_LOST, OCTC_ERR_VERSION,
                                   OCTC_ERR_PROTOCOL, OCTC_ERR_LINK_LOST};
  ASSERT_EQ(octc_set_timeouts(0, 0, 1000), 0);
  for (size_t i = 0; i < replies.size(); ++i) {
    RawServer server(replies[i]);
    octc_connect_by_hostname("127.0.0.1", server.port(), "admin", "x", 0, 0, 0);
    ConnEvent e = WaitConn(i + 1);
    EXPECT_EQ(e.event, OCTC_CONN_RESULT) << i;
    EXPECT_LT(e.result, 0) << i;
    EXPECT_NE(e.result, OCTC_ERR_AUTH) << i;
    if (e.result != OCTC_ERR_TIMEOUT) {
      EXPECT_EQ(e.result, expected[i]) << i;
    }
  }
}

TEST_F(OctTest, GarbageSentToTheDeviceEndsOnlyThatSession) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const int fd = RawConnect(dev->port());
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> junk(16 + rng() % 200);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    if (round % 2 == 0) {  // a valid magic makes the device read further
      junk[0] = 0x4F;
      junk[1] = 0x54;
    }
    ::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    Drain(fd);
  }
  // A client that asks for a protocol version the device does not speak gets
  // an ERROR message and the end of the connection.
  {
    const int fd = RawConnect(dev->port());
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> hello = Header(0x544F, 1, 6);
    hello.insert(hello.end(), {9, 0, 9, 0, 0, 0});  // version 9, at least 9, empty name
    ::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
    uint8_t head[16] = {};
    ASSERT_EQ(::recv(fd, head, sizeof head, MSG_WAITALL), 16);
    EXPECT_EQ(head[2], 8);  // ERROR
    Drain(fd);
  }
  // A client that connects and stays silent is dropped after the keep-alive
  // time-out.
  {
    device::DeviceConfig strict = config;
    strict.keepalive_timeout_ms = Scaled(300);
    device::DeviceEngine dev2(strict, nullptr);
    ASSERT_TRUE(dev2.Start());
    const int fd = RawConnect(dev2.port());
    ASSERT_GE(fd, 0);
    uint8_t b;
    EXPECT_EQ(::recv(fd, &b, 1, 0), 0);  // closed by the device, not timed out here
    ::close(fd);
  }
  // The device still serves real clients.
  int32_t conn = ConnectOk();
  OctDevInfo info{};
  EXPECT_EQ(octc_cmd_get_dev_info(conn, &info), 0);
  octc_cmd_free_dev_info(&info);
}

TEST_F(OctTest, LostAndClosedLinksAreReported) {
  int32_t a = ConnectOk();
  dev->DropLinks();
  ConnEvent e = WaitConn(2);
  EXPECT_EQ(e.conn, a);
  EXPECT_EQ(e.event, OCTC_CONN_CLOSED);
  EXPECT_EQ(e.result, OCTC_ERR_LINK_LOST);
  octc_close_conn(a);

  int32_t b = ConnectOk();
  ASSERT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 1; }));
  dev->CloseLinks();
  e = WaitConn(4);
  EXPECT_EQ(e.conn, b);
  EXPECT_EQ(e.event, OCTC_CONN_CLOSED);
  EXPECT_EQ(e.result, 0);  // an orderly close by the device
  octc_close_conn(b);

  // A device that falls silent is noticed by the keep-alive.
  ASSERT_EQ(octc_set_timeouts(100, Scaled(600), 0), 0);
  int32_t c = ConnectOk();
  dev->SetSilent(true);
  e = WaitConn(6);
  EXPECT_EQ(e.conn, c);
  EXPECT_EQ(e.event, OCTC_CONN_CLOSED);
  EXPECT_EQ(e.result, OCTC_ERR_LINK_LOST);
  dev->SetSilent(false);
  octc_close_conn(c);

  // While frames flow in, the client still pings, so a device that drops
  // silent clients keeps it.
  device::DeviceConfig strict = config;
  strict.keepalive_timeout_ms = Scaled(400);
  device::DeviceEngine dev2(strict, nullptr);
  ASSERT_TRUE(dev2.Start());
  dev2.SetMediaInfo(1, 0, OctMediaInfo{});
  ASSERT_EQ(octc_set_timeouts(100, Scaled(5000), 0), 0);
  int32_t d = octc_connect_by_hostname("127.0.0.1", dev2.port(), "admin", "s3cret", 0, 0, 0);
  ASSERT_EQ(WaitConn(7).result, 0);
  octc_stream_open(d, 1, 0, 0, 1);
  ASSERT_TRUE(rec.WaitFor([&] { return dev2.SessionCount() == 1 && !rec.data.empty(); }));
  const uint8_t frame[] = {1, 2, 3};
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(1200));
  while (std::chrono::steady_clock::now() < until) {
    dev2.PushFrame(1, 0, OCTC_FRAME_P, frame, sizeof frame, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(dev2.SessionCount(), 1u);
  EXPECT_EQ(rec.Locked([&] { return rec.conns.size(); }), 7u);
  octc_close_conn(d);
  dev2.Stop();
}

TEST_F(OctTest, ReleaseJoinsEverythingAndSilencesCallbacks) {
  dev->SetMediaInfo(1, 0, OctMediaInfo{});
  std::vector<int32_t> conns;
  for (int i = 0; i < 3; ++i) {
    conns.push_back(ConnectOk());
    OpenStream(conns.back());
  }
  // Frames keep flowing while the library is released from another thread.
  std::atomic<bool> pushing{true};
  std::thread pusher([&] {
    const uint8_t f[] = {1, 2, 3};
    while (pushing) {
      dev->PushFrame(1, 0, OCTC_FRAME_P, f, sizeof f, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  ASSERT_TRUE(rec.WaitFor([&] { return rec.data.size() > 20; }));
  EXPECT_EQ(octc_release_sdk(), 0);
  size_t after = rec.Locked([&] { return rec.data.size(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(rec.Locked([&] { return rec.data.size(); }), after);
  pushing = false;
  pusher.join();
  for (int32_t c : conns) EXPECT_EQ(octc_close_conn(c), OCTC_ERR_FAILED);
  // Not initialised: connects are refused until the next init.
  EXPECT_LT(octc_connect_by_hostname("127.0.0.1", dev->port(), "admin", "s3cret", 0, 0, 0), 0);
  ASSERT_GE(octc_init_sdk("/tmp", 0, "qcsdk", 0, 0), 0);
}

}  // namespace
}  // namespace octc::test
