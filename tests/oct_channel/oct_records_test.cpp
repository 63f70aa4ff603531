// The tables of the OCT channel: stream-information records built from
// media information, the record-list entries, playback speed and seek,
// playback and download ends, talk, user data and recording notices, and
// the synchronous RPC exchange.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "oct_channel_fixture.h"
#include "qcsdk/facade/bytes.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

uint16_t Word(const StreamInfoRecord& r, std::size_t offset) {
  return LoadLe16(r.data() + offset);
}

TEST(OctStreamInfo, RecordFromMediaInformation) {
  OctMediaInfo m{};
  m.video_codec = 1;
  m.width = 1920;
  m.height = 1080;
  m.frame_rate_x10000 = 250000;
  m.audio_codec = 1;
  m.audio_channels = 1;
  m.audio_sample_rate = 8000;
  m.audio_bits = 16;
  m.duration_ms = 10000;
  StreamInfoRecord r = OctChannel::BuildStreamInfo(m, 2);
  EXPECT_EQ(std::memcmp(r.data() + info::kFileTag, "QFH\x01", 4), 0);
  EXPECT_EQ(Word(r, info::kDeviceType), 2);
  EXPECT_EQ(Word(r, info::kVideoCodec), 1);
  EXPECT_EQ(Word(r, info::kAudioPresent), 1);
  EXPECT_EQ(Word(r, info::kWidth), 1920);
  EXPECT_EQ(Word(r, info::kHeight), 1080);
  EXPECT_EQ(Word(r, info::kRateNum), 25);
  EXPECT_EQ(Word(r, info::kRateDen), 1);
  EXPECT_EQ(Word(r, info::kAudioCodec), 2);
  EXPECT_EQ(Word(r, info::kAudioParam1), 8000);
  EXPECT_EQ(Word(r, info::kAudioParam2), 1);
  EXPECT_EQ(Word(r, info::kAudioParam3), 16);
  EXPECT_EQ(LoadLe32(r.data() + info::kTotalFrames), 250u);
  EXPECT_EQ(Word(r, info::kRecordKind), 3);
  // Every byte not named stays zero.
  for (std::size_t i : {0u, 31u, 42u, 43u, 66u, 95u}) EXPECT_EQ(r[i], 0) << i;

  // Frame-rate fractions in lowest terms; total frames follow the rate.
  const struct {
    int32_t rate;
    uint16_t num, den;
    int32_t duration;
    uint32_t frames;
  } rates[] = {{125000, 25, 2, 10000, 125}, {299700, 2997, 100, 60000, 1798},
               {300000, 30, 1, 0, 0},       {10000, 1, 1, 3000, 3},
               {0, 0, 1, 10000, 0},         {75000, 15, 2, 2000, 15}};
  for (const auto& c : rates) {
    m.frame_rate_x10000 = c.rate;
    m.duration_ms = c.duration;
    r = OctChannel::BuildStreamInfo(m, 0);
    EXPECT_EQ(Word(r, info::kRateNum), c.num) << c.rate;
    EXPECT_EQ(Word(r, info::kRateDen), c.den) << c.rate;
    EXPECT_EQ(LoadLe32(r.data() + info::kTotalFrames), c.frames) << c.rate;
  }

  // Codecs.
  const struct {
    int32_t oct;
    uint16_t present, codec;
  } audio[] = {{0, 0, 0}, {1, 1, 2}, {2, 1, 3}, {3, 1, 0}, {4, 1, 1}, {9, 1, 0}};
  for (const auto& c : audio) {
    m.audio_codec = c.oct;
    r = OctChannel::BuildStreamInfo(m, 0);
    EXPECT_EQ(Word(r, info::kAudioPresent), c.present) << c.oct;
    EXPECT_EQ(Word(r, info::kAudioCodec), c.codec) << c.oct;
  }
  for (const auto& [oct, codec] : {std::pair{0, 1}, {1, 1}, {2, 2}, {3, 1}}) {
    m.video_codec = oct;
    EXPECT_EQ(Word(OctChannel::BuildStreamInfo(m, 0), info::kVideoCodec), codec) << oct;
  }
  // Device kinds and the recording kind that follows from them.
  const uint16_t kinds[][2] = {{0, 3}, {0, 3}, {2, 3}, {3, 3}, {3, 3}, {4, 4}, {0, 3}};
  for (int32_t kind = 0; kind <= 6; ++kind) {
    r = OctChannel::BuildStreamInfo(m, kind);
    EXPECT_EQ(Word(r, info::kDeviceType), kinds[kind][0]) << kind;
    EXPECT_EQ(Word(r, info::kRecordKind), kinds[kind][1]) << kind;
  }
}

TEST_F(OctFixture, LiveFramesAndAudioReachTheHost) {
  const auto [n, stream] = ConnectLive();
  const uint8_t data[64] = {0, 0, 0, 1, 0x67};
  const std::pair<int32_t, int32_t> types[] = {{OCTC_FRAME_KEY, QCSDK_FRAME_KEY},
                                               {OCTC_FRAME_P, QCSDK_FRAME_P},
                                               {OCTC_FRAME_B, QCSDK_FRAME_P},
                                               {7, -1}};
  for (const auto& [octType, sdkType] : types) {
    OctFrame frame{octType, data, 40, 0};
    Fire([&] { cb().streamData(1, stream, OCTC_DATA_VIDEO, &frame); });
  }
  OctAudio audio{data, 32, 0};
  Fire([&] { cb().streamData(1, stream, OCTC_DATA_AUDIO, &audio); });
  std::vector<int32_t> seen;
  for (const auto& raw : host.Raw()) seen.push_back(raw.type);
  EXPECT_THAT(seen, ElementsAre(QCSDK_FRAME_KEY, QCSDK_FRAME_P, QCSDK_FRAME_P, QCSDK_FRAME_AUDIO));
  // Reports for a stream handle nobody owns, or another connection, are dropped.
  OctFrame frame{OCTC_FRAME_KEY, data, 40, 0};
  Fire([&] { cb().streamData(1, stream + 50, OCTC_DATA_VIDEO, &frame); });
  Fire([&] { cb().streamData(9, stream, OCTC_DATA_VIDEO, &frame); });
  EXPECT_EQ(host.Raw().size(), 4u);
}

class OctPlayback : public OctFixture {
 protected:
  int32_t n = -1;
  int32_t stream = -1;
  int32_t vod = -1;
  void Start(int32_t deviceType = 2) {
    std::tie(n, stream) = ConnectLive(deviceType);
    fake.SetOctRecList(
        {{"first.mp4", "/rec/1.mp4", 8, 5, 9}, {"second.mp4", "/rec/2.mp4", 23, 59, 0}});
    const int32_t dates[6] = {2026, 12, 1, 2026, 12, 5};
    ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
    ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_REC_LIST));
  }
  void Play(int32_t index) {
    ASSERT_EQ(QCSDK_RemotePlay(n, index), 1);
    vod = Subs().back();
  }
  void PlayMedia(const OctMediaInfo& media) {
    Fire([&] { cb().vodData(1, vod, OCTC_DATA_MEDIA_INFO, &media); });
  }
};

TEST_F(OctPlayback, RecordListEntries) {
  Start(5);
  const OctRecQuery q = fake.OctLastQuery();
  EXPECT_EQ(q.channel, 1);
  EXPECT_EQ(q.begin.year, 2026);
  EXPECT_EQ(q.begin.hour, 0);
  EXPECT_EQ(q.end.day, 5);
  EXPECT_EQ(q.end.hour, 23);
  EXPECT_EQ(q.end.minute, 59);
  EXPECT_EQ(q.end.second, 59);
  EXPECT_EQ(q.end.millisecond, 999);
  EXPECT_EQ(fake.CountCalls("octc_cmd_free_rec_file_list_result"), 1);
  const HostEvent list = host.Events().back();
  ASSERT_EQ(list.code, QCSDK_EVENT_REC_LIST);
  ASSERT_EQ(list.value, 2);
  const auto* e = reinterpret_cast<const uint8_t*>(list.data);
  ASSERT_NE(e, nullptr);
  // Device kind 5 records ".mp4" of recording kind 4: entry kind 5.
  for (int32_t i = 0; i < 2; ++i) {
    const uint8_t* entry = e + i * QCSDK_REC_ENTRY_SIZE;
    EXPECT_EQ(LoadLe32(entry), static_cast<uint32_t>(i));
    EXPECT_EQ(LoadLe32(entry + 4), 5u);
  }
  EXPECT_STREQ(reinterpret_cast<const char*>(e + 8), "080509");
  EXPECT_STREQ(reinterpret_cast<const char*>(e + 16), "first.mp4");
  EXPECT_STREQ(reinterpret_cast<const char*>(e + 2064), "/rec/1.mp4");
  EXPECT_STREQ(reinterpret_cast<const char*>(e + QCSDK_REC_ENTRY_SIZE + 8), "235900");
  EXPECT_STREQ(reinterpret_cast<const char*>(e + QCSDK_REC_ENTRY_SIZE + 2064), "/rec/2.mp4");

  // An empty list and a path too long for its field.
  fake.SetOctRecList({{"long", std::string(2048, 'p'), 1, 2, 3}});
  const int32_t dates[6] = {2026, 12, 1, 2026, 12, 5};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  EXPECT_EQ(host.Events().back().value, 0);
  EXPECT_EQ(host.Events().back().data, 0);
  fake.SetResult("octc_cmd_get_rec_file_list", -1);
  EXPECT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 0);
  EXPECT_EQ(host.Count(QCSDK_EVENT_REC_LIST), 2);
}

TEST_F(OctPlayback, SpeedTablePauseAndSeek) {
  Start();
  EXPECT_EQ(QCSDK_RemotePlay(n, 5), 0);  // beyond the list
  Play(1);
  EXPECT_THAT(CallsOf("octc_vod_open"), ElementsAre("octc_vod_open(1, \"/rec/2.mp4\", 0)"));
  const std::string prefix = "octc_vod_set_speed(1, " + std::to_string(vod) + ", ";
  auto speeds = [&] {
    std::vector<int32_t> out;
    for (const std::string& call : CallsOf("octc_vod_set_speed")) {
      out.push_back(std::stoi(call.substr(prefix.size())));
    }
    return out;
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  EXPECT_THAT(speeds(), ElementsAre(2, 4, 8, 16, 16));
  fake.ClearCalls();
  // Pause sends 0 and keeps the speed; faster continues from 16x.
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 3, 0), 1);
  for (int i = 0; i < 8; ++i) QCSDK_RemotePlayControl(n, 3, 0);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 4, 0), 1);
  EXPECT_THAT(speeds(), ElementsAre(0, 16, 8, 4, 2, 1, -2, -4, -8, -16, -16, 1));
  // A refused speed leaves the index alone.
  fake.ClearCalls();
  fake.SetResult("octc_vod_set_speed", -1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 0);
  fake.SetResult("octc_vod_set_speed", 0);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  EXPECT_THAT(speeds(), ElementsAre(2, 2));

  // Seek needs the playback's frame rate.
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 50), 0);
  EXPECT_EQ(fake.CountCalls("octc_vod_skip_to"), 0);
  PlayMedia(Media(125000, 60000));  // 12.5 frames per second
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 25), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 1), 1);
  PlayMedia(Media(299700, 60000));
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 2997), 1);
  const std::string skip = "octc_vod_skip_to(1, " + std::to_string(vod) + ", ";
  EXPECT_THAT(CallsOf("octc_vod_skip_to"),
              ElementsAre(skip + "2000)", skip + "80)", skip + "100000)"));

  // Stopping resets the speed index; control then reaches the library with 0.
  EXPECT_EQ(QCSDK_RemotePlay(n, -1), 1);
  EXPECT_EQ(CallsOf("octc_vod_close").size(), 1u);
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  EXPECT_THAT(CallsOf("octc_vod_set_speed"), ElementsAre("octc_vod_set_speed(1, 0, 2)"));
}

TEST_F(OctPlayback, LiveIsHeldBackDuringPlaybackAndReturnsAtItsEnd) {
  Start();
  Play(0);
  const uint8_t data[16] = {};
  OctFrame frame{OCTC_FRAME_KEY, data, 16, 0};
  Fire([&] { cb().streamData(1, stream, OCTC_DATA_VIDEO, &frame); });
  const OctMediaInfo media = Media();
  Fire([&] { cb().streamData(1, stream, OCTC_DATA_MEDIA_INFO, &media); });
  EXPECT_EQ(host.Raw().size(), 0u);
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), 0);
  Fire([&] { cb().vodData(1, vod, OCTC_DATA_VIDEO, &frame); });
  EXPECT_EQ(host.Raw().size(), 1u);

  // status 0 flag 0: end reached, handle kept; the live record comes back.
  Fire([&] { cb().vodState(1, vod, 0, 0); });
  EXPECT_EQ(host.Count(QCSDK_EVENT_PLAYBACK_END_12), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), 1);
  Fire([&] { cb().vodState(1, vod, 7, 0); });  // other status: nothing
  Fire([&] { cb().vodState(1, vod, 0, 1); });  // failed: handle closed
  EXPECT_EQ(host.Count(QCSDK_EVENT_PLAYBACK_END_14), 1);
  Fire([&] { cb().vodState(1, vod, 1, 0); });  // nobody owns it any more
  EXPECT_EQ(host.Count(QCSDK_EVENT_PLAYBACK_END_13), 0);
  Fire([&] { cb().streamData(1, stream, OCTC_DATA_VIDEO, &frame); });
  EXPECT_EQ(host.Raw().size(), 2u);

  Play(1);
  Fire([&] { cb().vodState(1, vod, 1, 5); });
  EXPECT_EQ(host.Count(QCSDK_EVENT_PLAYBACK_END_13), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), 3);
}

TEST_F(OctPlayback, DownloadEndCodes) {
  Start();
  const std::string path =
      (std::filesystem::temp_directory_path() / ("oct_down_" + std::to_string(::getpid())))
          .string();
  const uint8_t block[100] = {1, 2, 3};
  const struct {
    bool complete;
    int32_t status, flag, code;
  } cases[] = {{true, 1, 0, 1}, {false, 1, 0, 2}, {false, 0, 9, 3}};
  for (const auto& c : cases) {
    ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 0, path.c_str()), 1);
    const int32_t down = Subs().back();
    OctDownData d{down, block, 100, 0, 200, c.complete ? 200u : 100u};
    Fire([&] { cb().downData(1, down, &d); });
    Fire([&] { cb().downState(1, down, 0, 0); });  // nothing
    Fire([&] { cb().downState(1, down, c.status, c.flag); });
    ASSERT_FALSE(host.Downloads().empty());
    EXPECT_EQ(host.Downloads().back().code, c.code);
    EXPECT_EQ(std::filesystem::file_size(path), 100u);
  }
  int ends = 0;
  for (const auto& d : host.Downloads()) ends += d.code != QCSDK_DOWNLOAD_PROGRESS;
  EXPECT_EQ(ends, 3);
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 2, path.c_str()), 0);  // beyond the list
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, -1, nullptr), 1);
  std::filesystem::remove(path);
}

TEST_F(OctFixture, TalkAcceptedRefusedAndEnded) {
  const auto [n, stream] = ConnectLive();
  ASSERT_EQ(QCSDK_StartTalk(n), 1);
  EXPECT_EQ(QCSDK_StartTalk(n), 0);  // one talk at a time
  const int32_t talk = Subs().back();
  Fire([&] { cb().chatState(1, talk, 0, 0); });
  const uint8_t pcm[8] = {};
  EXPECT_EQ(QCSDK_SendTalkData(n, pcm, 8), 1);
  Fire([&] { cb().chatState(1, talk, 1, 0); });  // ended by the device
  ASSERT_EQ(host.Talk().size(), 2u);
  EXPECT_EQ(host.Talk()[0].event, QCSDK_TALK_ACCEPTED);
  EXPECT_EQ(host.Talk()[1].event, QCSDK_TALK_ENDED);
  ASSERT_EQ(QCSDK_StartTalk(n), 1);
  const int32_t refused = Subs().back();
  Fire([&] { cb().chatState(1, refused, 0, -7); });
  EXPECT_EQ(host.Talk().size(), 3u);
  EXPECT_EQ(QCSDK_StartTalk(n), 1);
  EXPECT_EQ(QCSDK_StopTalk(n), 1);
  EXPECT_EQ(CallsOf("octc_chat_close").size(), 1u);
}

std::mutex g_userMutex;
std::vector<std::pair<int32_t, std::string>> g_userData;
void OnUserData(int32_t channel, const uint8_t* data, int32_t length) {
  std::lock_guard<std::mutex> guard(g_userMutex);
  g_userData.emplace_back(channel, std::string(reinterpret_cast<const char*>(data), length));
}

std::string UserNotice(uint32_t channel, const std::string& payload) {
  std::string m = "qcsdk_user_data:";
  m += static_cast<char>(channel >> 24);
  m += static_cast<char>(channel >> 16);
  m += static_cast<char>(channel >> 8);
  m += static_cast<char>(channel);
  return m + payload;
}

TEST_F(OctFixture, UserDataAndRecordingNotices) {
  const auto [a, streamA] = ConnectLive();
  const int32_t b = Connect();
  StreamOpened(1, WaitStreamOpen(2));
  ASSERT_EQ(a, 0);
  ASSERT_EQ(b, 1);

  ASSERT_EQ(QCSDK_SendUserData(b, nullptr, 0), 1);
  ASSERT_EQ(QCSDK_SendUserData(a, "hi", 2), 1);
  const auto sent = fake.OctNotices();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(std::string(sent[0].begin(), sent[0].end()), UserNotice(1, ""));
  EXPECT_EQ(sent[0].size(), 20u);
  EXPECT_EQ(std::string(sent[1].begin(), sent[1].end()), UserNotice(0, "hi"));
  EXPECT_THAT(CallsOf("octc_cmd_send_notify"),
              ElementsAre("octc_cmd_send_notify(1, 1029, ptr, 20)",
                          "octc_cmd_send_notify(1, 1029, ptr, 22)"));

  {
    std::lock_guard<std::mutex> guard(g_userMutex);
    g_userData.clear();
  }
  QCSDK_RegisterUserDataCallback(&OnUserData);
  auto notice = [&](int32_t type, const std::string& text) {
    Fire([&] { cb().notice(1, type, text.data(), static_cast<int32_t>(text.size())); });
  };
  notice(1029, UserNotice(0, "all"));
  notice(1029, UserNotice(1, "one"));
  notice(1029, UserNotice(7, "nobody"));
  notice(1029, "qcsdk_user_dat");
  notice(1029, "qcsdk_user_date:\0\0\0\0x");
  notice(1030, UserNotice(0, "other type"));
  QCSDK_RegisterUserDataCallback(nullptr);
  {
    std::lock_guard<std::mutex> guard(g_userMutex);
    std::vector<std::pair<int32_t, std::string>> got = g_userData;
    std::sort(got.begin(), got.end());
    EXPECT_THAT(got, ElementsAre(std::pair<int32_t, std::string>{0, "all"},
                                 std::pair<int32_t, std::string>{1, "all"},
                                 std::pair<int32_t, std::string>{1, "one"}));
  }

  notice(1025, R"({"channel":1,"start":{}})");
  notice(1025, R"({"channel":1})");
  notice(1025, R"({"channel":"1","start":1})");
  notice(1025, R"({"channel":2,"start":1})");
  notice(1025, R"({"channel":1,"start")");
  std::vector<std::pair<int32_t, intptr_t>> states;
  for (const HostEvent& e : host.Events()) {
    if (e.code == QCSDK_EVENT_RECORDING_STATE) states.emplace_back(e.channel, e.data);
  }
  // Both channels watch device channel 1.
  EXPECT_THAT(states,
              ElementsAre(std::pair<int32_t, intptr_t>{0, 1}, std::pair<int32_t, intptr_t>{1, 1},
                          std::pair<int32_t, intptr_t>{0, 0}, std::pair<int32_t, intptr_t>{1, 0}));
}

TEST_F(OctFixture, RpcTravelsAsOneSynchronousExchange) {
  const auto [n, stream] = ConnectLive();
  auto channel = Oct(n);
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(QCSDK_GRPC_Begin(n), 1);

  fake.SetOctConfigResponse(R"({"sentcnt":1})");
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 3, 1), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 15, 1), 0);  // no such command: nothing sent
  ASSERT_EQ(fake.OctConfigRequests().size(), 1u);
  const std::string request = fake.OctConfigRequests()[0];
  EXPECT_NE(request.find(R"("method":"ptz_move_start")"), std::string::npos) << request;
  EXPECT_NE(request.find(R"("channelid":0,"panLeft":-127,"tiltUp":0,"zoomIn":0)"),
            std::string::npos)
      << request;

  // The response is handed over once, to a buffer at least as long.
  fake.SetOctConfigResponse("abcdef");
  EXPECT_EQ(channel->SendGrpcRequest(nullptr, "xyz", 3), 3);
  char small[5];
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, small, 5, nullptr), -1);
  char exact[6];
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, exact, 6, nullptr), 6);
  EXPECT_EQ(std::string(exact, 6), "abcdef");
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, exact, 6, nullptr), -1);
  // An empty answer is handed over as 0 bytes, once.
  fake.SetOctConfigResponse("");
  EXPECT_EQ(channel->SendGrpcRequest(nullptr, "xyz", 3), 3);
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, exact, 6, nullptr), 0);
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, exact, 6, nullptr), -1);
  fake.SetResult("octc_cmd_remote_config", -3);
  EXPECT_EQ(channel->SendGrpcRequest(nullptr, "xyz", 3), -1);
  EXPECT_EQ(channel->RecvGrpcResponse(nullptr, exact, 6, nullptr), -1);
  EXPECT_EQ(fake.CountCalls("octc_cmd_free_remote_config_result"), 3);
  EXPECT_EQ(QCSDK_GRPC_End(n), 1);
}

TEST_F(OctFixture, PtzCommandsBecomeRpcMethods) {
  const auto [n, stream] = ConnectLive();
  std::vector<std::string> answers;
  for (int i = 1; i <= 30; ++i) answers.push_back("{\"sentcnt\":" + std::to_string(i) + "}");
  fake.QueueOctConfigResponses(answers);
  const char* move = R"("channelid":0,"panLeft":%d,"tiltUp":%d,"zoomIn":%d)";
  const char* fi = R"("channelid":0,"focusFar":%d,"irisOpen":%d)";
  auto format = [](const char* pattern, int a, int b, int c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return std::string(text);
  };
  const std::vector<std::pair<std::string, std::string>> expected[15] = {
      {{"ptz_move_start", format(move, 0, 127, 0)}, {"ptz_move_stop", R"({"channelid":0})"}},
      {{"ptz_move_start", format(move, 0, -127, 0)}, {"ptz_move_stop", R"({"channelid":0})"}},
      {{"ptz_move_start", format(move, 127, 0, 0)}, {"ptz_move_stop", R"({"channelid":0})"}},
      {{"ptz_move_start", format(move, -127, 0, 0)}, {"ptz_move_stop", R"({"channelid":0})"}},
      {{"ptz_patrol_locate", R"("channelid":0,"patrolid":0,"speed":0)"},
       {"ptz_patrol_stop", R"("channelid":0,"patrolid":0)"}},
      {{"ptz_fi_start", format(fi, 0, 254)}, {"ptz_fi_stop", R"({"channelid":0})"}},
      {{"ptz_fi_start", format(fi, 0, -254)}, {"ptz_fi_stop", R"({"channelid":0})"}},
      {{"ptz_fi_start", format(fi, 254, 0)}, {"ptz_fi_stop", R"({"channelid":0})"}},
      {{"ptz_fi_start", format(fi, -254, 0)}, {"ptz_fi_stop", R"({"channelid":0})"}},
      {{"ptz_move_start", format(move, 0, 0, 127)}, {"ptz_move_stop", R"({"channelid":0})"}},
      {{"ptz_move_start", format(move, 0, 0, -127)}, {"ptz_move_stop", R"({"channelid":0})"}},
      {{"ptz_aux_on", R"("channelid":0,"auxid":1)"}, {"ptz_aux_off", R"("channelid":0,"auxid":1)"}},
      {{"ptz_aux_on", R"("channelid":0,"auxid":2)"}, {"ptz_aux_off", R"("channelid":0,"auxid":2)"}},
      {{"ptz_aux_on", R"("channelid":0,"auxid":3)"}, {"ptz_aux_off", R"("channelid":0,"auxid":3)"}},
      {{"ptz_aux_on", R"("channelid":0,"auxid":4)"}, {"ptz_aux_off", R"("channelid":0,"auxid":4)"}},
  };
  for (int32_t command = 0; command < 15; ++command) {
    for (int32_t start : {1, 0}) {
      SCOPED_TRACE(std::to_string(command) + (start ? " start" : " stop"));
      EXPECT_EQ(QCSDK_SendPTZCommand(n, command, start), 1);
      const std::string request = fake.OctConfigRequests().back();
      const auto& [method, param] = expected[command][start ? 0 : 1];
      EXPECT_NE(request.find("\"method\":\"" + method + "\""), std::string::npos) << request;
      EXPECT_NE(request.find(param), std::string::npos) << request;
    }
  }
  EXPECT_EQ(fake.OctConfigRequests().size(), 30u);
}

TEST_F(OctFixture, RemoteRecordingWritesTheCurrentSettingsBack) {
  const auto [n, stream] = ConnectLive();
  fake.QueueOctConfigResponses(
      {R"({"sentcnt":1,"result":{"record_params":[{"channelid":0,"brecording":true,)"
       R"("normal_record":true,"time_record":false,"disconnect_record":true,"packettimelen":30,)"
       R"("task":{"maxTime":2,"time":[{"week":"mon","begin_hour":1,"begin_min":2,)"
       R"("end_hour":3,"end_min":4}]}}]}})",
       R"({"sentcnt":2})"});
  EXPECT_EQ(QCSDK_RemoteRecording(n, 1), 1);
  const auto requests = fake.OctConfigRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find(R"("method":"record_get","param":{"channelid":0})"), std::string::npos)
      << requests[0];
  EXPECT_NE(
      requests[1].find(R"("param":{"record_params":[{"channelid":0,"normal_record":true,)"
                       R"("time_record":false,"disconnect_record":true,"packettimelen":30,)"
                       R"("task":{"time":[{"week":"mon","begin_hour":1,"begin_min":2,"end_hour":3,)"
                       R"("end_min":4}]}}]})"),
      std::string::npos)
      << requests[1];
  // A device error on the write is a failure.
  fake.QueueOctConfigResponses({R"({"sentcnt":3,"result":{"record_params":[{"channelid":0}]}})",
                                R"({"sentcnt":4,"error":{"errorcode":5}})"});
  EXPECT_EQ(QCSDK_RemoteRecording(n, 0), 0);
  // A device error on the read still leads to the write, of zeros.
  fake.QueueOctConfigResponses({R"({"sentcnt":5,"error":{"errorcode":5}})", R"({"sentcnt":6})"});
  EXPECT_EQ(QCSDK_RemoteRecording(n, 1), 1);
  EXPECT_NE(fake.OctConfigRequests().back().find(R"("record_params":[{"channelid":0,)"
                                                 R"("normal_record":false,)"),
            std::string::npos);
}

}  // namespace
}  // namespace qcsdk::test
