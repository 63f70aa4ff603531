// The tables of the OCT channel: the stream record from media information, frame types, playback
// and download states, speeds and seeks, PTZ commands, notices both ways, record-list entries.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "oct_channel_fixture.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/oct/oct_channel.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using namespace std::string_literals;

int32_t Cell(const TableRow& row, const char* column) {
  return static_cast<int32_t>(row.Int(column));
}

TEST(OctStreamInfo, EveryMappingOfTheMediaInformation) {
  for (const TableRow& row : Table("oct_channel/stream_info_from_media.md")) {
    SCOPED_TRACE(row.Where());
    const auto in = [&row](const char* column) { return Cell(row, column); };
    OctMediaInfo m = OctMedia(in("duration ms"), in("frame rate x10000"), in("audio codec"));
    m.video_codec = in("video codec");
    m.audio_channels = 2;  // not mono, so that a record always saying 1 fails
    // The audio values at 24, 20 and 28; every byte not set here is 0.
    StreamInfoRecord expected{};
    std::memcpy(expected.data() + 32, "QFH\x01", 4);
    const int32_t words[] = {in("device type"), in("video"),    in("audio present"), 0,    640, 360,
                             in("rate num"),    in("rate den"), in("audio"),         8000, 2,   16};
    for (std::size_t i = 0; i < std::size(words); ++i)
      StoreLe16(expected.data() + 36 + 2 * i, static_cast<uint16_t>(words[i]));
    StoreLe32(expected.data() + 60, static_cast<uint32_t>(in("total frames")));
    StoreLe16(expected.data() + 64, static_cast<uint16_t>(in("recording kind")));
    EXPECT_EQ(OctChannel::BuildStreamInfo(m, in("device kind")), expected);
  }
}

TEST_F(OctFixture, LiveFramesAndAudioReachTheHostByTheirType) {
  const auto [n, stream] = ConnectLive();
  const uint8_t data[64] = {0, 0, 0, 1, 0x67};
  for (const TableRow& row : Table("oct_channel/live_frame_types.md")) {
    SCOPED_TRACE(row.Where());
    const auto kind = Cell(row, "data kind"), size = Cell(row, "size");
    const auto hostType = Cell(row, "host frame type");
    const std::size_t before = host.Raw().size();
    OctFrame frame{Cell(row, "frame type"), data, size, 0};
    OctAudio audio{data, size, 0};
    const void* record = kind == 3 ? static_cast<const void*>(&audio) : &frame;
    Fire([&] { cb().streamData(1, stream, kind, record); });
    ASSERT_EQ(host.Raw().size(), before + (hostType >= 0 ? 1 : 0));
    if (hostType < 0) continue;
    const auto raw = host.Raw().back();
    EXPECT_EQ(std::tuple(raw.channel, raw.type, raw.length), std::tuple(n, hostType, size));
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
  std::string SetSpeed(const std::string& speed) const {
    return "octc_vod_set_speed(1, " + std::to_string(vod) + ", " + speed + ")";
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

  for (const TableRow& row : Table("oct_channel/playback_end_states.md")) {
    SCOPED_TRACE(row.Where());
    const auto event = Cell(row, "event");
    Play(0);
    const std::size_t events = host.Events().size();
    Fire([&] { cb().vodState(1, vod, Cell(row, "status"), Cell(row, "flag")); });
    const std::vector<HostEvent> all = host.Events();
    ASSERT_EQ(all.size(), events + (event != 0 ? 2 : 0));
    if (event != 0) {  // the end, then the live record applied again
      const HostEvent& e = all[events];
      EXPECT_EQ(std::tuple(e.channel, e.code, e.data, e.value), std::tuple(n, event, 0, 0));
      EXPECT_EQ(all[events + 1].code, QCSDK_EVENT_STREAM_CHANGED);
    }
    const std::size_t raw = host.Raw().size();
    VideoFrame(true);
    EXPECT_EQ(host.Raw().size(), raw + (row.Bool("keeps delivering") ? 1 : 0));
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
  std::vector<std::string> expected;
  for (const TableRow& row : Table("oct_channel/playback_speeds.md")) {
    EXPECT_EQ(QCSDK_RemotePlayControl(n, Cell(row, "command"), 0), 1) << row.Where();
    expected.push_back(SetSpeed(row.Text("speed")));
  }
  EXPECT_EQ(CallsOf("octc_vod_set_speed"), expected);
  // A refused speed leaves the index alone.
  fake.SetResult("octc_vod_set_speed", -1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 3, 0), 0);
  fake.SetResult("octc_vod_set_speed", 0);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  EXPECT_EQ(CallsOf("octc_vod_set_speed").back(), SetSpeed("16"));

  // Seeks turn frame numbers into milliseconds at the playback's rate.
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 50), 0);  // no playback record yet
  std::vector<std::string> skips;
  for (const TableRow& row : Table("oct_channel/playback_seeks.md")) {
    Media(OctMedia(60000, Cell(row, "frame rate x10000")), vod, true);
    EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, Cell(row, "frame")), 1);
    skips.push_back("octc_vod_skip_to(1, " + std::to_string(vod) + ", " + row.Text("ms") + ")");
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
  const auto path =
      std::filesystem::temp_directory_path() / ("oct_down_" + std::to_string(getpid()));
  const std::vector<uint8_t> block(100, 'b');
  for (const TableRow& row : Table("oct_channel/download_end_codes.md")) {
    SCOPED_TRACE(row.Where());
    const auto code = Cell(row, "end code");
    ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 1, path.string().c_str()), 1);
    EXPECT_EQ(CallsOf("octc_down_open").back(), "octc_down_open(1, \"/rec/2.mp4\", 0)");
    const int32_t down = LastSub();
    const auto total64 = static_cast<uint64_t>(row.Int("total"));
    OctDownData d{down, block.data(), 100, 0, total64, static_cast<uint64_t>(row.Int("received"))};
    Fire([&] { cb().downData(1, down, &d); });
    const auto total = static_cast<uint32_t>(total64);  // the low 32 bits
    ASSERT_FALSE(host.Downloads().empty());
    const auto progress = host.Downloads().back();
    EXPECT_EQ(std::tuple(progress.code, progress.progress, progress.total),
              std::tuple(QCSDK_DOWNLOAD_PROGRESS, int32_t(100 * 10000 / total), int32_t(total)));
    const std::size_t reports = host.Downloads().size();
    Fire([&] { cb().downState(1, down, Cell(row, "status"), Cell(row, "flag")); });
    ASSERT_EQ(host.Downloads().size(), reports + (code != 0 ? 1 : 0));
    if (code == 0) {
      ASSERT_EQ(QCSDK_DownloadRemoteFile(n, -1, nullptr), 1);  // stops it
      EXPECT_EQ(CallsOf("octc_down_close").back(),
                "octc_down_close(1, " + std::to_string(down) + ")");
      continue;
    }
    const auto end = host.Downloads().back();
    EXPECT_EQ(std::tuple(end.channel, end.code, end.progress, end.total),
              std::tuple(n, code, 0, 0));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string(100, 'b'));
  }
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 2, path.string().c_str()), 0);  // beyond the list
  // Reports that found the channel before their download was replaced (the library does not wait
  // for them) reach neither the next download's file nor the host.
  ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 1, path.string().c_str()), 1);
  const int32_t old = LastSub();
  ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 1, path.string().c_str()), 1);
  const auto channel = std::dynamic_pointer_cast<OctChannel>(FindChannel(n));
  const std::size_t reports = host.Downloads().size();
  OctDownData d{old, block.data(), 100, 0, 200, 200};
  Fire([&] { channel->OnDownData(old, &d), channel->OnDownState(old, 1, 0); });
  d.handle = LastSub();
  Fire([&] { cb().downData(1, d.handle, &d); });
  ASSERT_EQ(host.Downloads().size(), reports + 1);
  ASSERT_EQ(QCSDK_DownloadRemoteFile(n, -1, nullptr), 1);
  EXPECT_EQ(std::filesystem::file_size(path), 100u);
  std::filesystem::remove(path);
}

// Two channels of one connection, numbers 0 and 1, watching device channels 3 and 4.
TEST_F(OctFixture, PtzCommandsBecomeRpcMethodsAndNoticesReachTheChannelsTheyName) {
  const auto [a, streamA] = ConnectLive(1, 3);
  const auto [b, streamB] = ConnectLive(2, 4);
  ASSERT_EQ(std::pair(a, b), std::pair(0, 1));
  // The RPC methods of each PTZ command, started and stopped, on device channel 3 ("channelid" 2).
  std::vector<std::string> answers;
  for (int i = 1; i <= 30; ++i) answers.push_back("{\"sentcnt\":" + std::to_string(i) + "}");
  fake.QueueOctConfigResponses(answers);
  for (const TableRow& row : Table("oct_channel/ptz_rpc_methods.md")) {
    for (const std::string phase : {"start", "stop"}) {
      SCOPED_TRACE(row.Where() + " " + phase);
      EXPECT_EQ(QCSDK_SendPTZCommand(a, Cell(row, "command"), phase == "start"), 1);
      const std::string& members = row.Text(phase + " members");
      const std::string expected = "{\"method\":\"" + row.Text(phase + " method") +
                                   "\",\"param\":{\"channelid\":2" +
                                   (members.empty() ? "" : "," + members) + "},\"sentcnt\":";
      EXPECT_THAT(fake.OctConfigRequests().back(), ::testing::StartsWith(expected));
    }
  }
  // No such command: nothing sent. A device error or a failed exchange fails.
  EXPECT_EQ(QCSDK_SendPTZCommand(a, 15, 1), 0);
  EXPECT_EQ(QCSDK_SendPTZCommand(a, -1, 1), 0);
  EXPECT_EQ(fake.OctConfigRequests().size(), 30u);
  fake.QueueOctConfigResponses({""});  // an empty answer is no answer, not the last call's again
  EXPECT_EQ(QCSDK_SendPTZCommand(a, 0, 1), 0);
  fake.QueueOctConfigResponses({R"({"sentcnt":32,"error":{"errorcode":5}})"});
  EXPECT_EQ(QCSDK_SendPTZCommand(a, 0, 1), 0);
  fake.SetResult("octc_cmd_remote_config", -1);
  EXPECT_EQ(QCSDK_SendPTZCommand(a, 0, 1), 0);

  ASSERT_EQ(QCSDK_SendUserData(b, nullptr, 0), 1);
  ASSERT_EQ(QCSDK_SendUserData(a, "hi", 2), 1);
  const auto sent = fake.OctNotices();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(std::string(sent[0].begin(), sent[0].end()), "qcsdk_user_data:\0\0\0\1"s);
  EXPECT_EQ(std::string(sent[1].begin(), sent[1].end()), "qcsdk_user_data:\0\0\0\0hi"s);
  EXPECT_THAT(CallsOf("octc_cmd_send_notify"),
              ElementsAre("octc_cmd_send_notify(1, 1029, ptr, 20)",
                          "octc_cmd_send_notify(1, 1029, ptr, 22)"));
  fake.SetResult("octc_cmd_send_notify", -1);
  EXPECT_EQ(QCSDK_SendUserData(a, "hi", 2), 0);

  for (const TableRow& row : Table("oct_channel/user_notices.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& text = row.Text("notice");
    const std::size_t from = host.UserData().size();
    Fire(
        [&] { cb().notice(1, Cell(row, "type"), text.data(), static_cast<int32_t>(text.size())); });
    auto got = host.UserData();
    got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(from));
    std::ranges::sort(got);  // reports of several channels have no order
    std::vector<HostRecorder::UserDataRecord> expected;
    for (int32_t channel : {0, 1})
      if (row.Bool("to " + std::to_string(channel)))
        expected.emplace_back(channel, row.Text("payload"));
    EXPECT_EQ(got, expected);
  }

  // Each event: code, channel, data, value.
  using States = std::vector<std::tuple<int32_t, int32_t, intptr_t, int32_t>>;
  for (const TableRow& row : Table("oct_channel/recording_notices.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& text = row.Text("notice");
    const std::size_t from = host.Events().size();
    Fire([&] { cb().notice(1, 1025, text.data(), static_cast<int32_t>(text.size())); });
    States got, expected;
    const auto events = host.Events();
    for (std::size_t i = from; i < events.size(); ++i)
      got.emplace_back(events[i].code, events[i].channel, events[i].data, events[i].value);
    if (row.Bool("reported"))
      expected = {{QCSDK_EVENT_RECORDING_STATE, Cell(row, "host channel"), Cell(row, "state"), 0}};
    EXPECT_EQ(got, expected);
  }
}

// Record-list entries for the channel's device type (5: ".mp4" of recording kind 4).
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
  ASSERT_EQ(std::pair(list.code, list.value), std::pair(QCSDK_EVENT_REC_LIST, 4));
  const std::tuple<std::string, std::string, std::string> entries[] = {
      {"080509", "first.mp4", "/rec/1.mp4"},
      {"235900", "second.mp4", "/rec/2.mp4"},
      {"010203", "long", fits},
      {"120000", "last.mp4", "/rec/3.mp4"}};
  for (uint32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const auto& [time, name, path] = entries[i];
    std::string expect(4112, '\0');
    StoreLe32(reinterpret_cast<uint8_t*>(expect.data()), i);
    StoreLe32(reinterpret_cast<uint8_t*>(expect.data()) + 4, entryKind);
    expect.replace(8, time.size(), time).replace(16, name.size(), name);
    expect.replace(2064, path.size(), path);
    const char* entry = reinterpret_cast<const char*>(list.data) + i * QCSDK_REC_ENTRY_SIZE;
    EXPECT_EQ(std::string(entry, expect.size()), expect);
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
