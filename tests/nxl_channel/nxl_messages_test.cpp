// The typed messages each channel operation sends, and remote lists.
#include <algorithm>

#include "nxl_fixture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using NxlMessagesTest = NxlFixture;

TEST_F(NxlMessagesTest, NothingIsSentBeforeTheLinkIsConnected) {
  const int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
  fake.ClearCalls();
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 6};
  EXPECT_EQ(QCSDK_EnableVideoData(n, 1), 0);
  EXPECT_EQ(QCSDK_StartTalk(n), 0);
  EXPECT_EQ(QCSDK_SendTalkData(n, "x", 1), 0);
  EXPECT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 0);
  EXPECT_EQ(QCSDK_RemotePlay(n, 0), 0);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 0);
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 0, "/tmp/qcsdk-never.bin"), 0);
  EXPECT_EQ(QCSDK_RemoteRecording(n, 1), 0);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 0, 1), 0);
  EXPECT_EQ(QCSDK_GRPC_Begin(n), 0);
  EXPECT_EQ(QCSDK_RemoteConfig(n, 0), 0);
  // Only the download stop (always sent first) went out.
  EXPECT_THAT(Sent(), ElementsAre("36"));
}

TEST_F(NxlMessagesTest, OperationsSendTheirMessages) {
  const int32_t n = ConnectLive(0x10);  // device type 3
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_EnableVideoData(n, 1), 1);
  EXPECT_EQ(QCSDK_EnableVideoData(n, 0), 1);
  EXPECT_EQ(QCSDK_StartTalk(n), 1);
  EXPECT_EQ(QCSDK_StartTalk(n), 0);               // already requested
  EXPECT_EQ(QCSDK_SendTalkData(n, "abc", 3), 0);  // not accepted yet
  Fire([&] { cb().talk(n + 1, 'B', nullptr, 0); });
  EXPECT_EQ(QCSDK_SendTalkData(n, "abc", 3), 1);
  Fire([&] { cb().talk(n + 1, 'A', reinterpret_cast<const uint8_t*>("zz"), 2); });
  Fire([&] { cb().talk(n + 1, 'Q', nullptr, 0); });  // unknown kind
  EXPECT_EQ(QCSDK_StopTalk(n), 1);
  EXPECT_EQ(QCSDK_RemoteRecording(n, 1), 1);
  EXPECT_EQ(QCSDK_RemoteRecording(n, 0), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 14, 1), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 0, 0x100), 1);  // any non-zero switch starts
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 15, 1), 0);
  EXPECT_EQ(QCSDK_SendUserData(n, "hi", 2), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 3, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 4, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 6, 0), 0);
  EXPECT_THAT(Sent(),
              ElementsAre("112", "117", "64", "65:abc", "67", "96:29000000", "96:2a000000",
                          "96:2600007f", "96:0100007f", "8:ALhi", "56", "55", "51", "52", "53"));
  auto talk = host.Talk();
  ASSERT_EQ(talk.size(), 2u);
  EXPECT_EQ(talk[0].audioType, 8);  // device type 3, recording kind 1
  EXPECT_EQ(talk[1].length, 2);
}

TEST_F(NxlMessagesTest, SeekMovesTheFrameCount) {
  const int32_t n = ConnectLive();  // total frames 300
  fake.ClearCalls();
  StreamInfo info{};
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 120), 1);
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.framesReceived, 120);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 0), 1);
  EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, 301), 1);
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.framesReceived, 120);
  EXPECT_THAT(Sent(), ElementsAre("68:78000000", "68:00000000", "68:2d010000"));
}

TEST_F(NxlMessagesTest, FileListEntriesPlayAndDownload) {
  const int32_t n = ConnectLive(0x04);  // device type 1: 7-byte entries, kind 0
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 7};
  fake.ClearCalls();
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  EXPECT_THAT(Sent(), ElementsAre("16:20240506000000"
                                  "20240507000000"));
  const char answer[] = "C123456D654321xyz";  // two entries and 3 bytes that add nothing
  Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(answer), 17); });
  auto events = host.Events();
  ASSERT_EQ(events.back().code, QCSDK_EVENT_REC_LIST);
  ASSERT_EQ(events.back().value, 2);
  // The event's list is read inside the callback in real hosts; here the
  // channel keeps it until the next list, so it can be read afterwards.
  const auto* entry = reinterpret_cast<const uint8_t*>(events.back().data);
  EXPECT_EQ(LoadLe32(entry + 4), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(entry + 8), "123456");
  EXPECT_STREQ(reinterpret_cast<const char*>(entry + 16), "01123456.sv4");
  EXPECT_STREQ(reinterpret_cast<const char*>(entry + 2064), "C:\\QdvrFile\\20240506\\01123456.sv4");
  EXPECT_EQ(LoadLe32(entry + kRecEntrySize), 1u);
  // Nothing but zeros follows the texts (name, file name, path) of either entry.
  for (const uint8_t* e : {entry, entry + kRecEntrySize}) {
    const auto length = [e](int at) { return strlen(reinterpret_cast<const char*>(e + at)); };
    EXPECT_EQ(kRecEntrySize - 8 - std::count(e + 8, e + kRecEntrySize, 0),
              length(8) + length(16) + length(2064));
  }

  fake.ClearCalls();
  EXPECT_EQ(QCSDK_RemotePlay(n, -1), 1);
  EXPECT_EQ(QCSDK_RemotePlay(n, 2), 0);
  EXPECT_EQ(QCSDK_RemotePlay(n, 1), 1);
  const std::string file = ::testing::TempDir() + "qcsdk_nxl_download.bin";
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 0, file.c_str()), 1);
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 5, file.c_str()), 0);
  EXPECT_THAT(Sent(), ElementsAre("54", "54", "54", "48:D:\\QdvrFile\\20240506\\01654321.sv4", "36",
                                  "32:C:\\QdvrFile\\20240506\\01123456.sv4", "36"));
  // Download data and its end codes.
  EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 0, file.c_str()), 1);
  const uint8_t bytes[10] = {};
  Fire([&] {
    cb().download(n + 1, 33, bytes, 10, 40);
    cb().download(n + 1, 37, bytes, 10, 40);
    cb().download(n + 1, 99, bytes, 10, 40);  // no defined code: dropped
    cb().download(n + 1, 118, nullptr, 0, 0);
  });
  auto downloads = host.Downloads();
  ASSERT_EQ(downloads.size(), 3u);
  EXPECT_EQ(downloads[0].progress, 2500);
  EXPECT_EQ(downloads[1].progress, 5000);
  EXPECT_EQ(downloads[2].code, 4);
  std::remove(file.c_str());
  // Dates out of range do not lengthen the query.
  fake.ClearCalls();
  const int32_t odd[6] = {12024, 5, 6, 2024, -1, 7};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, odd), 1);
  EXPECT_THAT(Sent(), ElementsAre("16:1202405060000002024-10700000"));
}

TEST_F(NxlMessagesTest, TenByteEntriesAndUndecodableLists) {
  const int32_t n = ConnectLive(0x05);  // device type 2: 10-byte entries, kind 1
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 6};
  ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
  WholeRecord(n, 2, 0, 3);                          // now recording kind 3
  const char answer[] = "D123456ABCE000001XYZabc";  // 23 bytes
  Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(answer), 23); });
  auto e = host.Events().back();
  ASSERT_EQ(e.value, 2);
  const auto* entry = reinterpret_cast<const uint8_t*>(e.data);
  EXPECT_EQ(LoadLe32(entry + 4), 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(entry + 16), "ABC123456.mp4");
  EXPECT_STREQ(reinterpret_cast<const char*>(entry + 2064), "./rec/01/20240506/ABC123456.mp4");
  EXPECT_STREQ(reinterpret_cast<const char*>(entry + kRecEntrySize + 2064),
               "./rec/02/20240506/XYZ000001.mp4");
  Fire([&] { cb().fileList(n + 1, nullptr, 0); });
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_REC_LIST);
  EXPECT_EQ(host.Events().back().value, 0);
  WholeRecord(n, 7, 0, 3);  // a device type without an entry size
  Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(answer), 23); });
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_REC_LIST_FAILED);
  WholeRecord(n, 2, 0, 9);  // an unknown recording kind
  Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(answer), 23); });
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_REC_LIST_FAILED);
}

}  // namespace
}  // namespace qcsdk::test
