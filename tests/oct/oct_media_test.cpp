// Live streams, playback, download and talk over one connection.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include "oct_fixture.h"

namespace octc::test {
namespace {

OctMediaInfo Media(int32_t duration_ms) {
  OctMediaInfo m{};
  m.video_codec = 1;
  m.width = 640;
  m.height = 360;
  m.frame_rate_x10000 = 250000;
  m.audio_codec = 4;
  m.audio_channels = 1;
  m.audio_sample_rate = 8000;
  m.audio_bits = 16;
  m.duration_ms = duration_ms;
  return m;
}

TEST_F(OctTest, LiveStreamDeliversMediaInfoFramesAudioAndKeyFrameRequests) {
  dev->SetMediaInfo(1, 0, Media(0));
  int32_t conn = ConnectOk();
  int32_t h = OpenStream(conn);
  ASSERT_TRUE(rec.WaitFor([&] { return rec.data.size() >= 1; }));
  DataEvent m = rec.Locked([&] { return rec.data[0]; });
  EXPECT_EQ(m.module, 's');
  EXPECT_EQ(m.handle, h);
  ASSERT_EQ(m.kind, OCTC_DATA_MEDIA_INFO);
  EXPECT_EQ(m.media.width, 640);
  EXPECT_EQ(m.media.height, 360);
  EXPECT_EQ(m.media.frame_rate_x10000, 250000);
  EXPECT_EQ(m.media.audio_codec, 4);
  // The device records the open after it has sent the media information.
  for (int i = 0; i < 500 && handler.Locked([&] { return handler.streams.empty(); }); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(handler.Locked([&] { return handler.streams.size() == 1; }));

  const uint8_t key[] = {0, 0, 0, 1, 0x65, 1, 2, 3};
  const uint8_t p[] = {0, 0, 0, 1, 0x41, 9};
  const uint8_t audio[] = {0xD5, 0xD5, 0x55};
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_KEY, key, sizeof key, 40), 1);
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_P, p, sizeof p, 80), 1);
  EXPECT_EQ(dev->PushAudio(1, 0, audio, sizeof audio, 81), 1);
  EXPECT_EQ(dev->PushFrame(2, 0, OCTC_FRAME_KEY, key, sizeof key, 0), 0);  // nobody watches 2
  ASSERT_TRUE(rec.WaitFor([&] { return rec.data.size() >= 4; }));
  rec.Locked([&] {
    EXPECT_EQ(rec.data[1].kind, OCTC_DATA_VIDEO);
    EXPECT_EQ(rec.data[1].type, OCTC_FRAME_KEY);
    EXPECT_EQ(rec.data[1].bytes, std::vector<uint8_t>(key, key + sizeof key));
    EXPECT_EQ(rec.data[1].timestamp, 40u);
    EXPECT_EQ(rec.data[2].type, OCTC_FRAME_P);
    EXPECT_EQ(rec.data[2].bytes, std::vector<uint8_t>(p, p + sizeof p));
    EXPECT_EQ(rec.data[3].kind, OCTC_DATA_AUDIO);
    EXPECT_EQ(rec.data[3].bytes, std::vector<uint8_t>(audio, audio + sizeof audio));
    return 0;
  });

  // Key-frame requests are synchronous: the device's answer is the result.
  EXPECT_EQ(octc_stream_insert_keyframe(conn, h), 1);
  EXPECT_EQ(octc_stream_insert_keyframe(conn, h), 2);
  EXPECT_EQ(octc_stream_insert_keyframe(conn, h + 1000), OCTC_ERR_FAILED);

  // The device closes the stream: state "closed", and no more frames arrive.
  EXPECT_EQ(dev->CloseStreams(1, 0), 1);
  ASSERT_TRUE(WaitStates(2));
  StateEvent s = rec.Locked([&] { return rec.states[1]; });
  EXPECT_EQ(s.handle, h);
  EXPECT_EQ(s.status, OCTC_STATE_CLOSED);
  EXPECT_EQ(dev->PushFrame(1, 0, OCTC_FRAME_KEY, key, sizeof key, 0), 0);
  EXPECT_EQ(octc_stream_close(conn, h), OCTC_ERR_FAILED);

  // A stream the host closes stops its data at once.
  int32_t h2 = OpenStream(conn);
  EXPECT_EQ(octc_stream_close(conn, h2), 0);
  size_t frames = rec.Locked([&] { return rec.data.size(); });
  dev->PushFrame(1, 0, OCTC_FRAME_KEY, key, sizeof key, 0);
  EXPECT_FALSE(rec.WaitFor([&] { return rec.data.size() > frames + 1; }, 200));
  rec.Locked([&] {
    for (size_t i = frames; i < rec.data.size(); ++i) EXPECT_NE(rec.data[i].kind, OCTC_DATA_VIDEO);
    return 0;
  });
}

// Pictures pushed while streams open never overtake a stream's open result
// and media information: a new viewer always learns the stream first.
TEST_F(OctTest, StreamsOpenedDuringPushesStartWithTheirMediaInformation) {
  dev->SetMediaInfo(1, 0, Media(0));
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
    return 0;
  });
}

TEST_F(OctTest, PlaybackFollowsSpeedSkipAndEndStates) {
  int32_t conn = ConnectOk();
  device::RecordEntry a;
  a.name = "0930.mp4";
  a.path = "/rec/2026-12-05/0930.mp4";
  a.year = 2026;
  a.month = 12;
  a.day = 5;
  a.hour = 9;
  a.minute = 30;
  a.second = 15;
  a.duration_s = 600;
  a.size = 5000000000ull;
  device::RecordEntry b = a;
  b.name = "1200.mp4";
  b.path = "/rec/2026-12-05/1200.mp4";
  b.hour = 12;
  handler.Locked([&] {
    handler.records = {a, b};
    return 0;
  });

  OctRecQuery q{};
  q.channel = 1;
  q.begin = {2026, 12, 5, 0, 0, 0, 0};
  q.end = {2026, 12, 5, 23, 59, 59, 999};
  OctRecList list{};
  ASSERT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), 0);
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list.items[0].name, "0930.mp4");
  EXPECT_STREQ(list.items[0].path, "/rec/2026-12-05/0930.mp4");
  EXPECT_EQ(list.items[0].hour, 9);
  EXPECT_EQ(list.items[0].minute, 30);
  EXPECT_EQ(list.items[0].second, 15);
  EXPECT_EQ(list.items[0].size_high, 1u);  // 5e9 needs more than 32 bits
  EXPECT_EQ(list.items[1].hour, 12);
  EXPECT_EQ(handler.Locked([&] { return handler.last_query.end.millisecond; }), 999);
  std::string path = list.items[0].path;
  EXPECT_EQ(octc_cmd_free_rec_file_list_result(&list), 0);
  EXPECT_EQ(octc_cmd_free_rec_file_list_result(&list), OCTC_ERR_FAILED);
  // A channel the device does not have is refused; an empty list is a list.
  q.channel = 9;
  EXPECT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), OCTC_ERR_NO_CHANNEL);
  q.channel = 1;
  handler.Locked([&] {
    handler.records.clear();
    return 0;
  });
  ASSERT_EQ(octc_cmd_get_rec_file_list(conn, &q, &list), 0);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(octc_cmd_free_rec_file_list_result(&list), 0);

  int32_t v = octc_vod_open(conn, path.c_str(), 0);
  ASSERT_GT(v, 0);
  ASSERT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.playbacks.size(); }) == 1; }));
  device::SubRef ref = handler.Locked([&] { return handler.playbacks[0]; });
  EXPECT_EQ(handler.Locked([&] { return handler.opened_paths[0]; }), path);
  ASSERT_TRUE(dev->PlaybackMediaInfo(ref, Media(600000)));
  const uint8_t key[] = {0, 0, 0, 1, 0x65};
  ASSERT_TRUE(dev->PlaybackFrame(ref, OCTC_FRAME_KEY, key, sizeof key, 0));
  ASSERT_TRUE(rec.WaitFor([&] { return rec.data.size() >= 2; }));
  rec.Locked([&] {
    EXPECT_EQ(rec.data[0].module, 'v');
    EXPECT_EQ(rec.data[0].media.duration_ms, 600000);
    EXPECT_EQ(rec.data[1].module, 'v');
    EXPECT_EQ(rec.data[1].type, OCTC_FRAME_KEY);
    return 0;
  });

  for (int32_t speed : {2, 16, -16, 0, 1}) EXPECT_EQ(octc_vod_set_speed(conn, v, speed), 0);
  EXPECT_EQ(octc_vod_set_speed(conn, v, 3), OCTC_ERR_FAILED);
  EXPECT_EQ(octc_vod_skip_to(conn, v, 5000), 0);
  EXPECT_EQ(octc_vod_skip_to(conn, v, -1), OCTC_ERR_FAILED);
  EXPECT_EQ(handler.Locked([&] { return handler.speeds; }),
            (std::vector<int32_t>{2, 16, -16, 0, 1}));
  EXPECT_EQ(handler.Locked([&] { return handler.skips; }), (std::vector<int32_t>{5000}));

  // End of the recording: status 0, flag 0, and the handle stays usable.
  ASSERT_TRUE(dev->EndPlayback(ref, OCTC_STATE_RESULT, 0));
  ASSERT_TRUE(WaitStates(1));
  StateEvent s = rec.Locked([&] { return rec.states[0]; });
  EXPECT_EQ(s.module, 'v');
  EXPECT_EQ(s.handle, v);
  EXPECT_EQ(s.status, OCTC_STATE_RESULT);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(octc_vod_skip_to(conn, v, 0), 0);
  // Closed by the device: status 1, and the handle is gone.
  ASSERT_TRUE(dev->EndPlayback(ref, OCTC_STATE_CLOSED, 0));
  ASSERT_TRUE(WaitStates(2));
  EXPECT_EQ(rec.Locked([&] { return rec.states[1].status; }), OCTC_STATE_CLOSED);
  EXPECT_EQ(octc_vod_skip_to(conn, v, 0), OCTC_ERR_FAILED);

  // An unknown recording: a failed end (status 0, flag not 0).
  int32_t v2 = octc_vod_open(conn, "missing", 0);
  ASSERT_GT(v2, 0);
  ASSERT_TRUE(WaitStates(3));
  s = rec.Locked([&] { return rec.states[2]; });
  EXPECT_EQ(s.handle, v2);
  EXPECT_EQ(s.status, OCTC_STATE_RESULT);
  EXPECT_NE(s.result, 0);

  // The host's close reaches the device.
  int32_t v3 = octc_vod_open(conn, path.c_str(), 0);
  ASSERT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.playbacks.size(); }) == 2; }));
  EXPECT_EQ(octc_vod_close(conn, v3), 0);
  EXPECT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.playback_closed; }) >= 1; }));
}

TEST_F(OctTest, DownloadDeliversDataWithTotalsThenEnds) {
  int32_t conn = ConnectOk();
  int32_t d = octc_down_open(conn, "/rec/a.mp4", 0);
  ASSERT_GT(d, 0);
  ASSERT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.downloads.size(); }) == 1; }));
  device::SubRef ref = handler.Locked([&] { return handler.downloads[0]; });
  std::vector<uint8_t> file(10000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7);
  uint64_t sent = 0;
  while (sent < file.size()) {
    size_t n = std::min<size_t>(4096, file.size() - sent);
    ASSERT_TRUE(dev->DownloadData(ref, file.data() + sent, n, file.size(), sent + n));
    sent += n;
  }
  ASSERT_TRUE(dev->EndDownload(ref, OCTC_STATE_CLOSED, 0));
  ASSERT_TRUE(WaitStates(1));
  std::vector<uint8_t> got;
  rec.Locked([&] {
    EXPECT_EQ(rec.downs.size(), 3u);
    for (const DownEvent& e : rec.downs) {
      EXPECT_EQ(e.handle, d);
      EXPECT_EQ(e.total, file.size());
      got.insert(got.end(), e.bytes.begin(), e.bytes.end());
      EXPECT_EQ(e.received, got.size());
    }
    EXPECT_EQ(rec.states[0].module, 'd');
    EXPECT_EQ(rec.states[0].status, OCTC_STATE_CLOSED);
    return 0;
  });
  EXPECT_EQ(got, file);
  EXPECT_EQ(octc_down_close(conn, d), OCTC_ERR_FAILED);  // already ended

  // A download that fails: status 0 with a flag.
  int32_t d2 = octc_down_open(conn, "nowhere", 0);
  ASSERT_GT(d2, 0);
  ASSERT_TRUE(WaitStates(2));
  EXPECT_EQ(rec.Locked([&] { return rec.states[1].status; }), OCTC_STATE_RESULT);
  EXPECT_NE(rec.Locked([&] { return rec.states[1].result; }), 0);
}

TEST_F(OctTest, TalkOpensCarriesAudioBothWaysAndEnds) {
  int32_t conn = ConnectOk();
  int32_t t = octc_chat_open(conn);
  ASSERT_GT(t, 0);
  ASSERT_TRUE(WaitStates(1));
  StateEvent s = rec.Locked([&] { return rec.states[0]; });
  EXPECT_EQ(s.module, 'c');
  EXPECT_EQ(s.handle, t);
  EXPECT_EQ(s.status, OCTC_STATE_RESULT);
  EXPECT_EQ(s.result, 0);

  const uint8_t pcm[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(octc_chat_write(conn, t, pcm, sizeof pcm, 0x89ABCDEFu, 0x1u), 0);
  EXPECT_EQ(octc_chat_write(conn, t, nullptr, 4, 0, 0), OCTC_ERR_FAILED);
  ASSERT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.talk_data.size(); }) == 1; }));
  EXPECT_EQ(handler.Locked([&] { return handler.talk_data[0]; }),
            std::vector<uint8_t>(pcm, pcm + 5));
  EXPECT_EQ(handler.Locked([&] { return handler.talk_timestamps[0]; }), 0x189ABCDEFull);

  device::SubRef ref = handler.Locked([&] { return handler.talks[0]; });
  ASSERT_TRUE(dev->TalkAudio(ref, pcm, 3));
  ASSERT_TRUE(rec.WaitFor([&] { return rec.chats.size() == 1; }));
  EXPECT_EQ(rec.Locked([&] { return rec.chats[0]; }), std::vector<uint8_t>(pcm, pcm + 3));

  // Ended by the device.
  ASSERT_TRUE(dev->EndTalk(ref));
  ASSERT_TRUE(WaitStates(2));
  EXPECT_EQ(rec.Locked([&] { return rec.states[1].status; }), OCTC_STATE_CLOSED);
  EXPECT_EQ(octc_chat_write(conn, t, pcm, sizeof pcm, 0, 0), OCTC_ERR_FAILED);

  // Refused by the device: the refusal is the result.
  handler.Locked([&] { return handler.talk_answer = OCTC_ERR_REFUSED; });
  int32_t t2 = octc_chat_open(conn);
  ASSERT_TRUE(WaitStates(3));
  s = rec.Locked([&] { return rec.states[2]; });
  EXPECT_EQ(s.handle, t2);
  EXPECT_EQ(s.result, OCTC_ERR_REFUSED);

  // Closed by the host: the device hears of it.
  handler.Locked([&] { return handler.talk_answer = 0; });
  int32_t t3 = octc_chat_open(conn);
  ASSERT_TRUE(WaitStates(4));
  EXPECT_EQ(octc_chat_close(conn, t3), 0);
  EXPECT_TRUE(
      rec.WaitFor([&] { return handler.Locked([&] { return handler.talk_closed; }) >= 1; }));
}

}  // namespace
}  // namespace octc::test
