// The SDK end to end over the Nxl transport: the real transport library and
// virtual devices of the simulator on loopback.
#include <digest/digest.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "qcsdk/base/module_dir.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/dialog/config_dialog.h"
#include "support/host_recorder.h"
#include "support/process_probe.h"
#include "support/simulated_devices.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class NxlE2eTest : public ::testing::Test {
 protected:
  SimulatedDevices devices;
  std::unique_ptr<HostRecorder> host = std::make_unique<HostRecorder>();
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("qcsdk_nxl_e2e_" + std::to_string(::getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());

  // Threads and sockets before, once a sanitizer's helper thread is up.
  std::array<int, 2> left{(std::thread([] {}).join(), ThreadCount()), HandleCount()};

  void SetUp() override {
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    QCSDK_ReleaseSDK();
    devices.Stop();
    host.reset();
    std::filesystem::remove_all(dir);
    const auto now = [] { return std::array{ThreadCount(), HandleCount()}; };
    WaitUntil([&] { return now() == left; });
    EXPECT_EQ(now(), left) << "threads and descriptors left behind";
  }
  // Adds a device described in the simulator's --device syntax; its port.
  int Device(const std::string& settings) {
    std::string error;
    const int port = devices.AddDevice("password=secret," + settings, &error).nxl;
    EXPECT_GE(port, 0) << error;
    return port;
  }
  int32_t Connect(int port, const char* password = "secret", const char* address = "127.0.0.1") {
    return QCSDK_Connect(address, port, 0, "admin", password, 0, nullptr);
  }
  bool WaitEvent(int32_t code, int count = 1) { return host->WaitFor(code, count, 10000); }
};

TEST_F(NxlE2eTest, RefusalsAndLinkEndsBecomeTheirEvents) {
  for (const TableRow& row : Table("nxl_e2e/refusals_and_ends.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& device = row.Text("device");
    const int port = device.empty() ? 1 : device == "70000" ? 70000 : Device(device);
    const auto event = static_cast<int32_t>(row.Int("event"));
    const auto end = static_cast<int32_t>(row.Int("end"));
    const int before = host->Count(event), ends = host->Count(end);
    const int32_t n = Connect(port, row.Text("password").c_str(), row.Text("address").c_str());
    ASSERT_EQ(n, 0);
    ASSERT_TRUE(WaitEvent(event, before + 1));
    EXPECT_EQ(end == QCSDK_EVENT_DISCONNECTED ? QCSDK_Disconnect(n) : 1, 1);
    if (end != 0) WaitEvent(end, ends + 1);
    EXPECT_EQ(host->Count(end), end != 0 ? ends + 1 : ends);
    EXPECT_TRUE(WaitUntil([&] { return FindChannel(n) == nullptr; }));  // the number is free
  }
}

TEST_F(NxlE2eTest, ConfigDialogLibraryComesFromTheDeviceAndRuns) {
  // The device's library carries a version stamp in its last four bytes
  // (the loader ignores them); a client without the library reports 0.
  std::string library = ReadAll(TEST_CFG_DIALOG);
  ASSERT_FALSE(library.empty());
  library += "\x01\x03\x02\x07";
  const auto source = dir / "device_library";
  std::ofstream(source, std::ios::binary) << library;
  const std::shared_ptr<void> restore(nullptr, [saved = std::string(g_szModuleDir)](void*) {
    std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", saved.c_str());
  });  // puts the module directory back however the test ends
  std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", dir.string().c_str());

  const int32_t n = Connect(
      Device("type=3,number=A4711,cfg=" + SimulatedDevices::PathForSimulator(source.string())));
  ASSERT_TRUE(WaitEvent(QCSDK_EVENT_CONNECTED));
  // With an allow-list of SHA-256 digests only a listed library loads; a
  // malformed list is refused and leaves the previous one in force.
  digest::Sha256Digest sha{};
  ASSERT_TRUE(digest::Sha256({library}, &sha));
  std::string good;
  for (uint8_t b : sha) good += "0123456789abcdef"[b >> 4], good += "0123456789abcdef"[b & 15];
  const std::string other(64, 'A');
  const char* onlyOther[] = {other.c_str()};
  const char* malformed[] = {good.c_str(), "12ab"};
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(onlyOther, 1), 1);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(malformed, 2), 0);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(nullptr, 1), 0);
  std::thread([&] { QCSDK_RemoteConfig(n, 1); }).join();
  EXPECT_FALSE(std::filesystem::exists(dir / "dialog.log"));
  EXPECT_FALSE(std::filesystem::exists(dir / kCfgLibraryName)) << "a refused library is installed";
  const char* both[] = {other.c_str(), good.c_str()};
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(both, 2), 1);
  int32_t result = -1;
  std::thread([&] { result = QCSDK_RemoteConfig(n, 1); }).join();
  EXPECT_EQ(ReadAll(dir / kCfgLibraryName), library);
  EXPECT_EQ(GetInstalledCfgVersion(), 0x07020301u);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(nullptr, 0), 1);
  // The installed library is current: the device sends none, and the
  // installed file (changed, with the same stamp) runs as it is.
  library.insert(library.size() - 4, "xy");
  std::filesystem::remove(dir / kCfgLibraryName);
  std::ofstream(dir / kCfgLibraryName, std::ios::binary) << library;
  std::thread([&] { QCSDK_RemoteConfig(n, 2); }).join();
  EXPECT_EQ(ReadAll(dir / kCfgLibraryName), library);
  const std::string ran = ReadAll(dir / "dialog.log");
  EXPECT_EQ(result, 1);
  // Both runs had the link, the host's value and the device's parameters.
  const std::string expected = "InitRCDlg " + std::to_string(n + 1) +
                               " 1\nSetParam 1 type=3;channels=1;number=A4711\nDoModal\n"
                               "DoModal end\n";
  EXPECT_EQ(ran, expected + "InitRCDlg " + std::to_string(n + 1) + " 2" +
                     expected.substr(expected.find('\n')));
}

}  // namespace
}  // namespace qcsdk::test
