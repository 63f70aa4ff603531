// What each channel operation hands to the Nxl library: the connect
// request, every typed message with its payload, the PTZ codes, and the
// operations that need the link up.
#include "nxl_fixture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using NxlOperationsTest = NxlFixture;

TEST_F(NxlOperationsTest, ConnectRequestByAddressOrByNumber) {
  const struct {
    const char* address;
    int32_t byNumber;
    const char* group = nullptr;  // null: refused before the base (not even a player)
    int32_t number = 0;
  } rows[] = {{"127.0.0.1", 0, "", -1},
              {"255.255.255.254", 0, "", -1},
              {"255.255.255.255", 0},
              {"not an address", 0},
              {nullptr, 0},
              {"abc12345", 1, "ABC", 12345},
              {"12345", 1, "", 12345},
              {"abcd7", 1, "ABCD", 7},
              {"ABCDE12", 1, "ABCD", 0},
              {"x-y9z", 1, "X-Y", 9}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address ? row.address : "null");
    fake.ClearCalls();
    const int32_t n = QCSDK_Connect(row.address, 8000, 2, "u", "p", row.byNumber, nullptr);
    if (row.group == nullptr) {
      EXPECT_EQ(n, -1);
      EXPECT_TRUE(fake.Calls().empty());
      continue;
    }
    const std::string link = std::to_string(n + 1);
    const std::string call =
        row.byNumber ? "QVC_Connect(1, " + link + ", 2, null, 0, \"u\", \"p\", " +
                           std::to_string(row.number) + ", \"" + row.group + "\", 1, 1, 0, 0, 0)"
                     : "QVC_Connect(0, " + link + ", 2, \"" + row.address +
                           "\", 8000, \"u\", \"p\", -1, null, 0, 0, 0, 0, 0)";
    EXPECT_EQ(fake.Calls().back(), call);
  }
  // Disconnect asks the transport; the channel stays until it confirms.
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_Disconnect(0), 1);
  EXPECT_THAT(fake.Calls(), ElementsAre("QVC_DisConnect(1)"));
  EXPECT_TRUE(FindChannel(0));
  Fire([&] { cb().connect(1, 2, ""); });
  EXPECT_FALSE(FindChannel(0));
}

TEST_F(NxlOperationsTest, EveryOperationSendsItsMessageOnlyOverALiveLink) {
  const std::string file = ::testing::TempDir() + "qcsdk_nxl_ops.bin";
  const int32_t dates[6] = {2024, 5, 6, 2024, 5, 7};
  int32_t n = -1;
  const auto run = [&](char op, int32_t a, int32_t b) {
    switch (op) {
      case 'V': return QCSDK_EnableVideoData(n, a);
      case 'T': return QCSDK_StartTalk(n);
      case 'B': Fire([&] { cb().talk(n + 1, 'B', nullptr, 0); }); [[fallthrough]];
      case 'D': return QCSDK_SendTalkData(n, "abc", 3);
      case 't': return QCSDK_StopTalk(n);
      case 'L': return QCSDK_GetRemoteRecFileList(n, dates);
      case 'P': return QCSDK_RemotePlay(n, a);
      case 'C': return QCSDK_RemotePlayControl(n, a, b);
      case 'W': return QCSDK_DownloadRemoteFile(n, a, file.c_str());
      case 'R': return QCSDK_RemoteRecording(n, a);
      case 'Z': return QCSDK_SendPTZCommand(n, a, b);
      case 'U': return QCSDK_SendUserData(n, a != 0 ? "hi" : nullptr, a);
      default: return QCSDK_GRPC_End(n);
    }
  };
  // Over a link that is not up, the operations that need it return 0
  // having sent only `unconnected` (a download always stops the last one).
  const struct {
    char op;
    int32_t a, b, result;
    std::vector<std::string> sent;
    bool needsLink;
    std::vector<std::string> unconnected = {};
  } rows[] = {
      {'V', 1, 0, 1, {"112"}, true},
      {'V', 0, 0, 1, {"117"}, true},
      {'T', 0, 0, 1, {"64"}, true},
      {'T', 0, 0, 0, {}, true},  // already requested
      {'B', 0, 0, 1, {"65:abc"}, true},
      {'t', 0, 0, 1, {"67"}, false},
      {'D', 0, 0, 0, {}, true},  // not accepted since the stop
      {'L', 0, 0, 1, {"16:2024050600000020240507000000"}, true},
      {'P', -1, 0, 1, {"54"}, true},
      {'P', 1, 0, 1, {"54", "48:./rec/02/20240506/XYZ654321.sv5"}, true},
      {'P', 2, 0, 0, {"54"}, true},
      {'C', 0, 0, 1, {"56"}, true},
      {'C', 1, 0, 1, {"55"}, true},
      {'C', 2, 0, 1, {"51"}, true},
      {'C', 3, 0, 1, {"52"}, true},
      {'C', 4, 0, 1, {"53"}, true},
      {'C', 5, -2, 1, {"68:feffffff"}, true},
      {'C', 6, 0, 0, {}, true},
      {'C', -1, 0, 0, {}, true},
      {'W', 0, 0, 1, {"36", "32:./rec/01/20240506/ABC123456.sv5"}, true, {"36"}},
      {'W', 2, 0, 0, {"36"}, true, {"36"}},
      {'W', -1, 0, 1, {"36"}, false},
      {'R', 1, 0, 1, {"96:29000000"}, true},
      {'R', 0, 0, 1, {"96:2a000000"}, true},
      {'Z', 0, 1, 1, {"96:01000000"}, true},
      {'Z', -1, 1, 0, {}, true},
      {'Z', 15, 1, 0, {}, true},
      {'U', 2, 0, 1, {"8:ALhi"}, false},
      {'U', 0, 0, 1, {"8:AL"}, false},
      {'E', 0, 0, 1, {"83"}, false},
  };
  for (const bool live : {false, true}) {
    // Connecting, or up with a header and a list of two 10-byte entries.
    n = live ? ConnectLive(0x05) : QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "pw", 0, nullptr);
    if (live) {
      ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
      const std::string list = "D123456ABCE654321XYZ";
      Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(list.data()), 20); });
    }
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(1, row.op) + " " + std::to_string(row.a) + (live ? " live" : ""));
      fake.ClearCalls();
      const bool refused = !live && row.needsLink;
      EXPECT_EQ(run(row.op, row.a, row.b), refused ? 0 : row.result);
      EXPECT_THAT(Sent(), ElementsAreArray(refused ? row.unconnected : row.sent));
    }
  }
  std::remove(file.c_str());
}

TEST_F(NxlOperationsTest, SeekMovesTheFrameCountWithinTheRecording) {
  const int32_t n = ConnectLive();  // 300 frames
  const int32_t rows[][2] = {{120, 120}, {0, 120}, {1, 1}, {300, 300}, {301, 300}, {-1, 300}};
  for (const auto& row : rows) {
    EXPECT_EQ(QCSDK_RemotePlayControl(n, 5, row[0]), 1);
    StreamInfo info{};
    ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
    EXPECT_EQ(info.framesReceived, row[1]) << row[0];
  }
}

TEST_F(NxlOperationsTest, PtzCodesForEveryCommand) {
  const uint32_t codes[15][2] = {{1, 21},  {2, 22},  {3, 23},  {4, 24},  {5, 25},
                                 {6, 26},  {7, 27},  {8, 28},  {9, 29},  {10, 30},
                                 {11, 31}, {32, 33}, {34, 35}, {36, 37}, {38, 39}};
  for (const uint8_t version : {0x05, 0x04, 0x10}) {  // device types 2, 1 and 3
    const int32_t n = ConnectLive(version);
    const uint32_t high = version == 0x10 ? 0x7F000000u : 0;
    for (int32_t command = 0; command < 15; ++command) {
      fake.ClearCalls();
      EXPECT_EQ(QCSDK_SendPTZCommand(n, command, 1), 1);
      EXPECT_EQ(QCSDK_SendPTZCommand(n, command, 0), 1);
      const auto sent = fake.NxlSent();
      ASSERT_EQ(sent.size(), 2u);
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sent[i].type, 96);
        ASSERT_EQ(sent[i].data.size(), 4u);
        EXPECT_EQ(LoadLe32(sent[i].data.data()), codes[command][i] | high)
            << "command " << command << " tag version " << int(version);
      }
    }
  }
}

}  // namespace
}  // namespace qcsdk::test
