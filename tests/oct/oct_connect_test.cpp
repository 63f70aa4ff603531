// Connecting by address and by cloud number, the refusals and their results,
// device information and the online status.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "oct_fixture.h"

namespace octc::test {
namespace {

TEST_F(OctTest, ConnectByAddressReportsDeviceInformation) {
  int32_t conn = ConnectOk();
  ConnEvent e = WaitConn(1);
  ASSERT_TRUE(e.has_info);
  EXPECT_EQ(e.device_id, config.device_id);
  EXPECT_EQ(e.name, config.name);
  EXPECT_EQ(e.version, config.version);
  EXPECT_EQ(e.channel_count, 2);

  OctDevInfo info{};
  ASSERT_EQ(octc_cmd_get_dev_info(conn, &info), 0);
  ASSERT_NE(info.device_id, nullptr);
  EXPECT_STREQ(info.device_id, config.device_id.c_str());
  EXPECT_STREQ(info.name, config.name.c_str());
  EXPECT_STREQ(info.version, config.version.c_str());
  EXPECT_EQ(info.device_type, config.device_type);
  EXPECT_EQ(info.stream_count, config.stream_count);
  EXPECT_EQ(info.client_limit, config.client_limit);
  OctDevInfo copy = info;
  EXPECT_EQ(octc_cmd_free_dev_info(&info), 0);
  EXPECT_EQ(info.device_id, nullptr);
  // Freeing again, or through a stale copy, is refused rather than crashing.
  EXPECT_EQ(octc_cmd_free_dev_info(&info), OCTC_ERR_FAILED);
  EXPECT_EQ(octc_cmd_free_dev_info(&copy), OCTC_ERR_FAILED);

  EXPECT_EQ(octc_close_conn(conn), 0);
  EXPECT_EQ(octc_close_conn(conn), OCTC_ERR_FAILED);
  EXPECT_EQ(octc_cmd_get_dev_info(conn, &info), OCTC_ERR_FAILED);
  // A close requested by the host reports nothing more.
  EXPECT_FALSE(rec.WaitFor([&] { return rec.conns.size() > 1; }, 200));
  EXPECT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 0; }));
}

TEST_F(OctTest, RefusalsCarryTheirResults) {
  // Wrong password: -10 through the connection callback, with no information.
  int32_t bad = octc_connect_by_hostname("127.0.0.1", dev->port(), "admin", "wrong", 0, 0, 0);
  ASSERT_GT(bad, 0);
  ConnEvent e = WaitConn(1);
  EXPECT_EQ(e.conn, bad);
  EXPECT_EQ(e.event, OCTC_CONN_RESULT);
  EXPECT_EQ(e.result, OCTC_ERR_AUTH);
  EXPECT_FALSE(e.has_info);
  // Wrong user with the right password is refused the same way.
  octc_connect_by_hostname("127.0.0.1", dev->port(), "guest", "s3cret", 0, 0, 0);
  EXPECT_EQ(WaitConn(2).result, OCTC_ERR_AUTH);

  // Client limit: the second login beyond a limit of one gets -34.
  dev->SetClientLimit(1);
  int32_t first = ConnectOk();
  octc_connect_by_hostname("127.0.0.1", dev->port(), "admin", "s3cret", 0, 0, 0);
  EXPECT_EQ(WaitConn(4).result, OCTC_ERR_CLIENT_LIMIT);

  // No such channel: the stream open result is -36 and the handle is gone.
  int32_t h = octc_stream_open(first, 7, 0, 0, 1);
  ASSERT_GT(h, 0);
  ASSERT_TRUE(WaitStates(1));
  StateEvent s = rec.Locked([&] { return rec.states[0]; });
  EXPECT_EQ(s.handle, h);
  EXPECT_EQ(s.status, OCTC_STATE_RESULT);
  EXPECT_EQ(s.result, OCTC_ERR_NO_CHANNEL);
  EXPECT_EQ(octc_stream_insert_keyframe(first, h), OCTC_ERR_FAILED);
  // A stream index beyond the device's streams is refused the same way.
  octc_stream_open(first, 1, 5, 0, 1);
  ASSERT_TRUE(WaitStates(2));
  EXPECT_EQ(rec.Locked([&] { return rec.states[1].result; }), OCTC_ERR_NO_CHANNEL);

  // Nothing listening: a failed connect result, not a crash or a hang.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  int closed_port = ntohs(sa.sin_port);
  ::close(fd);
  octc_connect_by_hostname("127.0.0.1", closed_port, "admin", "s3cret", 0, 0, 0);
  EXPECT_EQ(WaitConn(5).result, OCTC_ERR_UNREACHABLE);

  // Arguments the library cannot use are refused at once.
  EXPECT_LT(octc_connect_by_hostname(nullptr, 1, "a", "b", 0, 0, 0), 0);
  EXPECT_LT(octc_connect_by_hostname("127.0.0.1", 0, "a", "b", 0, 0, 0), 0);
  EXPECT_LT(octc_connect_by_nimbus("", "a", "b", 0, 0), 0);
}

TEST_F(OctTest, ConnectByCloudNumberAndOnlineStatusUseTheDirectory) {
  device::DirectoryServer dir;
  ASSERT_TRUE(dir.Start());
  ASSERT_EQ(octc_set_directory("127.0.0.1", dir.port()), 0);
  ASSERT_TRUE(dev->RegisterWithDirectory("127.0.0.1", dir.port()));
  ASSERT_TRUE(rec.WaitFor([&] { return dir.RegisteredCount() == 1; }));

  int32_t conn = octc_connect_by_nimbus(config.device_id.c_str(), "admin", "s3cret", 0, 0);
  ASSERT_GT(conn, 0);
  ConnEvent e = WaitConn(1);
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(e.device_id, config.device_id);

  octc_connect_by_nimbus("999000999", "admin", "s3cret", 0, 0);
  EXPECT_EQ(WaitConn(2).result, OCTC_ERR_UNREACHABLE);

  const char* numbers[] = {config.device_id.c_str(), "999000999"};
  OctOnlineStatus* status = nullptr;
  ASSERT_EQ(octc_get_dev_online_status(2, numbers, &status), 1);
  ASSERT_NE(status, nullptr);
  EXPECT_STREQ(status[0].number, config.device_id.c_str());
  EXPECT_EQ(status[0].online, 1);
  EXPECT_EQ(status[0].port, dev->port());
  EXPECT_STREQ(status[1].number, "999000999");
  EXPECT_EQ(status[1].online, 0);
  EXPECT_EQ(octc_free_dev_online_status(status), 0);
  EXPECT_EQ(octc_free_dev_online_status(status), OCTC_ERR_FAILED);

  // Unregistered: offline for the status query.
  dev->UnregisterFromDirectory();
  ASSERT_TRUE(rec.WaitFor([&] { return dir.RegisteredCount() == 0; }));
  ASSERT_EQ(octc_get_dev_online_status(1, numbers, &status), 0);
  EXPECT_EQ(status[0].online, 0);
  EXPECT_EQ(octc_free_dev_online_status(status), 0);

  // Directory down: connects by number fail, the status query fails with
  // nothing to free.
  dir.Stop();
  octc_connect_by_nimbus(config.device_id.c_str(), "admin", "s3cret", 0, 0);
  EXPECT_EQ(WaitConn(3).result, OCTC_ERR_UNREACHABLE);
  status = nullptr;
  EXPECT_LT(octc_get_dev_online_status(1, numbers, &status), 0);
  EXPECT_EQ(status, nullptr);
  EXPECT_EQ(octc_set_directory("not an address", 1), OCTC_ERR_FAILED);
  octc_set_directory("127.0.0.1", 29800);
}

}  // namespace
}  // namespace octc::test
