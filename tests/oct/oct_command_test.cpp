// The remote-configuration exchange, calls from inside callbacks, and the
// password procedures.
#include <atomic>
#include <cstring>
#include <thread>

#include "oct_fixture.h"

namespace octc::test {
namespace {

TEST_F(OctTest, RemoteConfigIsASynchronousExchange) {
  int32_t conn = ConnectOk();
  const char* text = "{\"method\":\"dev_get_info\",\"sentcnt\":7}";
  OctBuffer req{text, static_cast<int32_t>(std::strlen(text))};
  OctBuffer resp{};
  ASSERT_EQ(octc_cmd_remote_config(conn, 0, &req, &resp), 0);
  ASSERT_NE(resp.text, nullptr);
  std::string expected = std::string("{\"answer\":") + text + "}";
  EXPECT_EQ(std::string(resp.text, resp.length), expected);
  EXPECT_EQ(resp.text[resp.length], '\0');
  OctBuffer stale = resp;
  EXPECT_EQ(octc_cmd_free_remote_config_result(&resp), 0);
  EXPECT_EQ(resp.text, nullptr);
  EXPECT_EQ(octc_cmd_free_remote_config_result(&stale), OCTC_ERR_FAILED);
  dev->SetConfigRefused(true);
  EXPECT_EQ(octc_cmd_remote_config(conn, 0, &req, &resp), OCTC_ERR_REFUSED);
  dev->SetConfigRefused(false);

  // Several host threads at once on one link each get their own answer.
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      std::string t = std::to_string(i);
      OctBuffer q{t.c_str(), static_cast<int32_t>(t.size())};
      OctBuffer r{};
      if (octc_cmd_remote_config(conn, 0, &q, &r) == 0) {
        if (std::string(r.text, r.length) == "{\"answer\":" + t + "}") ++good;
        octc_cmd_free_remote_config_result(&r);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 8);

  // A slow device: the call times out instead of blocking for ever.
  ASSERT_EQ(octc_set_timeouts(0, 0, 300), 0);
  int32_t slow = ConnectOk();
  dev->SetAnswerDelay(Scaled(300) + 1500);
  OctDevInfo info{};
  EXPECT_EQ(octc_cmd_get_dev_info(slow, &info), OCTC_ERR_TIMEOUT);
  EXPECT_EQ(octc_cmd_remote_config(slow, 0, &req, &resp), OCTC_ERR_TIMEOUT);
  dev->SetAnswerDelay(0);
}

TEST_F(OctTest, CallbacksMayCallBackIntoTheLibrary) {
  // Inside the connection callback: a synchronous command on the same link,
  // a stream open, and finally closing the link from its own thread.
  std::atomic<int32_t> info_result{1};
  rec.on_conn = [&](const ConnEvent& e) {
    if (e.event != OCTC_CONN_RESULT || e.result != 0) return;
    OctDevInfo info{};
    info_result = octc_cmd_get_dev_info(e.conn, &info);
    octc_cmd_free_dev_info(&info);
    octc_stream_open(e.conn, 1, 0, 0, 1);
  };
  int32_t conn = ConnectOk();
  WaitState(1);
  EXPECT_EQ(info_result.load(), 0);
  rec.Locked([&] { rec.on_conn = nullptr; });

  // From a stream callback: close the whole connection.
  octc_stream_init_module([](int32_t c, int32_t, int32_t, int32_t) { octc_close_conn(c); },
                          [](int32_t, int32_t, int32_t, const void*) {});
  octc_stream_open(conn, 1, 0, 0, 1);
  EXPECT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 0; }));
  EXPECT_EQ(octc_cmd_get_dev_info(conn, nullptr), OCTC_ERR_FAILED);
  // The link closed from its own thread is joined by the release (tear-down
  // checks that no thread is left).
}

int32_t Xor(const uint8_t* in, int32_t length, uint8_t* out, int32_t capacity) {
  if (length < 0 || capacity < length) return -1;
  for (int32_t i = 0; i < length; ++i) out[i] = in[i] ^ 0x5A;
  return length;
}

TEST_F(OctTest, PasswordsPassThroughTheConfiguredProcedures) {
  const uint8_t in[] = {1, 2, 3, 4, 5};
  uint8_t out[4] = {};
  EXPECT_EQ(octc_default_encrypt_proc(in, 4, out, 4), 4);
  EXPECT_EQ(std::memcmp(in, out, 4), 0);
  EXPECT_EQ(octc_default_encrypt_proc(in, 5, out, 4), OCTC_ERR_FAILED);
  EXPECT_EQ(octc_default_decrypt_proc(in, 0, nullptr, 0), 0);

  // Sealed and unsealed by a real transform: the login still works.
  ASSERT_EQ(octc_encrypt_config(Xor, Xor), 0);
  ConnectOk();
  // Unsealed by the wrong procedure: the device sees other bytes and refuses.
  ASSERT_EQ(octc_encrypt_config(Xor, octc_default_decrypt_proc), 0);
  octc_connect_by_hostname("127.0.0.1", dev->port(), "admin", "s3cret", 0, 0, 0);
  EXPECT_EQ(WaitConn(2).result, OCTC_ERR_AUTH);
  EXPECT_EQ(octc_encrypt_config(Xor, nullptr), OCTC_ERR_FAILED);
  octc_encrypt_config(octc_default_encrypt_proc, octc_default_decrypt_proc);
}

}  // namespace
}  // namespace octc::test
