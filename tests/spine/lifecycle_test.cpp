// Start-up and release of the SDK against the scripted libraries.
#include <gmock/gmock.h>
#include <qcsdk/qcsdk.h>

#include "qcsdk/base/module_dir.h"
#include "qcsdk/oct/oct_conn.h"
#include "support/fake_libraries.h"
#include "support/log_capture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

std::vector<std::string> Column(const std::string& path, const std::string& column) {
  std::vector<std::string> cells;
  for (const TableRow& row : Table(path)) cells.push_back(row.Text(column));
  return cells;
}

TEST(LifecycleTest, InitSetsUpEveryLibraryInOrderAndReleaseUndoesIt) {
  FakeLibraries fake;
  ASSERT_EQ(QCSDK_InitSDK(77, "C:/data"), 1);
  EXPECT_EQ(fake.Calls(), Column("spine/start_up_calls.md", "call"));
  // The module directory: the executable's, without a trailing separator; the table cuts others.
  const std::string dir = g_szModuleDir;
  EXPECT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  for (const TableRow& row : Table("spine/module_directories.md")) {
    char buffer[kModuleDirCapacity] = {};
    row.Text("executable path").copy(buffer, sizeof buffer - 1);
    CutToDirectory(buffer);
    EXPECT_EQ(std::string(buffer), row.Text("directory")) << row.Where();
  }

  fake.ClearCalls();
  fake.SetResult("QVC_ReleaseSDK", 42);
  EXPECT_EQ(QCSDK_ReleaseSDK(), 42);
  EXPECT_EQ(fake.CallNames(), Column("spine/release_calls.md", "call"));

  // Without a work directory the names are relative; an empty one still gets its separator.
  for (const auto& [work, nxl, oct] :
       {std::tuple<const char*, const char*, const char*>{nullptr, "nxl_tmp", "oct_tmp"},
        {"", "//nxl_tmp", "//oct_tmp"}}) {
    fake.ClearCalls();
    ASSERT_EQ(QCSDK_InitSDK(0, work), 1);
    EXPECT_EQ(fake.Calls()[1], "QVC_SetLocalFilePath(\"" + std::string(nxl) + "\")");
    EXPECT_EQ(fake.Calls()[4], "octc_init_sdk(\"" + std::string(oct) + "\", 0, \"qcsdk\", 0, 0)");
    QCSDK_ReleaseSDK();
  }
}

TEST(LifecycleTest, EachRefusedStepEndsStartUpThere) {
  for (const TableRow& row : Table("spine/start_up_refusals.md")) {
    SCOPED_TRACE(row.Where());
    FakeLibraries fake;
    LogCapture log;
    fake.SetResult(row.Text("call"), row.Int("result"));
    const std::string& lastCall = row.Text("last call");
    EXPECT_EQ(QCSDK_InitSDK(1, nullptr), lastCall.empty() ? 1 : 0);
    if (lastCall.empty()) {
      EXPECT_EQ(fake.CallNames().back(), "QVSP_SetCallBack");
      EXPECT_EQ(OctWorkersAlive(), 2);
    } else {
      EXPECT_EQ(fake.Calls().back(), lastCall);
      // Nothing after the refused step: no callbacks before the Nxl set-up succeeds, no player.
      EXPECT_EQ(fake.CountCalls("QVSP_SetCallBack"), 0);
    }
    const std::string& logLine = row.Text("log line");
    if (logLine.empty()) {
      EXPECT_THAT(log.Lines(), ::testing::IsEmpty());
    } else {
      EXPECT_EQ(OctWorkersAlive(), 0);
      ASSERT_EQ(log.Lines().size(), 1u);
      EXPECT_THAT(log.Lines()[0], ::testing::HasSubstr(" error: oct_channel("));
      EXPECT_THAT(log.Lines()[0], ::testing::EndsWith("): " + logLine + "\n"));
    }
    QCSDK_ReleaseSDK();
  }
}

TEST(LifecycleTest, SearchServicesTakeTheFirstPortThatStarts) {
  FakeLibraries fake;
  LogCapture log;
  // Nxl: 9400, 9401 taken; OCT: 26666 fails (logged), 26667 answers > 0 (next, no log), 26668 ok.
  fake.SetResultByFirstArg("QVC_StartLANSerchServer", [](int64_t port) { return port >= 9402; });
  fake.SetResultByFirstArg("octc_start_search_device_service", [](int64_t port) -> int64_t {
    return port == 26666 ? -5 : port == 26667 ? 3 : 0;
  });
  ASSERT_EQ(QCSDK_InitSDK(1, nullptr), 1);
  EXPECT_EQ(fake.CountCalls("QVC_StartLANSerchServer"), 3);
  EXPECT_EQ(fake.CountCalls("octc_start_search_device_service"), 3);
  EXPECT_THAT(log.Lines(),
              ::testing::ElementsAre(::testing::HasSubstr(
                  "call octc_start_search_device_service() failed, port=26666, ret=-5\n")));
  // A refused network card changes nothing else; an accepted one moves the OCT search with it.
  fake.SetResult("QVC_SetLocalNetCard", 0x100);
  EXPECT_EQ(QCSDK_SetNetCard(3), 0x100);
  EXPECT_EQ(fake.Calls().back(), "QVC_SetLocalNetCard(3)");
  fake.SetResult("QVC_SetLocalNetCard", 9);
  EXPECT_EQ(QCSDK_SetNetCard(0), 9);
  EXPECT_EQ(fake.Calls().back(), "octc_set_search_target(\"127.255.255.255\", 0, \"0.0.0.0\")");
  QCSDK_ReleaseSDK();
}

}  // namespace
}  // namespace qcsdk::test
