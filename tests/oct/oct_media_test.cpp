// Live streams opened while pictures flow, and talk. (Streams, playback
// and downloads end to end are proven through the SDK over the simulator.)
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "oct_fixture.h"

namespace octc::test {
namespace {

// Pictures pushed while streams open never overtake a stream's open result
// and media information: a new viewer always learns the stream first.
TEST_F(OctTest, StreamsOpenedDuringPushesStartWithTheirMediaInformation) {
  dev->SetMediaInfo(1, 0, OctMedia());
  int32_t conn = ConnectOk();
  std::atomic<bool> stop{false};
  std::thread pusher([&] {
    const uint8_t p[] = {0, 0, 0, 1, 0x41, 9};
    // Paced lightly, so that a slow (instrumented) client is not flooded.
    while (!stop) {
      dev->PushFrame(1, 0, OCTC_FRAME_P, p, sizeof p, 0);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  std::vector<int32_t> handles;
  for (int i = 0; i < 20; ++i) handles.push_back(OpenStream(conn));
  stop = true;
  pusher.join();
  rec.Locked([&] {
    for (int32_t h : handles) {
      auto first = std::find_if(rec.data.begin(), rec.data.end(),
                                [h](const DataEvent& e) { return e.handle == h; });
      if (first == rec.data.end()) continue;  // no picture reached it before the end
      EXPECT_EQ(first->kind, OCTC_DATA_MEDIA_INFO) << "handle " << h;
    }
  });
  // The device closes them all: each is told, and takes no frames now.
  EXPECT_EQ(dev->CloseStreams(1, 0), 20);
  ASSERT_TRUE(rec.WaitFor([&] {
    return std::count_if(rec.states.begin(), rec.states.end(),
                         [](const StateEvent& e) { return e.status == OCTC_STATE_CLOSED; }) == 20;
  }));
  const uint8_t p[] = {1};
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_P, p, sizeof p, 0), 0);
  EXPECT_EQ(octc_stream_close(conn, handles[0]), OCTC_ERR_FAILED);
}

TEST_F(OctTest, TalkOpensCarriesAudioBothWaysAndEnds) {
  int32_t conn = ConnectOk();
  int32_t t = octc_chat_open(conn);
  ASSERT_GT(t, 0);
  StateEvent s = WaitState(1);
  EXPECT_EQ(s.module, 'c');
  EXPECT_EQ(s.handle, t);
  EXPECT_EQ(s.result, 0);
  // The timestamp's halves arrive as one 64-bit value.
  const uint8_t pcm[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(octc_chat_write(conn, t, pcm, sizeof pcm, 0x89ABCDEFu, 0x1u), 0);
  ASSERT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.talk_data.size(); }) == 1; }));
  EXPECT_EQ(handler.Locked([&] { return handler.talk_data[0]; }),
            std::vector<uint8_t>(pcm, pcm + 5));
  EXPECT_EQ(handler.Locked([&] { return handler.talk_timestamps[0]; }), 0x189ABCDEFull);
  device::SubRef ref = WaitSub(handler.talks, 1);
  ASSERT_TRUE(dev->TalkAudio(ref, pcm, 3));
  ASSERT_TRUE(rec.WaitFor([&] { return !rec.data.empty(); }));
  EXPECT_EQ(rec.Locked([&] { return rec.data[0].bytes; }), std::vector<uint8_t>(pcm, pcm + 3));

  // Ended by the device; refused by the device (the refusal is the
  // result); closed by the host (the device hears of it).
  ASSERT_TRUE(dev->EndTalk(ref));
  EXPECT_EQ(WaitState(2).status, OCTC_STATE_CLOSED);
  EXPECT_EQ(octc_chat_write(conn, t, pcm, sizeof pcm, 0, 0), OCTC_ERR_FAILED);
  handler.Locked([&] { handler.talk_answer = OCTC_ERR_REFUSED; });
  int32_t t2 = octc_chat_open(conn);
  s = WaitState(3);
  EXPECT_EQ(s.handle, t2);
  EXPECT_EQ(s.result, OCTC_ERR_REFUSED);
  handler.Locked([&] { handler.talk_answer = 0; });
  int32_t t3 = octc_chat_open(conn);
  WaitState(4);
  EXPECT_EQ(octc_chat_close(conn, t3), 0);
  EXPECT_TRUE(rec.WaitFor([&] { return handler.Locked([&] { return handler.closed; }) >= 1; }));
}

}  // namespace
}  // namespace octc::test
