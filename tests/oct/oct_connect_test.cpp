// Connects by address and cloud number, refusals and their results, online status, refused calls.

#include "netio/address.h"
#include "netio/socket.h"
#include "oct_fixture.h"

namespace octc::test {
namespace {

void NoSearch(int32_t, const OctSearchInfo*) {}

TEST_F(OctTest, RefusalsCarryTheirResults) {
  dev->SetClientLimit(1);
  const int32_t first = ConnectOk();
  // A loopback port where nothing listens: the listener is gone at once.
  std::string error;
  const int closed = netio::LocalPort(netio::ListenTcp(netio::kLoopback, 0, &error).get());
  // A refused login (user, password, port) is reported with its result, no device information.
  const std::tuple<const char*, const char*, int32_t, int32_t> logins[] = {
      {"admin", "wrong", dev->port(), OCTC_ERR_AUTH},
      {"guest", "s3cret", dev->port(), OCTC_ERR_AUTH},
      {"admin", "s3cret", dev->port(), OCTC_ERR_CLIENT_LIMIT},
      {"admin", "s3cret", closed, OCTC_ERR_UNREACHABLE}};
  for (size_t i = 0; i < std::size(logins); ++i) {
    SCOPED_TRACE(i);
    const auto& [user, password, port, result] = logins[i];
    const int32_t conn = octc_connect_by_hostname("127.0.0.1", port, user, password, 0, 0, 0);
    ASSERT_GT(conn, 0);
    const ConnEvent e = WaitConn(i + 2);
    EXPECT_EQ(e.Key(), std::tuple(conn, OCTC_CONN_RESULT, result));
    EXPECT_FALSE(e.has_info);
  }
  // A channel or stream the device does not have: the open result is -36 and the handle is gone.
  size_t n = 0;
  for (const auto& [channel, stream] : {std::pair{7, 0}, std::pair{1, 5}}) {
    const int32_t h = octc_stream_open(first, channel, stream, 0, 1);
    ASSERT_GT(h, 0);
    EXPECT_EQ(WaitState(++n).Key(), std::tuple('s', h, OCTC_STATE_RESULT, OCTC_ERR_NO_CHANNEL));
    EXPECT_EQ(octc_stream_insert_keyframe(first, h), OCTC_ERR_FAILED);
  }
  OctRecQuery query{9, {}, {}};
  OctRecList list{};
  EXPECT_EQ(octc_cmd_get_rec_file_list(first, &query, &list), OCTC_ERR_NO_CHANNEL);
}

TEST_F(OctTest, ConnectByCloudNumberAndOnlineStatusUseTheDirectory) {
  device::DirectoryServer dir;
  ASSERT_TRUE(dir.Start());
  ASSERT_EQ(octc_set_directory("127.0.0.1", dir.port()), 0);
  ASSERT_TRUE(dev->RegisterWithDirectory("127.0.0.1", dir.port()));
  ASSERT_TRUE(rec.WaitFor([&] { return dir.RegisteredCount() == 1; }));

  ASSERT_GT(octc_connect_by_nimbus(config.device_id.c_str(), "admin", "s3cret", 0, 0), 0);
  EXPECT_EQ(std::tuple(WaitConn(1).result, WaitConn(1).device_id), std::tuple(0, config.device_id));
  octc_connect_by_nimbus("999000999", "admin", "s3cret", 0, 0);
  EXPECT_EQ(WaitConn(2).result, OCTC_ERR_UNREACHABLE);

  const char* numbers[] = {config.device_id.c_str(), "999000999"};
  OctOnlineStatus* status = nullptr;
  ASSERT_EQ(octc_get_dev_online_status(2, numbers, &status), 1);
  ASSERT_NE(status, nullptr);
  const auto entry = [&](int i) {
    return std::tuple(std::string(status[i].number), status[i].online, status[i].port);
  };
  EXPECT_EQ(entry(0), std::tuple(config.device_id, 1, dev->port()));
  EXPECT_EQ(entry(1), std::tuple("999000999", 0, 0));
  EXPECT_EQ(octc_free_dev_online_status(status), 0);
  EXPECT_EQ(octc_free_dev_online_status(status), OCTC_ERR_FAILED);

  // Unregistered: offline for the status query.
  dev->UnregisterFromDirectory();
  ASSERT_TRUE(rec.WaitFor([&] { return dir.RegisteredCount() == 0; }));
  ASSERT_EQ(octc_get_dev_online_status(1, numbers, &status), 0);
  EXPECT_EQ(status[0].online, 0);
  EXPECT_EQ(octc_free_dev_online_status(status), 0);

  // Directory down: connects by number fail, the status query fails with nothing to free.
  dir.Stop();
  octc_connect_by_nimbus(config.device_id.c_str(), "admin", "s3cret", 0, 0);
  EXPECT_EQ(WaitConn(3).result, OCTC_ERR_UNREACHABLE);
  status = nullptr;
  EXPECT_LT(octc_get_dev_online_status(1, numbers, &status), 0);
  EXPECT_EQ(status, nullptr);
  octc_set_directory("127.0.0.1", 29800);
}

// Every call with something it cannot use (an unknown connection or sub-handle, a missing pointer,
// a value out of range) is refused with -1 at once; the last value in range next to it is taken.
TEST_F(OctTest, EveryCallRefusesWhatItCannotUse) {
  const int32_t c = ConnectOk(), bad = c + 1000;
  const int32_t vod = octc_vod_open(c, "/rec/a.mp4", 0);
  const int32_t talk = octc_chat_open(c);
  for (auto* list : {&handler.playbacks, &handler.talks}) WaitSub(*list, 1);
  const uint8_t bytes[4] = {};
  OctDevInfo info{};
  OctRecQuery query{1, {}, {}};
  OctRecList list{};
  OctBuffer request{"{}", 2}, response{};
  const char* numbers[] = {"1"};
  OctOnlineStatus* status = nullptr;
  const std::pair<const char*, std::function<int32_t()>> refused[] = {
      {"close_conn", [&] { return octc_close_conn(bad); }},
      {"get_dev_info conn", [&] { return octc_cmd_get_dev_info(bad, &info); }},
      {"get_dev_info info", [&] { return octc_cmd_get_dev_info(c, nullptr); }},
      {"stream_open", [&] { return octc_stream_open(bad, 1, 0, 0, 1); }},
      {"stream_close", [&] { return octc_stream_close(c, vod); }},
      {"insert_keyframe", [&] { return octc_stream_insert_keyframe(c, talk); }},
      {"chat_open", [&] { return octc_chat_open(bad); }},
      {"chat_close", [&] { return octc_chat_close(c, vod); }},
      {"chat_write handle", [&] { return octc_chat_write(c, vod, bytes, 4, 0, 0); }},
      {"chat_write data", [&] { return octc_chat_write(c, talk, nullptr, 4, 0, 0); }},
      {"chat_write size", [&] { return octc_chat_write(c, talk, bytes, -1, 0, 0); }},
      {"rec list conn", [&] { return octc_cmd_get_rec_file_list(bad, &query, &list); }},
      {"rec list query", [&] { return octc_cmd_get_rec_file_list(c, nullptr, &list); }},
      {"rec list list", [&] { return octc_cmd_get_rec_file_list(c, &query, nullptr); }},
      {"vod_open conn", [&] { return octc_vod_open(bad, "/rec/a.mp4", 0); }},
      {"vod_open path", [&] { return octc_vod_open(c, nullptr, 0); }},
      {"vod_close", [&] { return octc_vod_close(c, talk); }},
      {"set_speed handle", [&] { return octc_vod_set_speed(c, talk, 1); }},
      {"set_speed 3", [&] { return octc_vod_set_speed(c, vod, 3); }},
      {"set_speed 32", [&] { return octc_vod_set_speed(c, vod, 32); }},
      {"skip_to -1", [&] { return octc_vod_skip_to(c, vod, -1); }},
      {"skip_to handle", [&] { return octc_vod_skip_to(c, talk, 0); }},
      {"down_open conn", [&] { return octc_down_open(bad, "/rec/a.mp4", 0); }},
      {"down_open path", [&] { return octc_down_open(c, nullptr, 0); }},
      {"down_close", [&] { return octc_down_close(c, vod); }},
      {"send_notify conn", [&] { return octc_cmd_send_notify(bad, 1029, bytes, 4); }},
      {"send_notify data", [&] { return octc_cmd_send_notify(c, 1029, nullptr, 3); }},
      {"remote_config conn", [&] { return octc_cmd_remote_config(bad, 0, &request, &response); }},
      {"remote_config request", [&] { return octc_cmd_remote_config(c, 0, nullptr, &response); }},
      {"remote_config response", [&] { return octc_cmd_remote_config(c, 0, &request, nullptr); }},
      {"connect host", [] { return octc_connect_by_hostname(nullptr, 1, "a", "b", 0, 0, 0); }},
      {"port 0", [] { return octc_connect_by_hostname("127.0.0.1", 0, "a", "b", 0, 0, 0); }},
      {"65536", [] { return octc_connect_by_hostname("127.0.0.1", 65536, "a", "b", 0, 0, 0); }},
      {"connect number", [] { return octc_connect_by_nimbus("", "a", "b", 0, 0); }},
      {"online count 0", [&] { return octc_get_dev_online_status(0, numbers, &status); }},
      {"online numbers", [&] { return octc_get_dev_online_status(1, nullptr, &status); }},
      {"set_directory", [] { return octc_set_directory("not an address", 1); }},
      {"set_directory port", [] { return octc_set_directory("127.0.0.1", 65536); }},
      {"set_timeouts", [] { return octc_set_timeouts(-1, 0, 0); }},
      {"set_timeouts order", [] { return octc_set_timeouts(500, 500, 0); }},
      {"search local port", [] { return octc_start_search_device_service(65536, 1, 0, NoSearch); }},
      {"search remote port", [] { return octc_start_search_device_service(0, 0, 0, NoSearch); }},
  };
  for (const auto& [call, fn] : refused) EXPECT_EQ(fn(), OCTC_ERR_FAILED) << call;

  // Every speed of the SDK's table is taken, and the ends of the ranges.
  for (int32_t speed : {-16, -8, -4, -2, 0, 1, 2, 4, 8, 16})
    EXPECT_EQ(octc_vod_set_speed(c, vod, speed), 0) << speed;
  EXPECT_EQ(handler.Locked([&] { return handler.speeds.size(); }), 10u);
  EXPECT_EQ(octc_vod_skip_to(c, vod, 0), 0);
  EXPECT_EQ(octc_chat_write(c, talk, nullptr, 0, 0, 0), 0);
  EXPECT_EQ(octc_set_directory("127.0.0.1", 65535), 0);
  octc_set_directory("127.0.0.1", 29800);
  const int32_t far = octc_connect_by_hostname("127.0.0.1", 65535, "a", "b", 0, 0, 0);
  EXPECT_GT(far, 0);
  EXPECT_EQ(WaitConn(2).conn, far);  // a connect, whatever its result
  EXPECT_EQ(octc_set_timeouts(500, 501, 0), 0);
  octc_set_timeouts(2000, 10000, 0);
}

}  // namespace
}  // namespace octc::test
