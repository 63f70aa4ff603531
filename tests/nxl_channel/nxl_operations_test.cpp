// What each channel operation hands to the Nxl library: the connect request, every typed message
// with its payload, the PTZ codes, and the operations that need the link up.
#include <sstream>

#include "nxl_fixture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using NxlOperationsTest = NxlFixture;

TEST_F(NxlOperationsTest, ConnectRequestByAddressOrByNumber) {
  for (const TableRow& row : Table("nxl_channel/connect_requests.md")) {
    SCOPED_TRACE(row.Where());
    fake.ClearCalls();
    const std::string& address = row.Text("address");
    const auto byNumber = static_cast<int32_t>(row.Int("by number"));
    const int32_t n = QCSDK_Connect(address == "(null)" ? nullptr : address.c_str(), 8000, 2, "u",
                                    "p", byNumber, nullptr);
    std::string call = row.Text("call");
    if (call.empty()) {
      EXPECT_EQ(n, -1);
      EXPECT_TRUE(fake.Calls().empty());
      continue;
    }
    call.replace(call.find("{link}"), 6, std::to_string(n + 1));
    EXPECT_THAT(fake.Calls(), ElementsAre("QVSP_CreatePlayer()", call));
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
  const auto messages = [](const std::string& cell) {
    std::vector<std::string> items;
    std::istringstream in(cell);
    for (std::string item; in >> item;) items.push_back(item);
    return items;
  };
  const Table rows("nxl_channel/operations_sent.md");
  for (const bool live : {false, true}) {
    // Connecting, or up with a header and a list of two 10-byte entries.
    n = live ? ConnectLive(0x05) : QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "pw", 0, nullptr);
    if (live) {
      ASSERT_EQ(QCSDK_GetRemoteRecFileList(n, dates), 1);
      const std::string list = "D123456ABCE654321XYZ";
      Fire([&] { cb().fileList(n + 1, reinterpret_cast<const uint8_t*>(list.data()), 20); });
    }
    for (const TableRow& row : rows) {
      SCOPED_TRACE(row.Where() + (live ? " live" : ""));
      fake.ClearCalls();
      const bool refused = !live && row.Bool("needs the link");
      EXPECT_EQ(run(static_cast<char>(row.Int("op")), static_cast<int32_t>(row.Int("a")),
                    static_cast<int32_t>(row.Int("b"))),
                refused ? 0 : row.Int("result"));
      EXPECT_THAT(Sent(), ElementsAreArray(messages(row.Text(refused ? "unconnected" : "sent"))));
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
  const Table codes("nxl_channel/ptz_codes.md");
  for (const uint8_t version : {0x05, 0x04, 0x10}) {  // device types 2, 1 and 3
    const int32_t n = ConnectLive(version);
    const uint32_t high = version == 0x10 ? 0x7F000000u : 0;
    for (const TableRow& row : codes) {
      const auto command = static_cast<int32_t>(row.Int("command"));
      fake.ClearCalls();
      for (const int32_t start : {1, 0}) EXPECT_EQ(QCSDK_SendPTZCommand(n, command, start), 1);
      const auto sent = fake.NxlSent();
      ASSERT_EQ(sent.size(), 2u);
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sent[i].type, 96);
        ASSERT_EQ(sent[i].data.size(), 4u);
        EXPECT_EQ(LoadLe32(sent[i].data.data()),
                  static_cast<uint32_t>(row.Int(i == 0 ? "start" : "stop")) | high)
            << row.Where() << " tag version " << int(version);
      }
    }
  }
}

}  // namespace
}  // namespace qcsdk::test
