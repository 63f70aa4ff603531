// What the Nxl callbacks make of what the device sends: connect results, stream headers, frames,
// control messages, playback ends, recording lists, talk, downloads; the online-status query.

#include <filesystem>

#include "nxl_fixture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using NxlReportsTest = NxlFixture;

std::atomic<int> g_exits{0};
void CountExit(int32_t reason) {
  g_exits += reason == 2 ? 1 : 100;
}

TEST_F(NxlReportsTest, ConnectResultsBecomeLinkEvents) {
  for (const TableRow& row : Table("nxl_channel/connect_results.md")) {
    SCOPED_TRACE(row.Where());
    const auto result = static_cast<uint8_t>(row.Int("result"));
    const std::string& text = row.Text("text");
    const auto event = static_cast<int32_t>(row.Int("event"));
    int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
    if (row.Bool("from up")) {
      Fire([&] { cb().connect(n + 1, 1, ""); });
      WholeRecord(n, 2, 1);
      ASSERT_TRUE(AnsweredCall(n, 82, [&] { return QCSDK_GRPC_Begin(n); }));
    }
    g_exits = 0;
    g_pfnExitRCDlg = &CountExit;
    const std::size_t before = host.Events().size();
    Fire([&] { cb().connect(n + 1, result, text == "(null)" ? nullptr : text.c_str()); });
    g_pfnExitRCDlg = nullptr;
    std::vector<int32_t> raised = host.Codes();
    raised.erase(raised.begin(), raised.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_EQ(raised, event >= 0 ? std::vector<int32_t>{event} : std::vector<int32_t>{});
    EXPECT_EQ(g_exits, row.Bool("closes dialog") ? 1 : 0);
    EXPECT_EQ(FindChannel(n) == nullptr, event >= 0);
  }
}

TEST_F(NxlReportsTest, StreamHeaderTagTable) {
  const int32_t n = ConnectLive();
  for (const TableRow& row : Table("nxl_channel/stream_header_tags.md")) {
    const auto version = static_cast<uint8_t>(row.Int("version"));
    for (const bool extended : {false, true}) {  // extended: device type 4
      SCOPED_TRACE(row.Where() + (extended ? " extended" : ""));
      LiveHeader(n, version, 1, extended);
      const StreamInfoRecord r = Record(n);
      for (const int offset : {36, 38, 40, 48, 50, 52, 54, 56, 58, 64}) {
        EXPECT_EQ(LoadLe16(r.data() + offset),
                  extended && offset == 36 ? 4 : row.Int("word " + std::to_string(offset)))
            << "word " << offset;
      }
      EXPECT_EQ(std::tuple(LoadLe16(r.data() + 44), LoadLe16(r.data() + 46)), std::tuple(704, 576));
      EXPECT_EQ(std::tuple(LoadLe32(r.data() + 60), r[66]), std::tuple(300u, 0));
    }
  }
  // The standard word: 0 means 30 frames a second, anything else 25.
  const uint32_t standards[][3] = {{0, 1, 30}, {1, 0, 25}, {0x100, 0, 25}};
  for (const auto& s : standards) {
    LiveHeader(n, 0x05, s[0]);
    EXPECT_EQ(LoadLe16(Record(n).data() + 42), s[1]) << s[0];
    EXPECT_EQ(LoadLe16(Record(n).data() + 48), s[2]) << s[0];
  }
  LiveHeader(n, 0x0A, 1, false, 1);  // version 0x0A: audio only when data byte 35 is 0
  EXPECT_EQ(LoadLe16(Record(n).data() + 40), 0);
  // A whole record needs 98 bytes with "QFH" at data bytes 34..36.
  std::vector<uint8_t> whole(98);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<uint8_t>(i * 7 + 1);
  whole[0] = 0;
  std::memcpy(whole.data() + 2, "QVS\x05", 4);
  std::memcpy(whole.data() + 34, "QFH", 3);
  Fire([&] { cb().live(n + 1, 8, whole.data(), 98); });
  const StreamInfoRecord got = Record(n);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + 2));
  Fire([&] { cb().live(n + 1, 8, whole.data(), 97); });
  EXPECT_EQ(LoadLe16(Record(n).data() + 36), 2);  // decoded from the tag
  EXPECT_EQ(Record(n)[66], 0);
}

TEST_F(NxlReportsTest, FrameTypesAndControlMessages) {
  const int32_t n = ConnectLive(0x05);  // video codec word 1: frames reach the raw callback
  const uint8_t frame[12] = {'Q', 'V', 'S', 0, 0, 0, 0, 0, 1, 2, 3, 4};
  for (const bool playback : {false, true}) {
    const std::size_t before = host.Raw().size();
    Fire([&] {
      for (int type = 0; type < 256; ++type) {
        if (type == 8 || type == '2' || type == '9' || type == 'w') continue;
        (playback ? cb().playback : cb().live)(n + 1, static_cast<uint8_t>(type), frame, 12);
      }
    });
    std::vector<int32_t> types;
    for (const auto& r : host.Raw()) types.push_back(r.type);
    types.erase(types.begin(), types.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_THAT(types,
                ElementsAre(QCSDK_FRAME_KEY, QCSDK_FRAME_B, QCSDK_FRAME_P, QCSDK_FRAME_AUDIO));
  }
  // The 8-byte "QVS" prefix is dropped only under a whole device record.
  EXPECT_EQ(host.Raw().back().length, 12);
  WholeRecord(n, 2, 0);
  Fire([&] {
    cb().live(n + 1, 1, frame, 12);
    cb().live(n + 1, 1, frame + 1, 11);
  });
  EXPECT_EQ(host.Raw()[host.Raw().size() - 2].length, 4);
  EXPECT_EQ(host.Raw().back().length, 11);

  for (const TableRow& row : Table("nxl_channel/control_messages.md")) {
    const std::string& data = row.Text("message");
    const auto event = static_cast<int32_t>(row.Int("event"));
    const std::size_t before = host.Events().size();
    Fire([&] {
      cb().live(n + 1, 8, reinterpret_cast<const uint8_t*>(data.data()),
                static_cast<int32_t>(data.size()));
    });
    const auto events = host.Events();
    ASSERT_EQ(events.size(), before + (event >= 0 ? 1 : 0)) << row.Where();
    EXPECT_EQ(events.back().code, event >= 0 ? event : events[before - 1].code);
    if (event == QCSDK_EVENT_RECORDING_STATE) {
      EXPECT_EQ(events.back().data, data[1]);
    }
  }
  EXPECT_THAT(host.UserData(), ElementsAre(HostRecorder::UserDataRecord(n, "data")));
  // A link id whose registry slot is empty: every callback drops its message.
  const std::size_t events = host.Events().size(), raw = host.Raw().size();
  Fire([&] {
    cb().connect(n + 2, 2, "");
    cb().live(n + 2, 1, frame, 12);
    cb().playback(n + 2, '2', frame, 12);
    cb().fileList(n + 2, frame, 7);
    cb().talk(n + 2, 'B', frame, 12);
    cb().text(n + 2, 82, frame, 12);
    cb().download(n + 2, 34, frame, 12, 12);
  });
  EXPECT_EQ(std::tuple(host.Events().size(), host.Raw().size()), std::tuple(events, raw));
  EXPECT_TRUE(host.Talk().empty() && host.Downloads().empty());
}

TEST_F(NxlReportsTest, PlaybackHeadersAndEnds) {
  const int32_t n = ConnectLive(0x05);
  std::vector<uint8_t> play(32, 0);  // a playback header starts at byte 0
  std::memcpy(play.data(), "QVS\x06", 4);
  StoreLe32(play.data() + 4, 352);
  StoreLe32(play.data() + 12, 750);
  const std::pair<uint8_t, int32_t> ends[] = {{'2', 13}, {'9', 14}, {'w', 15}};
  for (const auto& [type, event] : ends) {
    for (const bool onLive : {false, true}) {  // an end may come on either callback
      SCOPED_TRACE(std::string(1, static_cast<char>(type)) + (onLive ? " live" : ""));
      Fire([&] { cb().playback(n + 1, 8, play.data(), 32); });
      EXPECT_EQ(LoadLe16(Record(n).data() + 44), 352);
      EXPECT_EQ(LoadLe32(Record(n).data() + 60), 750u);
      EXPECT_EQ(LoadLe16(Record(n).data() + 64), 2);
      LiveHeader(n, 0x04);  // kept during the playback, not applied
      EXPECT_EQ(LoadLe16(Record(n).data() + 44), 352);
      Fire([&] { (onLive ? cb().live : cb().playback)(n + 1, type, nullptr, 0); });
      const auto codes = host.Codes();
      EXPECT_THAT(std::vector<int32_t>(codes.end() - 2, codes.end()),
                  ElementsAre(event, QCSDK_EVENT_STREAM_CHANGED));
      EXPECT_EQ(LoadLe16(Record(n).data() + 44), 704);  // the held live header
      EXPECT_EQ(LoadLe16(Record(n).data() + 64), 0);
      LiveHeader(n, 0x05);  // the playback is over: applied at once
      EXPECT_EQ(LoadLe16(Record(n).data() + 64), 1);
    }
  }
  // A playback header tagged at byte 2: only width, height, frames count; its tag matches no row.
  const uint8_t tagged[12] = {0x60, 0x01, 'Q', 'V', 'S', 0, 0, 0, 0xEE, 0x02, 0, 0};
  Fire([&] { cb().playback(n + 1, 8, tagged, 12); });
  const StreamInfoRecord r = Record(n);
  EXPECT_EQ(std::tuple(LoadLe16(r.data() + 44), LoadLe16(r.data() + 46)), std::tuple(352, 'S'));
  EXPECT_EQ(std::tuple(LoadLe32(r.data() + 60), LoadLe16(r.data() + 36)), std::tuple(750u, 0));
}

TEST_F(NxlReportsTest, RecordingListEntries) {
  const int32_t n = ConnectLive();  // device channel 1
  const Table listed("nxl_channel/rec_list_entries.md");
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 7};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  const int entrySize[7] = {0, 7, 10, 10, 10, 7, 0};                  // by device type; 0: no list
  const char* ext[6] = {"sv4", "sv5", "sv6", "mp4", "mp4", nullptr};  // kind: index + 1
  for (uint16_t type = 0; type < 7; ++type) {
    for (uint16_t kind = 0; kind < 6; ++kind) {
      SCOPED_TRACE("device type " + std::to_string(type) + ", kind " + std::to_string(kind));
      WholeRecord(n, type, 0, kind);
      // Two entries and one byte short of a third, which adds nothing.
      const bool seven = entrySize[type] == 7;
      const std::string answer = seven ? "C123456D654321E65432" : "D123456ABCE000001XYZF00000QRS";
      Fire([&] {
        cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(answer.data()), seven ? 20 : 29);
      });
      const HostEvent e = host.Events().back();
      if (entrySize[type] == 0 || ext[kind] == nullptr) {
        EXPECT_EQ(e.code, QCSDK_EVENT_REC_LIST_FAILED);
        continue;
      }
      ASSERT_EQ(e.code, QCSDK_EVENT_REC_LIST);
      ASSERT_EQ(e.value, 2);
      for (const TableRow& want : listed) {
        if (want.Int("entry size") != entrySize[type]) continue;
        const auto* entry =
            reinterpret_cast<const uint8_t*>(e.data) + want.Int("entry") * kRecEntrySize;
        const std::string texts[3] = {want.Text("name"), want.Text("file name") + "." + ext[kind],
                                      want.Text("path") + "." + ext[kind]};
        EXPECT_EQ(LoadLe32(entry), want.Int("entry"));
        EXPECT_EQ(LoadLe32(entry + 4), kind + 1u);
        EXPECT_STREQ(reinterpret_cast<const char*>(entry + 8), texts[0].c_str());
        EXPECT_STREQ(reinterpret_cast<const char*>(entry + 16), texts[1].c_str());
        EXPECT_STREQ(reinterpret_cast<const char*>(entry + 2064), texts[2].c_str());
        // Nothing but zeros around the three texts.
        EXPECT_EQ(static_cast<std::size_t>(std::count(entry + 8, entry + kRecEntrySize, 0)),
                  kRecEntrySize - 8 - texts[0].size() - texts[1].size() - texts[2].size());
      }
    }
  }
  Fire([&] { cb().fileList(n + 1, nullptr, 0); });
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_REC_LIST_FAILED);  // kind 5 still
  WholeRecord(n, 2, 0, 3);
  Fire([&] { cb().fileList(n + 1, nullptr, 0); });
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_REC_LIST);
  EXPECT_EQ(host.Events().back().value, 0);
}

TEST_F(NxlReportsTest, TalkStepByStep) {
  const int32_t n = QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "pw", 0, nullptr);
  const uint8_t audio[3] = {'x', 'y', 'z'}, bytes[4] = {0x00, 0xFF, 0x41, 0x7F};
  for (const TableRow& row : Table("nxl_channel/talk_steps.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& action = row.Text("action");
    const size_t before = host.Talk().size();
    fake.ClearCalls();
    if (action == "start" || action == "stop" || action == "send") {
      EXPECT_EQ(action == "send"    ? QCSDK_SendTalkData(n, bytes, 4)
                : action == "start" ? QCSDK_StartTalk(n)
                                    : QCSDK_StopTalk(n),
                row.Int("result"));
    } else if (action == "link") {
      Fire([&] { cb().connect(n + 1, 1, ""); });
      LiveHeader(n, 0x05);
      fake.ClearCalls();
    } else {
      Fire([&] {
        for (int kind = 0; kind < 256; ++kind) {
          const bool other = kind != 'A' && kind != 'B' && kind != 'C';
          if (action == "others" ? other : kind == row.Int("action"))
            cb().talk(n + 1, static_cast<uint8_t>(kind), audio, 3);
        }
      });
    }
    const std::string& sent = row.Text("sent");
    EXPECT_EQ(Sent(), sent.empty() ? std::vector<std::string>{} : std::vector<std::string>{sent});
    EXPECT_EQ(host.TalkSince(before, n), row.Text("report"));
  }
}

TEST_F(NxlReportsTest, DownloadTypes) {
  const int32_t n = ConnectLive(0x10);
  const std::string file = ::testing::TempDir() + "qcsdk_nxl_reports.bin";
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 6};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>("D123456ABC"), 10); });
  // Download messages: code 0 carries data, 1 to 4 end the download.
  const std::map<int, int32_t> codes = {{33, 0}, {37, 0}, {41, 0}, {34, 1},
                                        {36, 2}, {35, 3}, {118, 4}};
  const uint8_t bytes[10] = {};
  auto device = [&](int type) {
    Fire([&] { cb().download(n + 1, static_cast<uint8_t>(type), bytes, 10, 40); });
  };
  for (int type = 0; type < 256; ++type) {
    ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 0, file.c_str()), 1);
    const std::size_t before = host.Downloads().size();
    device(type);
    const auto downloads = host.Downloads();
    const auto it = codes.find(type);
    ASSERT_EQ(downloads.size(), before + (it != codes.end() ? 1 : 0)) << type;
    if (it != codes.end()) {
      EXPECT_EQ(downloads.back().code, it->second) << type;
      EXPECT_EQ(downloads.back().progress, it->second == 0 ? 2500 : 0) << type;
    }
    if (it == codes.end() || it->second == 0) device(34);  // the device ends it
  }
  // After a stop, the device's blocks up to its end message are the stopped download's: the end
  // is told, the next download's file holds only its own block.
  ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 0, file.c_str()), 1);
  ASSERT_EQ(QCSDK_DownloadRemoteFile(n, 0, file.c_str()), 1);
  const std::size_t before = host.Downloads().size();
  for (int type : {33, 36, 41}) device(type);
  ASSERT_EQ(host.Downloads().size(), before + 2);
  EXPECT_EQ(host.Downloads()[before].code, 2);
  EXPECT_EQ(host.Downloads().back().progress, 2500);
  ASSERT_EQ(QCSDK_DownloadRemoteFile(n, -1, nullptr), 1);
  EXPECT_EQ(std::filesystem::file_size(file), 10u);
  std::remove(file.c_str());
}

TEST_F(NxlReportsTest, OnlineStatusOfADeviceNumber) {
  for (const TableRow& row : Table("nxl_channel/online_status.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& number = row.Text("number");
    const std::string& call = row.Text("call");
    fake.ClearCalls();
    fake.SetResult("QVC_WANGetChannelCount", row.Int("library result"));
    fake.SetResult("octc_get_dev_online_status", row.Int("library result"));
    EXPECT_EQ(QCSDK_GetNxlOnlineStatus(number == "(null)" ? nullptr : number.c_str(),
                                       static_cast<int32_t>(row.Int("timeout"))),
              row.Int("status"));
    auto calls = fake.Calls();
    // The OCT holder is given back after every answer that is not an error.
    if (call.rfind("octc", 0) == 0 && row.Int("status") >= 0) {
      ASSERT_EQ(calls.size(), 2u);
      EXPECT_EQ(calls.back().rfind("octc_free_dev_online_status(", 0), 0u);
      calls.pop_back();
    }
    EXPECT_THAT(calls, ElementsAreArray(call.empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{call}));
  }
}

}  // namespace
}  // namespace qcsdk::test
