// Start-up and release of the SDK against the scripted libraries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <string>
#include <vector>

#include "qcsdk/facade/lifecycle.h"
#include "qcsdk/oct/oct_conn.h"
#include "support/fake_libraries.h"
#include "support/log_capture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

TEST(LifecycleTest, InitSetsUpEveryLibraryInOrderAndReleaseUndoesIt) {
  FakeLibraries fake;
  ASSERT_EQ(QCSDK_InitSDK(77, "C:/data"), 1);
  const std::vector<std::string> expected = {
      "QVC_InitSDK(77, 0)",
      "QVC_SetLocalFilePath(\"C:/data//nxl_tmp\")",
      "QVC_RegisterCallBack(ptr, ptr, ptr, ptr, ptr, ptr, ptr)",
      "QVC_EnableHelp(1, 2)",
      "octc_init_sdk(\"C:/data//oct_tmp\", 0, \"qcsdk\", 0, 0)",
      "octc_enable_log(4, \"C:/data//oct_log\", 6)",
      "octc_encrypt_config(ptr, ptr)",
      "octc_register_callbacks(ptr)",
      "octc_cmd_init_module(ptr)",
      "octc_stream_init_module(ptr, ptr)",
      "octc_vod_init_module(ptr, ptr)",
      "octc_down_init_module(ptr, ptr)",
      "octc_chat_init_module(ptr, ptr)",
      "QVC_SetBroadcastTarget(\"127.255.255.255\", 0)",
      "octc_set_search_target(\"127.255.255.255\", 0, \"0.0.0.0\")",
      "QVC_EnableSearchCache(0)",
      "QVC_StartLANSerchServer(9400, 6666, ptr, 2)",
      "octc_start_search_device_service(26666, 29999, 0, ptr)",
      "QVSP_InitSDK()",
      "QVSP_SetCallBack(ptr, null, null, null)",
  };
  EXPECT_EQ(fake.Calls(), expected);
  // The module directory is the executable's directory without a trailing separator.
  const std::string dir = g_szModuleDir;
  EXPECT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');

  fake.ClearCalls();
  fake.SetResult("QVC_ReleaseSDK", 42);
  EXPECT_EQ(QCSDK_ReleaseSDK(), 42);
  EXPECT_THAT(fake.CallNames(), ElementsAre("QVSP_ReleaseSDK", "octc_stop_search_device_service",
                                            "QVC_StopLANSerchServer", "octc_chat_release_module",
                                            "octc_down_release_module", "octc_vod_release_module",
                                            "octc_stream_release_module", "octc_cmd_release_module",
                                            "octc_release_sdk", "QVC_ReleaseSDK"));

  // Without a work directory the names are relative; an empty one still
  // gets its separator.
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

TEST(LifecycleTest, ExecutablePathBecomesItsDirectory) {
  const std::pair<std::string, std::string> cases[] = {{"C:\\app\\host.exe", "C:/app"},
                                                       {"host.exe", ""},
                                                       {"/opt/vms/bin/host", "/opt/vms/bin"},
                                                       {"a/b\\c\\d.exe", "a/b/c"},
                                                       {"/host", ""}};
  for (const auto& [path, dir] : cases) {
    char buffer[kModuleDirCapacity] = {};
    path.copy(buffer, sizeof buffer - 1);
    CutToDirectory(buffer);
    EXPECT_EQ(std::string(buffer), dir) << path;
  }
}

// One set-up call of QCSDK_InitSDK answering one result: whether start-up
// goes on (with the two OCT workers running), the call start-up ends with
// when it does not, and its log line. The Nxl library's results count by
// their low byte; the OCT library's fail when negative; a search service
// tries every port of its range.
TEST(LifecycleTest, EachRefusedStepEndsStartUpThere) {
  const struct {
    const char* call;
    int64_t result;
    const char* lastCall;  // nullptr: start-up succeeds
    const char* logLine;   // "" when the failure is not logged
  } steps[] = {
      {"QVC_InitSDK", 0x100, "QVC_InitSDK(1, 0)", ""},
      {"QVC_InitSDK", 0x101, nullptr, ""},
      {"QVC_SetLocalFilePath", 0, "QVC_SetLocalFilePath(\"nxl_tmp\")", ""},
      {"octc_init_sdk", -3, "octc_init_sdk(\"oct_tmp\", 0, \"qcsdk\", 0, 0)",
       "oct sdk init failed, ret=-3"},
      {"octc_init_sdk", 2, nullptr, ""},
      {"octc_cmd_init_module", -1, "octc_cmd_init_module(ptr)",
       "oct cmd service init failed, ret=-1"},
      {"octc_cmd_init_module", 3, nullptr, ""},
      {"octc_stream_init_module", -2, "octc_stream_init_module(ptr, ptr)",
       "oct stream service init failed, ret=-2"},
      {"octc_stream_init_module", 1, nullptr, ""},
      {"octc_vod_init_module", -7, "octc_vod_init_module(ptr, ptr)",
       "oct vod service init failed, ret=-7"},
      {"octc_vod_init_module", 4, nullptr, ""},
      {"octc_down_init_module", -4, "octc_down_init_module(ptr, ptr)",
       "oct down service init failed, ret=-4"},
      {"octc_down_init_module", 5, nullptr, ""},
      {"octc_chat_init_module", -5, "octc_chat_init_module(ptr, ptr)",
       "oct chat service init failed, ret=-5"},
      {"octc_chat_init_module", 1, nullptr, ""},
      {"QVC_StartLANSerchServer", 0x200, "QVC_StartLANSerchServer(9499, 6666, ptr, 2)", ""},
      {"octc_start_search_device_service", 1,
       "octc_start_search_device_service(39999, 29999, 0, ptr)", ""},
      {"QVSP_InitSDK", 0, "QVSP_InitSDK()", ""}};
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.call) + " = " + std::to_string(step.result));
    FakeLibraries fake;
    LogCapture log;
    fake.SetResult(step.call, step.result);
    EXPECT_EQ(QCSDK_InitSDK(1, nullptr), step.lastCall == nullptr ? 1 : 0);
    if (step.lastCall == nullptr) {
      EXPECT_EQ(fake.CallNames().back(), "QVSP_SetCallBack");
      EXPECT_EQ(OctWorkersAlive(), 2);
    } else {
      EXPECT_EQ(fake.Calls().back(), step.lastCall);
      // Nothing after the refused step: no callbacks registered before the
      // Nxl library accepted its set-up, no player after a refusal.
      EXPECT_EQ(fake.CountCalls("QVSP_SetCallBack"), 0);
    }
    if (*step.logLine == '\0') {
      EXPECT_THAT(log.Lines(), ::testing::IsEmpty());
    } else {
      EXPECT_EQ(OctWorkersAlive(), 0);
      ASSERT_EQ(log.Lines().size(), 1u);
      EXPECT_THAT(log.Lines()[0], ::testing::HasSubstr(" error: oct_channel("));
      EXPECT_THAT(log.Lines()[0], ::testing::EndsWith(std::string("): ") + step.logLine + "\n"));
    }
    QCSDK_ReleaseSDK();
  }
}

TEST(LifecycleTest, SearchServicesTakeTheFirstPortThatStarts) {
  FakeLibraries fake;
  LogCapture log;
  // Nxl: ports 9400 and 9401 are taken; OCT: 26666 fails (logged), 26667
  // answers a positive value (next port, no log line), 26668 starts.
  fake.SetResultByFirstArg("QVC_StartLANSerchServer", [](int64_t port) { return port >= 9402; });
  fake.SetResultByFirstArg("octc_start_search_device_service", [](int64_t port) -> int64_t {
    return port == 26666 ? -5 : port == 26667 ? 3 : 0;
  });
  ASSERT_EQ(QCSDK_InitSDK(1, nullptr), 1);
  EXPECT_EQ(fake.CountCalls("QVC_StartLANSerchServer"), 3);
  EXPECT_EQ(fake.CountCalls("octc_start_search_device_service"), 3);
  EXPECT_THAT(log.Lines(),
              ElementsAre(::testing::HasSubstr(
                  "call octc_start_search_device_service() failed, port=26666, ret=-5\n")));
  // A refused network card changes nothing else; an accepted one moves
  // the OCT search with it.
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
