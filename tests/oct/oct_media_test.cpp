// Live streams, playback, download and talk over one connection.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "oct_fixture.h"

namespace octc::test {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) {
  return b;
}

TEST_F(OctTest, LiveStreamDeliversMediaInfoFramesAudioAndKeyFrameRequests) {
  dev->SetMediaInfo(1, 0, OctMedia());
  int32_t conn = ConnectOk();
  int32_t h = OpenStream(conn);
  WaitSub(handler.streams, 1);  // recorded after the media information went out
  const auto key = Bytes({0, 0, 0, 1, 0x65, 1, 2, 3}), p = Bytes({0, 0, 0, 1, 0x41, 9}),
             audio = Bytes({0xD5, 0xD5, 0x55});
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_KEY, key.data(), key.size(), 40), 1);
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_P, p.data(), p.size(), 80), 1);
  EXPECT_EQ(dev->PushAudio(1, 0, audio.data(), audio.size(), 81), 1);
  EXPECT_EQ(dev->PushFrame(2, 0, OCTC_FRAME_KEY, key.data(), key.size(), 0), 0);  // nobody on 2
  ASSERT_TRUE(rec.WaitFor([&] { return rec.data.size() >= 4; }));
  const OctMediaInfo media = OctMedia();
  rec.Locked([&] {
    EXPECT_EQ(rec.data[0].handle, h);
    EXPECT_EQ(rec.data[0].kind, OCTC_DATA_MEDIA_INFO);
    EXPECT_EQ(std::memcmp(&rec.data[0].media, &media, sizeof media), 0);
    const struct {
      int32_t kind, type;
      const std::vector<uint8_t>& bytes;
      uint32_t timestamp;
    } expected[] = {{OCTC_DATA_VIDEO, OCTC_FRAME_KEY, key, 40},
                    {OCTC_DATA_VIDEO, OCTC_FRAME_P, p, 80},
                    {OCTC_DATA_AUDIO, 0, audio, 81}};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rec.data[i + 1].kind, expected[i].kind) << i;
      EXPECT_EQ(rec.data[i + 1].type, expected[i].type) << i;
      EXPECT_EQ(rec.data[i + 1].bytes, expected[i].bytes) << i;
      EXPECT_EQ(rec.data[i + 1].timestamp, expected[i].timestamp) << i;
    }
  });
  // Key-frame requests are synchronous: the device's answer is the result.
  EXPECT_EQ(octc_stream_insert_keyframe(conn, h), 1);
  EXPECT_EQ(octc_stream_insert_keyframe(conn, h), 2);

  // The device closes the stream: state "closed", and no more frames arrive.
  EXPECT_EQ(dev->CloseStreams(1, 0), 1);
  const StateEvent s = WaitState(2);
  EXPECT_EQ(s.handle, h);
  EXPECT_EQ(s.status, OCTC_STATE_CLOSED);
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_KEY, key.data(), key.size(), 0), 0);
  EXPECT_EQ(octc_stream_close(conn, h), OCTC_ERR_FAILED);

  // A stream the host closes stops its data at once.
  int32_t h2 = OpenStream(conn);
  EXPECT_EQ(octc_stream_close(conn, h2), 0);
  size_t frames = rec.Locked([&] { return rec.data.size(); });
  dev->PushFrame(1, 0, OCTC_FRAME_KEY, key.data(), key.size(), 0);
  EXPECT_FALSE(rec.WaitFor([&] { return rec.data.size() > frames + 1; }, 200));
  rec.Locked([&] {
    for (size_t i = frames; i < rec.data.size(); ++i) EXPECT_NE(rec.data[i].kind, OCTC_DATA_VIDEO);
  });
}

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
}

TEST_F(OctTest, RecordListPlaybackAndDownloadEnds) {
  int32_t conn = ConnectOk();
  device::RecordEntry a;
  a.name = "0930.mp4";
  a.path = "/rec/2026-12-05/0930.mp4";
  a.hour = 9;
  a.minute = 30;
  a.second = 15;
  a.size = 5000000000ull;
  handler.Locked([&] { handler.records = {a, a}; });
  OctRecQuery q{1, {2026, 12, 5, 0, 0, 0, 0}, {2026, 12, 5, 23, 59, 59, 999}};
  OctRecList list{};
  ASSERT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), 0);
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list.items[0].name, "0930.mp4");
  EXPECT_STREQ(list.items[0].path, a.path.c_str());
  EXPECT_EQ(list.items[0].hour, 9);
  EXPECT_EQ(list.items[0].minute, 30);
  EXPECT_EQ(list.items[0].second, 15);
  EXPECT_EQ(list.items[0].size_high, 1u);  // 5e9 needs more than 32 bits
  const OctRecQuery seen = handler.Locked([&] { return handler.last_query; });
  EXPECT_EQ(std::memcmp(&seen, &q, sizeof q), 0);
  EXPECT_EQ(octc_cmd_free_rec_file_list_result(&list), 0);
  EXPECT_EQ(octc_cmd_free_rec_file_list_result(&list), OCTC_ERR_FAILED);
  q.channel = 9;  // a channel the device does not have
  EXPECT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), OCTC_ERR_NO_CHANNEL);

  // Playback: media information and frames, then the device's ends.
  int32_t v = octc_vod_open(conn, a.path.c_str(), 0);
  ASSERT_GT(v, 0);
  device::SubRef ref = WaitSub(handler.playbacks, 1);
  ASSERT_TRUE(dev->PlaybackMediaInfo(ref, OctMedia(600000)));
  const uint8_t key[] = {0, 0, 0, 1, 0x65};
  ASSERT_TRUE(dev->PlaybackFrame(ref, OCTC_FRAME_KEY, key, sizeof key, 0));
  ASSERT_TRUE(rec.WaitFor([&] { return rec.data.size() >= 2; }));
  rec.Locked([&] {
    EXPECT_EQ(rec.data[0].module, 'v');
    EXPECT_EQ(rec.data[0].media.duration_ms, 600000);
    EXPECT_EQ(rec.data[1].type, OCTC_FRAME_KEY);
  });
  EXPECT_EQ(octc_vod_skip_to(conn, v, 5000), 0);
  EXPECT_EQ(handler.Locked([&] { return handler.skips; }), std::vector<int32_t>{5000});
  // The end of the recording (status 0, flag 0) keeps the handle; a close
  // by the device (status 1) takes it; an unknown recording fails (flag).
  ASSERT_TRUE(dev->EndPlayback(ref, OCTC_STATE_RESULT, 0));
  EXPECT_EQ(WaitState(1).status, OCTC_STATE_RESULT);
  EXPECT_EQ(octc_vod_skip_to(conn, v, 0), 0);
  ASSERT_TRUE(dev->EndPlayback(ref, OCTC_STATE_CLOSED, 0));
  EXPECT_EQ(WaitState(2).status, OCTC_STATE_CLOSED);
  EXPECT_EQ(octc_vod_skip_to(conn, v, 0), OCTC_ERR_FAILED);
  const int32_t missing = octc_vod_open(conn, "missing", 0);
  StateEvent s = WaitState(3);
  EXPECT_EQ(s.handle, missing);
  EXPECT_EQ(s.status, OCTC_STATE_RESULT);
  EXPECT_NE(s.result, 0);
  // The host's close reaches the device.
  EXPECT_EQ(octc_vod_close(conn, octc_vod_open(conn, a.path.c_str(), 0)), 0);
  EXPECT_TRUE(rec.WaitFor([&] { return handler.Locked([&] { return handler.closed; }) >= 1; }));

  // Download: every block with the totals, then the end.
  int32_t d = octc_down_open(conn, "/rec/a.mp4", 0);
  ref = WaitSub(handler.downloads, 1);
  std::vector<uint8_t> file(10000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
  for (uint64_t sent = 0; sent < file.size();) {
    const size_t n = std::min<size_t>(4096, file.size() - sent);
    ASSERT_TRUE(dev->DownloadData(ref, file.data() + sent, n, file.size(), sent + n));
    sent += n;
  }
  ASSERT_TRUE(dev->EndDownload(ref, OCTC_STATE_CLOSED, 0));
  s = WaitState(4);
  EXPECT_EQ(s.module, 'd');
  EXPECT_EQ(s.status, OCTC_STATE_CLOSED);
  rec.Locked([&] {
    std::vector<uint8_t> got;
    for (const DataEvent& e : rec.data) {
      if (e.module != 'd') continue;
      EXPECT_EQ(e.handle, d);
      EXPECT_EQ(e.total, file.size());
      got.insert(got.end(), e.bytes.begin(), e.bytes.end());
      EXPECT_EQ(e.received, got.size());
    }
    EXPECT_EQ(got, file);
  });
  EXPECT_EQ(octc_down_close(conn, d), OCTC_ERR_FAILED);  // already ended
  // A download that fails: status 0 with a flag.
  octc_down_open(conn, "nowhere", 0);
  s = WaitState(5);
  EXPECT_EQ(s.status, OCTC_STATE_RESULT);
  EXPECT_NE(s.result, 0);
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
