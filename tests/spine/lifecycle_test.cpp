// Start-up and release of the SDK against the scripted libraries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <algorithm>
#include <string>
#include <vector>

#include "qcsdk/facade/lifecycle.h"
#include "support/fake_libraries.h"
#include "support/log_capture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

TEST(LifecycleTest, InitSetsUpEveryLibraryInOrder) {
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
  EXPECT_NE(fake.nxl().connect, nullptr);
  EXPECT_NE(fake.picture(), nullptr);
  // The module directory is the executable's directory without a trailing separator.
  std::string dir = g_szModuleDir;
  EXPECT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  EXPECT_EQ(dir.find('\\'), std::string::npos);

  fake.ClearCalls();
  EXPECT_EQ(QCSDK_ReleaseSDK(), 1);
  EXPECT_THAT(fake.CallNames(), ElementsAre("QVSP_ReleaseSDK", "octc_stop_search_device_service",
                                            "QVC_StopLANSerchServer", "octc_chat_release_module",
                                            "octc_down_release_module", "octc_vod_release_module",
                                            "octc_stream_release_module", "octc_cmd_release_module",
                                            "octc_release_sdk", "QVC_ReleaseSDK"));
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

TEST(LifecycleTest, WorkDirectoryPrefixes) {
  FakeLibraries fake;
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  auto calls = fake.Calls();
  EXPECT_EQ(calls[1], "QVC_SetLocalFilePath(\"nxl_tmp\")");
  EXPECT_EQ(calls[4], "octc_init_sdk(\"oct_tmp\", 0, \"qcsdk\", 0, 0)");
  fake.ClearCalls();
  ASSERT_EQ(QCSDK_InitSDK(0, ""), 1);
  EXPECT_EQ(fake.Calls()[1], "QVC_SetLocalFilePath(\"//nxl_tmp\")");
  QCSDK_ReleaseSDK();
}

TEST(LifecycleTest, NxlRefusalStopsBeforeAnyCallbackIsRegistered) {
  FakeLibraries fake;
  fake.SetResult("QVC_InitSDK", 0x100);  // only the low byte counts
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_THAT(fake.CallNames(), ElementsAre("QVC_InitSDK"));

  fake.ClearCalls();
  fake.SetResult("QVC_InitSDK", 1);
  fake.SetResult("QVC_SetLocalFilePath", 0);
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_THAT(fake.CallNames(), ElementsAre("QVC_InitSDK", "QVC_SetLocalFilePath"));
  QCSDK_ReleaseSDK();
}

TEST(LifecycleTest, OctModuleFailureIsLoggedAndEndsStartUp) {
  FakeLibraries fake;
  LogCapture log;
  fake.SetResult("octc_vod_init_module", -7);
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_TRUE(log.Contains("error: oct_channel("));
  EXPECT_TRUE(log.Contains("oct vod service init failed, ret=-7"));
  EXPECT_EQ(fake.CountCalls("octc_down_init_module"), 0);
  EXPECT_EQ(fake.CountCalls("QVSP_InitSDK"), 0);

  fake.ClearCalls();
  fake.SetResult("octc_vod_init_module", 0);
  fake.SetResult("octc_init_sdk", -3);
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_TRUE(log.Contains("oct sdk init failed, ret=-3"));
  EXPECT_EQ(fake.CountCalls("octc_enable_log"), 0);
  QCSDK_ReleaseSDK();
}

TEST(LifecycleTest, SearchServicesTryPortsInTurn) {
  FakeLibraries fake;
  LogCapture log;
  // Nxl: ports 9400 and 9401 are taken; OCT: 26666 fails, 26667 answers a
  // positive value (next port, no log line), 26668 starts.
  fake.SetResultByFirstArg("QVC_StartLANSerchServer", [](int64_t port) { return port >= 9402; });
  fake.SetResultByFirstArg("octc_start_search_device_service", [](int64_t port) -> int64_t {
    return port == 26666 ? -5 : port == 26667 ? 3 : 0;
  });
  ASSERT_EQ(QCSDK_InitSDK(1, nullptr), 1);
  EXPECT_EQ(fake.CountCalls("QVC_StartLANSerchServer"), 3);
  EXPECT_EQ(fake.CountCalls("octc_start_search_device_service"), 3);
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("call octc_start_search_device_service() failed, port=26666, ret=-5"),
            std::string::npos);
  QCSDK_ReleaseSDK();

  // No Nxl port at all: start-up fails before the OCT service and the player.
  fake.ClearCalls();
  fake.SetResultByFirstArg("QVC_StartLANSerchServer", [](int64_t) { return 0; });
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_EQ(fake.CountCalls("QVC_StartLANSerchServer"), 100);
  EXPECT_EQ(fake.CountCalls("octc_start_search_device_service"), 0);
  EXPECT_EQ(fake.CountCalls("QVSP_InitSDK"), 0);

  // No OCT port: all 13,334 ports are tried.
  fake.ClearCalls();
  fake.SetResultByFirstArg("QVC_StartLANSerchServer", [](int64_t) { return 1; });
  fake.SetResultByFirstArg("octc_start_search_device_service", [](int64_t) { return 1; });
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_EQ(fake.CountCalls("octc_start_search_device_service"), 39999 - 26666 + 1);
  QCSDK_ReleaseSDK();
}

TEST(LifecycleTest, PlayerRefusalAndReleaseResult) {
  FakeLibraries fake;
  fake.SetResult("QVSP_InitSDK", 0);
  EXPECT_EQ(QCSDK_InitSDK(1, nullptr), 0);
  EXPECT_EQ(fake.CountCalls("QVSP_SetCallBack"), 0);
  fake.SetResult("QVC_ReleaseSDK", 42);
  EXPECT_EQ(QCSDK_ReleaseSDK(), 42);
  // A refused card changes nothing else; an accepted one moves OCT search.
  fake.SetResult("QVC_SetLocalNetCard", 0x100);
  EXPECT_EQ(QCSDK_SetNetCard(3), 0x100);
  EXPECT_EQ(fake.Calls().back(), "QVC_SetLocalNetCard(3)");
  fake.SetResult("QVC_SetLocalNetCard", 9);
  EXPECT_EQ(QCSDK_SetNetCard(0), 9);
  EXPECT_EQ(fake.Calls().back(), "octc_set_search_target(\"127.255.255.255\", 0, \"0.0.0.0\")");
}

}  // namespace
}  // namespace qcsdk::test
