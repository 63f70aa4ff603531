// The tables of the OCT channel: the stream-information record built from
// media information, frame types, playback and download states, the speed
// table and seeks, PTZ commands, notices both ways and record-list entries.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "oct_channel_fixture.h"
#include "qcsdk/facade/bytes.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

TEST(OctStreamInfo, EveryMappingOfTheMediaInformation) {
  const struct Row {
    int32_t kind, video, audio, rate, durationMs;
    uint32_t deviceType, videoCodec, audioPresent, audioCodec, num, den, frames, recordingKind;
  } rows[] = {
      {0, 1, 1, 250000, 10000, 0, 1, 1, 2, 25, 1, 250, 3},
      {1, 0, 2, 125000, 10000, 0, 1, 1, 3, 25, 2, 125, 3},
      {2, 2, 4, 299700, 60000, 2, 2, 1, 1, 2997, 100, 1798, 3},
      {3, 3, 0, 300000, 0, 3, 1, 0, 0, 30, 1, 0, 3},
      {4, 1, 3, 10000, 3000, 3, 1, 1, 0, 1, 1, 3, 3},
      {5, 2, 5, 75000, 2000, 4, 2, 1, 0, 15, 2, 15, 4},
      {6, 1, 1, 0, 10000, 0, 1, 1, 2, 0, 1, 0, 3},
      {-1, 1, 1, 600000, 3600000, 0, 1, 1, 2, 60, 1, 216000, 3},  // needs 64 bits
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    OctMediaInfo m = OctMedia(row.durationMs, row.rate, row.audio);
    m.video_codec = row.video;
    m.width = 1920;
    m.height = 1080;
    m.audio_channels = 2;
    m.audio_sample_rate = 44100;
    // The audio values at 24, 20 and 28; every byte not set here is 0.
    StreamInfoRecord expected{};
    std::memcpy(expected.data() + 32, "QFH\x01", 4);
    const uint32_t words[] = {row.deviceType, row.videoCodec, row.audioPresent, 0,     1920, 1080,
                              row.num,        row.den,        row.audioCodec,   44100, 2,    16};
    for (std::size_t i = 0; i < std::size(words); ++i) {
      StoreLe16(expected.data() + 36 + 2 * i, static_cast<uint16_t>(words[i]));
    }
    StoreLe32(expected.data() + 60, row.frames);
    StoreLe16(expected.data() + 64, static_cast<uint16_t>(row.recordingKind));
    EXPECT_EQ(OctChannel::BuildStreamInfo(m, row.kind), expected);
  }
}

TEST_F(OctFixture, LiveFramesAndAudioReachTheHostByTheirType) {
  const auto [n, stream] = ConnectLive();
  const uint8_t data[64] = {0, 0, 0, 1, 0x67};
  // Data kind 2 video (frame type 1 key, 2 and 3 other), 3 audio.
  const struct {
    int32_t kind, type, size, hostType;
  } rows[] = {{2, 1, 40, QCSDK_FRAME_KEY},
              {2, 2, 41, QCSDK_FRAME_P},
              {2, 3, 42, QCSDK_FRAME_P},
              {2, 0, 43, -1},
              {2, 4, 44, -1},
              {3, 0, 45, QCSDK_FRAME_AUDIO},
              {4, 1, 46, -1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    const std::size_t before = host.Raw().size();
    OctFrame frame{row.type, data, row.size, 0};
    OctAudio audio{data, row.size, 0};
    const void* record = row.kind == 3 ? static_cast<const void*>(&audio) : &frame;
    Fire([&] { cb().streamData(1, stream, row.kind, record); });
    ASSERT_EQ(host.Raw().size(), before + (row.hostType >= 0 ? 1 : 0));
    if (row.hostType < 0) continue;
    EXPECT_EQ(host.Raw().back().channel, n);
    EXPECT_EQ(host.Raw().back().type, row.hostType);
    EXPECT_EQ(host.Raw().back().length, row.size);
  }
  // Reports for a stream handle nobody owns, or another connection, are dropped.
  OctFrame frame{1, data, 40, 0};
  Fire([&] { cb().streamData(1, stream + 50, 2, &frame); });
  Fire([&] { cb().streamData(9, stream, 2, &frame); });
  EXPECT_EQ(host.Raw().size(), 4u);
  // A key frame is asked for on the stream when decoding starts.
  ASSERT_EQ(QCSDK_EnableDecoder(n, 1), 1);
  EXPECT_THAT(CallsOf("octc_stream_insert_keyframe"),
              ElementsAre("octc_stream_insert_keyframe(1, " + std::to_string(stream) + ")"));
  EXPECT_EQ(QCSDK_EnableVideoData(n, 1), 0);
  EXPECT_EQ(QCSDK_RemoteConfig(n, 1), 0);
}

class OctPlayback : public OctFixture {
 protected:
  int32_t n = -1, stream = -1, vod = -1;
  void SetUp() override {
    OctFixture::SetUp();
    std::tie(n, stream) = ConnectLive();
    fake.SetOctRecList(
        {{"first.mp4", "/rec/1.mp4", 8, 5, 9}, {"second.mp4", "/rec/2.mp4", 23, 59, 0}});
    const int32_t dates[6] = {2026, 12, 1, 2026, 12, 5};
    ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  }
  void Play(int32_t index) {
    ASSERT_EQ(QCSDK_RemotePlay(n, index), 1);
    vod = LastSub();
  }
  void VideoFrame(bool playback, int32_t size = 16) {
    static const uint8_t data[16] = {};
    OctFrame frame{1, data, size, 0};
    Fire([&] {
      (playback ? cb().vodData : cb().streamData)(1, playback ? vod : stream, 2, &frame);
    });
  }
  // The speed values handed to the library so far.
  std::vector<int32_t> Speeds() const {
    std::vector<int32_t> out;
    for (const std::string& call : CallsOf("octc_vod_set_speed")) {
      out.push_back(std::stoi(call.substr(call.rfind(", ") + 2)));
    }
    return out;
  }
};

TEST_F(OctPlayback, EndStatesRaiseTheirEventsAndLiveComesBack) {
  Play(0);
  EXPECT_THAT(CallsOf("octc_vod_open"), ElementsAre("octc_vod_open(1, \"/rec/1.mp4\", 0)"));
  // The live stream is held back while a playback runs.
  VideoFrame(false);
  Media(OctMedia(), stream);
  EXPECT_EQ(host.Raw().size(), 0u);
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), 0);
  VideoFrame(true);
  EXPECT_EQ(host.Raw().size(), 1u);

  const struct {
    int32_t status, flag, event;
    bool kept;
  } rows[] = {{0, 0, QCSDK_EVENT_PLAYBACK_END_12, true},
              {0, 5, QCSDK_EVENT_PLAYBACK_END_14, false},
              {0, -1, QCSDK_EVENT_PLAYBACK_END_14, false},
              {1, 0, QCSDK_EVENT_PLAYBACK_END_13, false},
              {1, 3, QCSDK_EVENT_PLAYBACK_END_13, false},
              {2, 0, 0, true},
              {-1, 0, 0, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.status) + "," + std::to_string(row.flag));
    Play(0);
    const std::size_t events = host.Events().size();
    Fire([&] { cb().vodState(1, vod, row.status, row.flag); });
    const std::vector<HostEvent> all = host.Events();
    if (row.event != 0) {
      // The end, then the live record applied again.
      ASSERT_EQ(all.size(), events + 2);
      const HostEvent& e = all[events];
      EXPECT_EQ(std::tuple(e.channel, e.code, e.data, e.value), std::tuple(n, row.event, 0, 0));
      EXPECT_EQ(all[events + 1].code, QCSDK_EVENT_STREAM_CHANGED);
    } else {
      EXPECT_EQ(all.size(), events);
    }
    const std::size_t raw = host.Raw().size();
    VideoFrame(true);
    EXPECT_EQ(host.Raw().size(), raw + (row.kept ? 1 : 0));
  }
  // Stopping the playback lets the live stream through again.
  ASSERT_EQ(QCSDK_RemotePlay(n, -1), 1);
  const std::size_t raw = host.Raw().size();
  VideoFrame(false);
  EXPECT_EQ(host.Raw().size(), raw + 1);
}

TEST_F(OctPlayback, SpeedTablePauseAndSeek) {
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 0);  // no playback yet
  EXPECT_EQ(QCSDK_RemotePlay(n, 2), 0);            // beyond the list
  Play(1);
  EXPECT_THAT(CallsOf("octc_vod_open"), ElementsAre("octc_vod_open(1, \"/rec/2.mp4\", 0)"));
  // Commands from normal speed: 1 pause, 2 faster, 3 slower, 4 normal,
  // others keep the speed; the index stays within 0..8 and pause keeps it.
  const std::pair<int32_t, int32_t> steps[] = {
      {3, -2}, {3, -4}, {3, -8}, {3, -16}, {3, -16}, {1, 0}, {0, -16}, {4, 1},
      {2, 2},  {2, 4},  {2, 8},  {2, 16},  {2, 16},  {1, 0}, {7, 16},  {0, 16}};
  std::vector<int32_t> expected;
  for (const auto& [command, speed] : steps) {
    EXPECT_EQ(QCSDK_RemotePlayControl(n, command, 0), 1) << command;
    expected.push_back(speed);
  }
  EXPECT_EQ(Speeds(), expected);
  EXPECT_EQ(CallsOf("octc_vod_set_speed")[0],
            "octc_vod_set_speed(1, " + std::to_string(vod) + ", -2)");
  // A refused speed leaves the index alone.
  fake.SetResult("octc_vod_set_speed", -1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 3, 0), 0);
  fake.SetResult("octc_vod_set_speed", 0);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  EXPECT_EQ(Speeds().back(), 16);

  // Seeks turn frame numbers into milliseconds at the playback's rate.
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 50), 0);  // no playback record yet
  const struct {
    int32_t rate, frame, ms;
  } seeks[] = {{125000, 25, 2000},
               {125000, 1, 80},
               {299700, 2997, 100000},
               {250000, 0, 0},
               {250000, 3000000, 120000000}};  // 3e9 before the division
  std::vector<std::string> skips;
  for (const auto& seek : seeks) {
    Media(OctMedia(60000, seek.rate), vod, true);
    EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, seek.frame), 1);
    skips.push_back("octc_vod_skip_to(1, " + std::to_string(vod) + ", " + std::to_string(seek.ms) +
                    ")");
  }
  EXPECT_EQ(CallsOf("octc_vod_skip_to"), skips);
  fake.SetResult("octc_vod_skip_to", -1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 1), 0);

  // Stopping resets the speed index; control then reaches the library with 0.
  EXPECT_EQ(QCSDK_RemotePlay(n, -1), 1);
  EXPECT_EQ(CallsOf("octc_vod_close"),
            std::vector<std::string>{"octc_vod_close(1, " + std::to_string(vod) + ")"});
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  EXPECT_THAT(CallsOf("octc_vod_set_speed"), ElementsAre("octc_vod_set_speed(1, 0, 1)"));
}

TEST_F(OctPlayback, DownloadEndCodesAndTheWrittenFile) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("oct_down_" + std::to_string(::getpid())))
          .string();
  const std::string block(100, 'b');
  const struct {
    uint64_t received, total;
    int32_t status, flag, code;
  } rows[] = {{100, 200, 0, 0, 0}, {200, 200, 1, 0, 1},  {201, 200, 1, 4, 1},
              {199, 200, 1, 0, 2}, {100, 200, 0, 9, 3},  {200, 200, 0, -2, 3},
              {200, 200, 2, 0, 0}, {200, 200, -1, 1, 0}, {0x100000190, 0x100000190, 1, 0, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.received) + " " + std::to_string(row.status));
    ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 1, path.c_str()), 1);
    EXPECT_EQ(CallsOf("octc_down_open").back(), "octc_down_open(1, \"/rec/2.mp4\", 0)");
    const int32_t down = LastSub();
    OctDownData d{down,        reinterpret_cast<const uint8_t*>(block.data()), 100, 0, row.total,
                  row.received};
    Fire([&] { cb().downData(1, down, &d); });
    const uint32_t total = static_cast<uint32_t>(row.total);  // the low 32 bits
    ASSERT_FALSE(host.Downloads().empty());
    const auto progress = host.Downloads().back();
    EXPECT_EQ(std::tuple(progress.code, progress.progress, progress.total),
              std::tuple(QCSDK_DOWNLOAD_PROGRESS, int32_t(100 * 10000 / total), int32_t(total)));
    const std::size_t reports = host.Downloads().size();
    Fire([&] { cb().downState(1, down, row.status, row.flag); });
    if (row.code == 0) {
      EXPECT_EQ(host.Downloads().size(), reports);
      ASSERT_EQ(QCSDK_DownloadRemoteFile(n, -1, nullptr), 1);  // stops it
      EXPECT_EQ(CallsOf("octc_down_close").back(),
                "octc_down_close(1, " + std::to_string(down) + ")");
      continue;
    }
    ASSERT_EQ(host.Downloads().size(), reports + 1);
    const auto end = host.Downloads().back();
    EXPECT_EQ(std::tuple(end.channel, end.code, end.progress, end.total),
              std::tuple(n, row.code, 0, 0));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), block);
  }
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 2, path.c_str()), 0);  // beyond the list
  std::filesystem::remove(path);
}

// The RPC methods of each PTZ command, started and stopped, on device
// channel 3 ("channelid" 2).
TEST_F(OctFixture, PtzCommandsBecomeRpcMethods) {
  const auto [n, stream] = ConnectLive(1, 3);
  // Per command: the start method and members, the stop method and members
  // (besides "channelid").
  const char* const rows[15][4] = {
      {"ptz_move_start", R"("panLeft":0,"tiltUp":127,"zoomIn":0)", "ptz_move_stop", ""},
      {"ptz_move_start", R"("panLeft":0,"tiltUp":-127,"zoomIn":0)", "ptz_move_stop", ""},
      {"ptz_move_start", R"("panLeft":127,"tiltUp":0,"zoomIn":0)", "ptz_move_stop", ""},
      {"ptz_move_start", R"("panLeft":-127,"tiltUp":0,"zoomIn":0)", "ptz_move_stop", ""},
      {"ptz_patrol_locate", R"("patrolid":0,"speed":0)", "ptz_patrol_stop", R"("patrolid":0)"},
      {"ptz_fi_start", R"("focusFar":0,"irisOpen":254)", "ptz_fi_stop", ""},
      {"ptz_fi_start", R"("focusFar":0,"irisOpen":-254)", "ptz_fi_stop", ""},
      {"ptz_fi_start", R"("focusFar":254,"irisOpen":0)", "ptz_fi_stop", ""},
      {"ptz_fi_start", R"("focusFar":-254,"irisOpen":0)", "ptz_fi_stop", ""},
      {"ptz_move_start", R"("panLeft":0,"tiltUp":0,"zoomIn":127)", "ptz_move_stop", ""},
      {"ptz_move_start", R"("panLeft":0,"tiltUp":0,"zoomIn":-127)", "ptz_move_stop", ""},
      {"ptz_aux_on", R"("auxid":1)", "ptz_aux_off", R"("auxid":1)"},
      {"ptz_aux_on", R"("auxid":2)", "ptz_aux_off", R"("auxid":2)"},
      {"ptz_aux_on", R"("auxid":3)", "ptz_aux_off", R"("auxid":3)"},
      {"ptz_aux_on", R"("auxid":4)", "ptz_aux_off", R"("auxid":4)"},
  };
  std::vector<std::string> answers;
  for (int i = 1; i <= 30; ++i) answers.push_back("{\"sentcnt\":" + std::to_string(i) + "}");
  fake.QueueOctConfigResponses(answers);
  for (int32_t command = 0; command < 15; ++command) {
    for (int32_t start : {1, 0}) {
      SCOPED_TRACE(std::to_string(command) + (start ? " start" : " stop"));
      EXPECT_EQ(QCSDK_SendPTZCommand(n, command, start), 1);
      const std::string members = rows[command][start ? 1 : 3];
      const std::string expected = "{\"method\":\"" + std::string(rows[command][start ? 0 : 2]) +
                                   "\",\"param\":{\"channelid\":2" +
                                   (members.empty() ? "" : "," + members) + "},\"sentcnt\":";
      EXPECT_EQ(fake.OctConfigRequests().back().rfind(expected, 0), 0u)
          << fake.OctConfigRequests().back();
    }
  }
  // No such command: nothing sent. A device error or a failed exchange fails.
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 15, 1), 0);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, -1, 1), 0);
  EXPECT_EQ(fake.OctConfigRequests().size(), 30u);
  fake.QueueOctConfigResponses({R"({"sentcnt":31,"error":{"errorcode":5}})"});
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 0, 1), 0);
  fake.SetResult("octc_cmd_remote_config", -1);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 0, 1), 0);
}

std::string UserNotice(uint32_t channel, const std::string& payload) {
  const char be[4] = {static_cast<char>(channel >> 24), static_cast<char>(channel >> 16),
                      static_cast<char>(channel >> 8), static_cast<char>(channel)};
  return "qcsdk_user_data:" + std::string(be, 4) + payload;
}

// Two channels of one connection, numbers 0 and 1, watching device
// channels 3 and 4.
TEST_F(OctFixture, NoticesReachTheChannelsTheyName) {
  const auto [a, streamA] = ConnectLive(1, 3);
  const auto [b, streamB] = ConnectLive(2, 4);
  ASSERT_EQ(a, 0);
  ASSERT_EQ(b, 1);

  ASSERT_EQ(QCSDK_SendUserData(b, nullptr, 0), 1);
  ASSERT_EQ(QCSDK_SendUserData(a, "hi", 2), 1);
  const auto sent = fake.OctNotices();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(std::string(sent[0].begin(), sent[0].end()), UserNotice(1, ""));
  EXPECT_EQ(std::string(sent[1].begin(), sent[1].end()), UserNotice(0, "hi"));
  EXPECT_THAT(CallsOf("octc_cmd_send_notify"),
              ElementsAre("octc_cmd_send_notify(1, 1029, ptr, 20)",
                          "octc_cmd_send_notify(1, 1029, ptr, 22)"));
  fake.SetResult("octc_cmd_send_notify", -1);
  EXPECT_EQ(QCSDK_SendUserData(a, "hi", 2), 0);

  using Got = std::vector<HostRecorder::UserDataRecord>;
  const std::string all = UserNotice(0, "all");
  const struct {
    int32_t type;
    std::string text;
    Got got;
  } userRows[] = {{1029, all, {{0, "all"}, {1, "all"}}},
                  {1029, UserNotice(1, "one"), {{1, "one"}}},
                  {1029, UserNotice(4, "device channel"), {}},
                  {1029, UserNotice(0, ""), {{0, ""}, {1, ""}}},
                  {1029, all.substr(0, 19), {}},
                  {1029, "qcsdk_user_data;" + all.substr(16), {}},
                  {1030, all, {}}};
  for (const auto& row : userRows) {
    SCOPED_TRACE(row.text);
    const std::size_t from = host.UserData().size();
    Fire([&] { cb().notice(1, row.type, row.text.data(), static_cast<int32_t>(row.text.size())); });
    Got got = host.UserData();
    got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(from));
    std::sort(got.begin(), got.end());  // reports of several channels have no order
    EXPECT_EQ(got, row.got);
  }

  using States = std::vector<std::pair<int32_t, intptr_t>>;
  const struct {
    std::string text;
    States got;
  } recordingRows[] = {
      {R"({"channel":3,"start":{}})", {{0, 1}}},   {R"({"channel":4})", {{1, 0}}},
      {R"({"channel":4,"start":null})", {{1, 1}}}, {R"({"channel":"3","start":1})", {}},
      {R"({"channel":1,"start":1})", {}},          {R"({"channel":3,"start")", {}}};
  for (const auto& row : recordingRows) {
    SCOPED_TRACE(row.text);
    const std::size_t from = host.Events().size();
    Fire([&] { cb().notice(1, 1025, row.text.data(), static_cast<int32_t>(row.text.size())); });
    States got;
    const auto events = host.Events();
    for (std::size_t i = from; i < events.size(); ++i) {
      EXPECT_EQ(events[i].code, QCSDK_EVENT_RECORDING_STATE);
      EXPECT_EQ(events[i].value, 0);
      got.emplace_back(events[i].channel, events[i].data);
    }
    EXPECT_EQ(got, row.got);
  }
}

// Entries of the remote record list for the recording kind of the channel's
// device (5: ".mp4" of recording kind 4).
class OctRecordList : public OctFixture,
                      public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>> {};

TEST_P(OctRecordList, EntriesFromTheLibrarysList) {
  const auto [deviceType, entryKind] = GetParam();
  const auto [n, stream] = ConnectLive(1, 3, deviceType);
  const std::string fits(2047, 'p'), tooLong(2048, 'q');
  fake.SetOctRecList({{"first.mp4", "/rec/1.mp4", 8, 5, 9},
                      {"second.mp4", "/rec/2.mp4", 23, 59, 0},
                      {"long", fits, 1, 2, 3},
                      {"skipped", tooLong, 4, 5, 6},
                      {"last.mp4", "/rec/3.mp4", 12, 0, 0}});
  const int32_t dates[6] = {2026, 12, 1, 2027, 1, 5};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  const OctRecQuery query = fake.OctLastQuery();
  const OctRecQuery expected{3, {2026, 12, 1, 0, 0, 0, 0}, {2027, 1, 5, 23, 59, 59, 999}};
  EXPECT_EQ(std::memcmp(&query, &expected, sizeof query), 0);
  EXPECT_EQ(fake.CountCalls("octc_cmd_free_rec_file_list_result"), 1);
  const HostEvent list = host.Events().back();
  ASSERT_EQ(list.code, QCSDK_EVENT_REC_LIST);
  ASSERT_EQ(list.value, 4);
  const struct {
    const char *time, *name;
    std::string path;
  } entries[] = {{"080509", "first.mp4", "/rec/1.mp4"},
                 {"235900", "second.mp4", "/rec/2.mp4"},
                 {"010203", "long", fits},
                 {"120000", "last.mp4", "/rec/3.mp4"}};
  for (uint32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const auto* e = reinterpret_cast<const uint8_t*>(list.data) + i * QCSDK_REC_ENTRY_SIZE;
    std::string expect(4112, '\0');
    StoreLe32(reinterpret_cast<uint8_t*>(expect.data()), i);
    StoreLe32(reinterpret_cast<uint8_t*>(expect.data()) + 4, entryKind);
    std::memcpy(expect.data() + 8, entries[i].time, 6);
    std::memcpy(expect.data() + 16, entries[i].name, std::strlen(entries[i].name));
    std::memcpy(expect.data() + 2064, entries[i].path.data(), entries[i].path.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), expect.size()), expect);
  }
  // An empty list is a list; a refused query raises nothing.
  fake.SetOctRecList({});
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  EXPECT_EQ(host.Events().back().value, 0);
  EXPECT_EQ(host.Events().back().data, 0);
  fake.SetResult("octc_cmd_get_rec_file_list", -1);
  EXPECT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 0);
  EXPECT_EQ(host.Count(QCSDK_EVENT_REC_LIST), 2);
}

INSTANTIATE_TEST_SUITE_P(DeviceTypes, OctRecordList,
                         ::testing::Values(std::pair{5, 5u}, std::pair{2, 4u}, std::pair{4, 4u},
                                           std::pair{0, 4u}));

}  // namespace
}  // namespace qcsdk::test
