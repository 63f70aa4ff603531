// One link at work: streams opened while pictures flow, talk, remote configuration, re-entry.
#include <atomic>
#include <cstring>

#include "oct_fixture.h"

namespace octc::test {
namespace {

// Pictures pushed while streams open never overtake a new stream's open result and media info.
TEST_F(OctTest, StreamsOpenedDuringPushesStartWithTheirMediaInformation) {
  dev->SetMediaInfo(1, 0, OctMedia());
  const int32_t conn = ConnectOk();
  std::atomic<bool> stop{false};
  const uint8_t p[] = {0, 0, 0, 1, 0x41, 9};
  std::thread pusher([&] {
    while (!stop) {  // paced lightly, so that a slow (instrumented) client keeps up
      dev->PushFrame(1, 0, OCTC_FRAME_P, p, sizeof p, 0);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  std::vector<int32_t> handles;
  for (size_t i = 1; i <= 20; ++i) {
    handles.push_back(octc_stream_open(conn, 1, 0, 0, 1));
    EXPECT_GT(handles.back(), 0);
    EXPECT_EQ(WaitState(i).Key(), std::tuple('s', handles.back(), OCTC_STATE_RESULT, 0));
  }
  stop = true;
  pusher.join();
  rec.Locked([&] {
    for (int32_t h : handles) {
      const auto first = std::ranges::find(rec.data, h, &DataEvent::handle);
      EXPECT_TRUE(first == rec.data.end() || first->kind == OCTC_DATA_MEDIA_INFO) << h;
    }
  });
  // The device closes them all: each is told, and takes no frames now.
  EXPECT_EQ(dev->CloseStreams(1, 0), 20);
  ASSERT_TRUE(rec.WaitFor([&] {
    return std::ranges::count(rec.states, OCTC_STATE_CLOSED, &StateEvent::status) == 20;
  }));
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_P, p, sizeof p, 0), 0);
  EXPECT_EQ(octc_stream_close(conn, handles[0]), OCTC_ERR_FAILED);
}

TEST_F(OctTest, TalkAndRemoteConfigOnOneLink) {
  const int32_t conn = ConnectOk(), t = octc_chat_open(conn);
  EXPECT_EQ(WaitState(1).result, 0);
  // The timestamp's halves arrive as one 64-bit value.
  const uint8_t pcm[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(octc_chat_write(conn, t, pcm, sizeof pcm, 0x89ABCDEFu, 0x1u), 0);
  ASSERT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.talk_data.size(); }); }));
  EXPECT_EQ(handler.Locked([&] { return handler.talk_data; }),
            (decltype(handler.talk_data){{{1, 2, 3, 4, 5}, 0x189ABCDEFull}}));
  const device::SubRef ref = WaitSub(handler.talks, 1);
  ASSERT_TRUE(dev->TalkAudio(ref, pcm, 3));
  ASSERT_TRUE(rec.WaitFor([&] { return !rec.data.empty(); }));
  EXPECT_EQ(rec.Locked([&] { return rec.data[0].bytes; }), std::vector<uint8_t>(pcm, pcm + 3));
  // Ended by the device; refused (the refusal is the result); closed by the host (device told).
  ASSERT_TRUE(dev->EndTalk(ref));
  EXPECT_EQ(WaitState(2).status, OCTC_STATE_CLOSED);
  EXPECT_EQ(octc_chat_write(conn, t, pcm, sizeof pcm, 0, 0), OCTC_ERR_FAILED);
  handler.Locked([&] { handler.talk_answer = OCTC_ERR_REFUSED; });
  octc_chat_open(conn);
  EXPECT_EQ(WaitState(3).result, OCTC_ERR_REFUSED);
  handler.Locked([&] { handler.talk_answer = 0; });
  const int32_t t3 = octc_chat_open(conn);
  WaitState(4);
  EXPECT_EQ(octc_chat_close(conn, t3), 0);
  EXPECT_TRUE(rec.WaitFor([&] { return handler.Locked([&] { return handler.closed; }) >= 1; }));

  const char* text = "{\"method\":\"dev_get_info\",\"sentcnt\":7}";
  OctBuffer req{text, static_cast<int32_t>(std::strlen(text))};
  OctBuffer resp{};
  ASSERT_EQ(octc_cmd_remote_config(conn, 0, &req, &resp), 0);
  EXPECT_EQ(std::string(resp.text, resp.length), std::string("{\"answer\":") + text + "}");
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
      const std::string t = std::to_string(i);
      OctBuffer q{t.c_str(), static_cast<int32_t>(t.size())}, r{};
      if (octc_cmd_remote_config(conn, 0, &q, &r) == 0) {
        good += std::string(r.text, r.length) == "{\"answer\":" + t + "}";
        octc_cmd_free_remote_config_result(&r);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 8);

  // A slow device: the call times out instead of blocking for ever.
  ASSERT_EQ(octc_set_timeouts(0, 0, 300), 0);
  const int32_t slow = ConnectOk();
  dev->SetAnswerDelay(ScaledMs(300) + 1500);
  OctDevInfo info{};
  EXPECT_EQ(octc_cmd_get_dev_info(slow, &info), OCTC_ERR_TIMEOUT);
  EXPECT_EQ(octc_cmd_remote_config(slow, 0, &req, &resp), OCTC_ERR_TIMEOUT);
  dev->SetAnswerDelay(0);
}

TEST_F(OctTest, CallbacksMayCallBackIntoTheLibrary) {
  // Inside the connection callback: a synchronous command on the same link and a stream open.
  std::atomic<int32_t> infoResult{1};
  rec.on_conn = [&](const ConnEvent& e) {
    OctDevInfo info{};
    infoResult = octc_cmd_get_dev_info(e.conn, &info);
    octc_cmd_free_dev_info(&info);
    octc_stream_open(e.conn, 1, 0, 0, 1);
  };
  const int32_t conn = ConnectOk();
  WaitState(1);
  EXPECT_EQ(infoResult.load(), 0);
  rec.Locked([&] { rec.on_conn = nullptr; });
  // A stream callback closes the connection; the release joins its thread (tear-down counts).
  octc_stream_init_module([](int32_t c, int32_t, int32_t, int32_t) { octc_close_conn(c); },
                          [](int32_t, int32_t, int32_t, const void*) {});
  octc_stream_open(conn, 1, 0, 0, 1);
  EXPECT_TRUE(rec.WaitFor([&] { return dev->SessionCount() == 0; }));
  OctDevInfo info{};
  EXPECT_EQ(octc_cmd_get_dev_info(conn, &info), OCTC_ERR_FAILED);
}

}  // namespace
}  // namespace octc::test
