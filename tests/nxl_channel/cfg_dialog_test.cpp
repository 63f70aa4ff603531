// The configuration dialog: its library run with the device's parameters, and the handshake.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "nxl_fixture.h"
#include "qcsdk/base/module_dir.h"
#include "qcsdk/dialog/config_dialog.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

constexpr auto npos = std::string::npos;

// A whole file (the dialog's log, a library) as text.
std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Installs the test's dialog library in a module directory of its own.
class CfgDialogTest : public NxlFixture {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("qcsdk_cfg_" + std::to_string(::getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  char savedDir[kModuleDirCapacity];

  void SetUp() override {
    NxlFixture::SetUp();
    std::filesystem::create_directories(dir);
    std::memcpy(savedDir, g_szModuleDir, sizeof savedDir);
    std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", dir.string().c_str());
    std::filesystem::copy_file(TEST_CFG_DIALOG, Library());
  }
  void TearDown() override {
    std::memcpy(g_szModuleDir, savedDir, sizeof savedDir);
    std::filesystem::remove_all(dir);
    NxlFixture::TearDown();
  }
  std::filesystem::path Library() const { return dir / kCfgLibraryName; }

  // The device's configuration message in a text buffer: header kind 5, parameter kind `kind`, bits
  // 21..31 set (the dialog value replaces them), the packed library (L = 4: none), the text.
  static std::vector<uint8_t> Message(int8_t kind, const std::string& params,
                                      const std::vector<uint8_t>& packed = {}) {
    std::vector<uint8_t> m(kTextBufferSize, 0);
    StoreLe32(m.data(),
              5u | (static_cast<uint32_t>(static_cast<uint8_t>(kind)) << 5) | (0x7FFu << 21));
    StoreLe32(m.data() + 4, static_cast<uint32_t>(4 + packed.size()));
    std::copy(packed.begin(), packed.end(), m.begin() + 8);
    std::copy(params.begin(), params.end(),
              m.begin() + 8 + static_cast<std::ptrdiff_t>(packed.size()));
    return m;
  }
};

TEST_F(CfgDialogTest, DialogValueAndParameterKindReachTheLibrary) {
  const std::string installed = ReadAll(Library());
  for (const TableRow& row : Table("nxl_channel/dialog_values.md")) {
    SCOPED_TRACE(row.Where());
    std::filesystem::remove(dir / "dialog.log");
    RunRemoteConfigDialog(9,
                          Message(static_cast<int8_t>(row.Int("parameter kind")), "params").data(),
                          static_cast<int32_t>(row.Int("value")));
    EXPECT_EQ(ReadAll(dir / "dialog.log"), "InitRCDlg 9 " + row.Text("InitRCDlg value") +
                                               "\nSetParam " + row.Text("parameter kind") +
                                               " params\nDoModal\nDoModal end\n");
    EXPECT_EQ(g_pfnCmdProc.load(), nullptr);
    EXPECT_EQ(g_pfnExitRCDlg.load(), nullptr);
  }
  EXPECT_EQ(ReadAll(Library()), installed);  // L = 4 writes nothing
  // A library copying from before its start installs nothing, runs no dialog (nxl_e2e loads one).
  std::filesystem::remove(dir / "dialog.log");
  const uint8_t hostile[2] = {0x01 | (5 << 1), 0};
  RunRemoteConfigDialog(1, Message(0, "x", {hostile, hostile + 2}).data(), 0);
  EXPECT_EQ(ReadAll(Library()), installed);
  EXPECT_FALSE(std::filesystem::exists(dir / "dialog.log"));
  // A new library ("AA") replaces the file whole: a reader of the old one (a dialog) keeps it.
  const std::vector<uint8_t> packed = {0x82, 0x02, 0x00};
  std::ifstream old(Library(), std::ios::binary);
#ifdef _WIN32  // Windows replaces no file a reader holds open without FILE_SHARE_DELETE
  old.close();
#endif
  RunRemoteConfigDialog(1, Message(0, "x", packed).data(), 0);
  if (old.is_open()) {
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), installed);
  }
  EXPECT_EQ(ReadAll(Library()), "AA");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // nothing beside
  // No module directory, or too long a library path: nothing read or written, at / or cut short.
  g_szModuleDir[0] = '\0';
  RunRemoteConfigDialog(1, Message(0, "x", packed).data(), 0);
  EXPECT_EQ(GetInstalledCfgVersion(), 0u);
  EXPECT_FALSE(std::filesystem::remove(std::filesystem::path("/") / kCfgLibraryName));
  const auto longDir = dir / std::string(250 - dir.string().size(), 'd');
  std::filesystem::create_directory(longDir);
  std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", longDir.string().c_str());
  RunRemoteConfigDialog(1, Message(0, "x", packed).data(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(longDir));
}

TEST_F(CfgDialogTest, OpenDialogGetsDeviceTextAndClosesWithTheLink) {
  const int32_t other = ConnectLive(0x05);  // device type 2: no dialog
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_RemoteConfig(other, 0), 0);
  EXPECT_TRUE(Sent().empty());
  const int32_t n = ConnectLive(0x10);
  // An allocation failing inside a handshake closes it all the same.
  fake.SetResultByFirstArg("QVC_SendData", [](int64_t) -> int64_t { throw std::bad_alloc(); });
  EXPECT_EQ(QCSDK_RemoteConfig(n, 0), 0);
  fake.SetResultByFirstArg("QVC_SendData", [](int64_t) { return int64_t{1}; });
  // The device accepts, sends stray text (80, 83, an RPC answer, another kind), then parameters.
  std::atomic<int32_t> result{-1};
  fake.ClearCalls();
  std::thread hostThread([&] { result = QCSDK_RemoteConfig(n, 0); });
  EXPECT_TRUE(WaitUntil([&] { return !Sent().empty(); }));
  Text(n, 82, "");
  EXPECT_TRUE(WaitUntil([&] { return Sent().size() >= 2; }));
  Text(n, 80, "");
  Text(n, 83, "");
  Text(n, 81, "grpc:{}");
  Text(n, 81, std::string("\x06\0\0\0\x04\0\0\0", 8));
  const std::vector<uint8_t> message = Message(1, "wait");
  Fire([&] { cb().text(n + 1, 81, message.data(), 4096); });
  // The dialog is open: device text goes to it, then the link breaks. Both calls are held in the
  // library past the dialog's end; it stays loaded and the host's call waits until they return.
  EXPECT_TRUE(WaitUntil([&] { return g_pfnCmdProc.load() != nullptr; }));
  std::ofstream(dir / "hold").close();
  Text(n, 81, std::string("\0\0\0\0note", 8));
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(dir / "dialog.log").find("CmdProc") != npos; }));
  std::thread link([&] { cb().connect(n + 1, 6, "lost"); });
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(dir / "dialog.log").find("DoModal end") != npos; }));
  EXPECT_EQ(result, -1);
  std::filesystem::remove(dir / "hold");
  link.join();
  hostThread.join();
  EXPECT_EQ(Sent().size(), 2u) << "the version reply was sent again";
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadAll(dir / "dialog.log"),
            "InitRCDlg " + std::to_string(n + 1) +
                " 0\nSetParam 1 wait\nDoModal\nCmdProc note\nExitRCDlg 2\nDoModal end\n");
  EXPECT_EQ(g_pfnCmdProc.load(), nullptr);
}

}  // namespace
}  // namespace qcsdk::test
