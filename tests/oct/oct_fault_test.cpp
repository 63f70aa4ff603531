// Hostile and broken peers, lost links, the keep-alive; the frame reader telling stream ends apart.

#include "frame_io.h"
#include "netio/address.h"
#include "netio/socket.h"
#include "oct_fixture.h"
#include "support/process_probe.h"
#include "wire.h"

namespace octc::test {
namespace {

std::vector<uint8_t> Header(uint16_t magic, uint16_t type, uint32_t length) {
  std::vector<uint8_t> h(wire::kHeaderSize);
  wire::EncodeHeader({magic, static_cast<wire::Type>(type), length, 0, 0}, h.data());
  return h;
}

TEST_F(OctTest, HostileHandshakesFailTheConnect) {
  auto badVersion = Header(0x544F, 2, 34);
  badVersion.insert(badVersion.end(), {99, 0});
  badVersion.resize(badVersion.size() + 32, 7);
  const std::pair<std::vector<uint8_t>, int32_t> replies[] = {
      {Header(0x544F, 2, 0xFFFFFFFFu), OCTC_ERR_PROTOCOL},  // a challenge of 4 GiB
      {Header(0x544F, 2, 3), OCTC_ERR_LINK_LOST},           // one cut short
      {badVersion, OCTC_ERR_VERSION},
      {Header(0x1234, 2, 0), OCTC_ERR_PROTOCOL},  // not our protocol
      {{'H', 'T', 'T', 'P', '/', '1'}, OCTC_ERR_LINK_LOST}};
  ASSERT_EQ(octc_set_timeouts(0, 0, 1000), 0);
  for (size_t i = 0; i < std::size(replies); ++i) {
    std::string error;
    netio::Fd listener = netio::ListenTcp(netio::kLoopback, 0, &error);
    ASSERT_TRUE(listener.valid()) << error;
    std::thread server([&] {
      netio::Fd c = netio::Accept(listener.get());
      uint8_t buf[256];
      size_t got = 0;
      netio::ReceiveSome(c.get(), buf, sizeof buf, &got);  // the hello
      netio::SendAll(c.get(), replies[i].first.data(), replies[i].first.size());
      netio::ReceiveSome(c.get(), buf, sizeof buf, &got);  // until the client gives up
    });
    octc_connect_by_hostname("127.0.0.1", netio::LocalPort(listener.get()), "admin", "x", 0, 0, 0);
    const ConnEvent e = WaitConn(i + 1);
    server.join();
    EXPECT_EQ(e.event, OCTC_CONN_RESULT) << i;
    EXPECT_TRUE(e.result == OCTC_ERR_TIMEOUT || e.result == replies[i].second)
        << i << " " << e.result;
  }
}

TEST_F(OctTest, LostClosedAndHostileLinksAreReportedAndLetGo) {
  const int handlesBefore = qcsdk::test::HandleCount();
  // Dropped, closed (result 0), hostile device messages, silence: each ends only that link.
  ASSERT_EQ(octc_set_timeouts(100, ScaledMs(600), 0), 0);
  const auto send = [&](device::Malformed kind) {
    return [&, kind] { EXPECT_EQ(dev->SendMalformed(kind), 1); };
  };
  const std::pair<std::function<void()>, int32_t> rows[] = {
      {[&] { dev->DropLinks(); }, OCTC_ERR_LINK_LOST},
      {[&] { dev->CloseLinks(); }, 0},
      {send(device::Malformed::kBadMagic), OCTC_ERR_PROTOCOL},
      {send(device::Malformed::kOversize), OCTC_ERR_PROTOCOL},
      {send(device::Malformed::kTruncatedBody), OCTC_ERR_PROTOCOL},
      {send(device::Malformed::kUnknownType), OCTC_ERR_PROTOCOL},
      {[&] { dev->SetSilent(true); }, OCTC_ERR_LINK_LOST}};
  OctDevInfo info{};
  size_t events = 0;
  for (const auto& [fault, result] : rows) {
    const int32_t conn = ConnectOk();
    ASSERT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 1; }));
    fault();
    EXPECT_EQ(WaitConn(events += 2).Key(), std::tuple(conn, OCTC_CONN_CLOSED, result));
    EXPECT_EQ(octc_cmd_get_dev_info(conn, &info), OCTC_ERR_FAILED);
    ASSERT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 0; }));
  }
  dev->SetSilent(false);
  // Nobody closes a link that ended by itself: the library lets its socket go.
  EXPECT_TRUE(rec.WaitFor([&] { return qcsdk::test::HandleCount() == handlesBefore; }));
  // A recording list announcing more items than it carries fails the call and leaves the link up.
  const int32_t conn = ConnectOk();
  dev->SendMalformed(device::Malformed::kBadCount);
  OctRecQuery q{1, {}, {}};
  OctRecList list{};
  EXPECT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), OCTC_ERR_PROTOCOL);
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(octc_cmd_get_dev_info(conn, &info), 0);
  octc_cmd_free_dev_info(&info);

  // A device that drops silent clients: junk for a hello, a hello of a version it does not speak
  // (answered with an ERROR message) and silence beyond the keep-alive each end the connection.
  device::DeviceConfig strict = config;
  strict.keepalive_timeout_ms = ScaledMs(400);
  device::DeviceEngine dev2(strict, nullptr);
  ASSERT_TRUE(dev2.Start());
  std::vector<uint8_t> hello = Header(0x544F, 1, 6);
  hello.insert(hello.end(), {9, 0, 9, 0, 0, 0});  // version 9, at least 9, empty name
  const std::pair<std::vector<uint8_t>, uint8_t> clients[] = {
      {Header(0x544F, 7, 0), 0}, {hello, 8}, {{}, 0}};
  for (const auto& [bytes, reply] : clients) {
    const netio::Fd fd =
        netio::ConnectTcp("127.0.0.1", dev2.port(), ScaledMs(5000), ScaledMs(5000));
    ASSERT_TRUE(fd.valid());
    netio::SendAll(fd.get(), bytes.data(), bytes.size());
    uint8_t head[16] = {};
    if (reply != 0) {
      ASSERT_EQ(netio::ReceiveAll(fd.get(), head, sizeof head), netio::Received::kData);
      EXPECT_EQ(head[2], reply);
    }
    size_t got = 0;
    netio::Received r = netio::Received::kData;
    while ((r = netio::ReceiveSome(fd.get(), head, sizeof head, &got)) == netio::Received::kData) {
    }
    EXPECT_EQ(r, netio::Received::kEnded);  // closed by the device, not timed out here
  }
  // While frames flow in, the client still pings, so that device keeps it.
  dev2.SetMediaInfo(1, 0, OctMediaInfo{});
  ASSERT_EQ(octc_set_timeouts(100, ScaledMs(5000), 0), 0);
  const int32_t d = octc_connect_by_hostname("127.0.0.1", dev2.port(), "admin", "s3cret", 0, 0, 0);
  ASSERT_EQ(WaitConn(2 * std::size(rows) + 2).result, 0);
  octc_stream_open(d, 1, 0, 0, 1);
  ASSERT_TRUE(rec.WaitFor([&] { return dev2.SessionCount() == 1 && !rec.data.empty(); }));
  const uint8_t frame[] = {1, 2, 3};
  for (int i = 0; i < ScaledMs(1200) / 5; ++i) {  // beyond that device's keep-alive time-out
    dev2.PushFrame(1, 0, OCTC_FRAME_P, frame, sizeof frame, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(dev2.SessionCount(), 1u);
  EXPECT_EQ(rec.Locked([&] { return rec.conns.size(); }), 2 * std::size(rows) + 2);
  octc_close_conn(d);
}

using net::ReadResult;

TEST(OctFrameReader, IdleMalformedAndCutOffStreamsAreToldApart) {
  const auto good = wire::BuildMessage(wire::Type::kPing, 0, 1, {});
  const auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b, size_t keep = -1) {
    a.insert(a.end(), b.begin(), b.end());
    a.resize(std::min(keep, a.size()));
    return a;
  };
  auto bad = good;
  bad[0] ^= 0xFF;
  // A length above the maximum is refused before anything is allocated.
  const auto oversize = Header(wire::kMagic, 22, wire::kMaxPayload + 1);  // a notice
  const auto body = wire::BuildMessage(wire::Type::kNotice, 0, 0, std::vector<uint8_t>(10, 1));
  // What the peer writes, whether it then closes, and the reads that follow:
  // a stream ending inside a header or a body is an error, not a close.
  const std::tuple<std::vector<uint8_t>, bool, std::vector<ReadResult>> rows[] = {
      {{}, false, {ReadResult::kIdle}},
      {join(good, bad), false, {ReadResult::kFrame, ReadResult::kMalformed}},
      {oversize, false, {ReadResult::kMalformed}},
      {join(good, body, 5), true, {ReadResult::kError}},
      {join(good, body, good.size() + 3), true, {ReadResult::kFrame, ReadResult::kError}}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& [bytes, shut, reads] = rows[i];
    std::string error;
    const netio::Fd listener = netio::ListenTcp(netio::kLoopback, 0, &error);
    const netio::Fd out = netio::ConnectTcp("127.0.0.1", netio::LocalPort(listener.get()),
                                            ScaledMs(5000), ScaledMs(5000));
    const netio::Fd in = netio::Accept(listener.get());
    ASSERT_TRUE(out.valid() && in.valid()) << error;
    net::FrameReader reader;
    wire::Frame f;
    ASSERT_TRUE(netio::SendAll(out.get(), bytes.data(), bytes.size()));
    if (shut) netio::Shutdown(out.get());
    for (ReadResult expected : reads)
      EXPECT_EQ(reader.Read(in.get(), expected == ReadResult::kIdle ? 20 : 1000, f), expected) << i;
  }
}

}  // namespace
}  // namespace octc::test
