// The configuration dialog: unpacking, the version stamp, and the whole
// handshake with a dialog library that records its calls.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <thread>

#include "nxl_fixture.h"
#include "qcsdk/facade/cfg_unpack.h"
#include "qcsdk/facade/config_dialog.h"
#include "qcsdk/facade/lifecycle.h"
#include "vdevice/cfg_pack.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using vdevice::CfgPack;

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CfgUnpackTest, StreamsPaddedToAnyLengthUnpack) {
  // flag 0, 0x41 (LSB first), flag 1, offset 0, length code 0, b = 0: 24
  // bits in 3 bytes, of which the items may start in the first 17.
  const uint8_t example[3] = {0x82, 0x02, 0x00};
  std::vector<uint8_t> out;
  ASSERT_TRUE(CfgUnpack(example, 3, 8 * 3 - 7, out));
  EXPECT_THAT(out, ElementsAre(0x41, 0x41));
  // n distinct bytes are n literals of 9 bits: every padding from 7 bits
  // (n = 1) down to none (n = 8, the last item ends at the last bit).
  for (uint8_t n = 1; n <= 8; ++n) {
    std::vector<uint8_t> data(n);
    std::iota(data.begin(), data.end(), uint8_t{0x30});
    const auto stream = CfgPack(data);
    ASSERT_EQ(stream.size(), (9u * n + 7) / 8);
    ASSERT_TRUE(CfgUnpack(stream.data(), stream.size(), 8 * stream.size() - 7, out)) << int(n);
    EXPECT_EQ(out, data);
  }
}

TEST(CfgUnpackTest, PackedDataRoundTripsAndHostileStreamsAreRejected) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data;
  for (int i = 0; i < 6000; ++i)
    data.push_back(static_cast<uint8_t>(i % 97 < 60 ? i % 13 : rng() % 4));
  const std::vector<uint8_t> stream = CfgPack(data);
  std::vector<uint8_t> out;
  ASSERT_TRUE(CfgUnpack(stream.data(), stream.size(), 8 * stream.size() - 7, out));
  EXPECT_EQ(out, data);
  EXPECT_LT(stream.size(), data.size() / 2);

  // A copy from before the start of the output.
  const uint8_t badCopy[2] = {0x01 | (5 << 1), 0};
  EXPECT_FALSE(CfgUnpack(badCopy, 2, 15, out));
  // A bit count past the input.
  EXPECT_FALSE(CfgUnpack(stream.data(), stream.size(), 8 * stream.size() + 1, out));
  // More output than the limit allows.
  EXPECT_FALSE(CfgUnpack(stream.data(), stream.size(), 8 * stream.size() - 7, out, 100));
}

class CfgDialogTest : public NxlFixture {
 protected:
  std::filesystem::path dir;
  char savedDir[kModuleDirCapacity];

  void SetUp() override {
    NxlFixture::SetUp();
    dir = std::filesystem::temp_directory_path() /
          ("qcsdk_cfg_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    std::memcpy(savedDir, g_szModuleDir, sizeof savedDir);
    std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", dir.c_str());
  }
  void TearDown() override {
    std::memcpy(g_szModuleDir, savedDir, sizeof savedDir);
    std::filesystem::remove_all(dir);
    NxlFixture::TearDown();
  }
  void Install() { std::filesystem::copy_file(TEST_CFG_DIALOG, dir / kCfgLibraryName); }

  // The device's configuration message: header kind 5 with parameter kind
  // `kind`, no library image (L = 4), then the parameter text.
  static std::vector<uint8_t> Message(int8_t kind, const std::string& params) {
    std::vector<uint8_t> m(8 + params.size() + 1, 0);
    StoreLe32(m.data(),
              5u | (static_cast<uint32_t>(static_cast<uint8_t>(kind)) << 5) | (0x3FFu << 21));
    StoreLe32(m.data() + 4, 4);
    std::copy(params.begin(), params.end(), m.begin() + 8);
    return m;
  }

  // Runs QCSDK_RemoteConfig on a host thread while this thread plays the
  // device: accept, stray text that must change nothing (an 80, an 83 and
  // an RPC answer), then `message`.
  int32_t Handshake(int32_t n, int32_t value, const std::vector<uint8_t>& message,
                    const std::function<void()>& whileOpen = {}) {
    int32_t result = -1;
    fake.ClearCalls();
    std::thread hostThread([&] { result = QCSDK_RemoteConfig(n, value); });
    while (Sent().empty()) std::this_thread::yield();
    Fire([&] { cb().text(n + 1, 82, nullptr, 0); });
    while (Sent().size() < 2) std::this_thread::yield();
    Fire([&] {
      cb().text(n + 1, 80, nullptr, 0);
      cb().text(n + 1, 83, nullptr, 0);
      cb().text(n + 1, 81, reinterpret_cast<const uint8_t*>("grpc:{}"), 7);
    });
    Fire([&] { cb().text(n + 1, 81, message.data(), static_cast<int32_t>(message.size())); });
    if (whileOpen) whileOpen();
    hostThread.join();
    EXPECT_EQ(Sent().size(), 2u) << "the version reply was sent again";
    return result;
  }
};

TEST_F(CfgDialogTest, VersionStamp) {
  EXPECT_EQ(GetInstalledCfgVersion(), 0u);
  std::ofstream(dir / kCfgLibraryName, std::ios::binary) << "library body\x01\x02\x03\x04";
  EXPECT_EQ(GetInstalledCfgVersion(), 0x04030201u);
  std::ofstream(dir / kCfgLibraryName, std::ios::binary) << "\x05\x06";  // shorter than 4 bytes
  EXPECT_EQ(GetInstalledCfgVersion(), 0x0605u);
}

TEST_F(CfgDialogTest, InstalledLibraryRunsWithTheDevicesParameters) {
  Install();
  const int32_t n = ConnectLive(0x10);  // device type 3
  EXPECT_EQ(Handshake(n, 2047, Message(-3, "hello")), 1);
  auto sent = fake.NxlSent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].type, 80);
  EXPECT_EQ(sent[1].type, 81);
  ASSERT_GE(sent[1].data.size(), 4u);
  EXPECT_EQ(LoadLe32(sent[1].data.data()), 5u);
  const uint32_t version = GetInstalledCfgVersion();
  const std::size_t versionBytes = strnlen(reinterpret_cast<const char*>(&version), 4);
  EXPECT_EQ(sent[1].data.size(), 4 + versionBytes);
  EXPECT_THAT(Lines(dir / "dialog.log"),
              ElementsAre("InitRCDlg 1 -1", "SetParam -3 hello", "DoModal", "DoModal end"));
  // The exchange is closed again: another one can start.
  std::filesystem::remove(dir / "dialog.log");
  EXPECT_EQ(Handshake(n, 5, Message(2, "again")), 1);
  EXPECT_THAT(Lines(dir / "dialog.log"),
              ElementsAre("InitRCDlg 1 5", "SetParam 2 again", "DoModal", "DoModal end"));
}

TEST_F(CfgDialogTest, OpenDialogGetsDeviceTextAndClosesWithTheLink) {
  Install();
  const int32_t n = ConnectLive(0x10);
  const auto result = Handshake(n, 0, Message(1, "wait"), [&] {
    // The dialog is open: device text goes to it, then the link breaks.
    while (g_pfnCmdProc.load() == nullptr) std::this_thread::yield();
    std::vector<uint8_t> text(12, 0);
    std::memcpy(text.data() + 4, "note", 4);
    Fire([&] { cb().text(n + 1, 81, text.data(), 12); });
    os::Sleep(50);
    Fire([&] { cb().connect(n + 1, 6, "lost"); });
  });
  EXPECT_EQ(result, 1);
  auto lines = Lines(dir / "dialog.log");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CmdProc note"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ExitRCDlg 2"), lines.end());
  EXPECT_EQ(lines.back(), "DoModal end");
  EXPECT_EQ(g_pfnCmdProc.load(), nullptr);
}

TEST_F(CfgDialogTest, OnlyForDeviceTypeThreeAndGivesUpWithoutAnswer) {
  Install();
  const int32_t other = ConnectLive(0x05);  // device type 2
  EXPECT_EQ(QCSDK_RemoteConfig(other, 0), 0);
  const int32_t n = ConnectLive(0x10);
  const uint64_t start = os::TickCount64();
  EXPECT_EQ(QCSDK_RemoteConfig(n, 0), 0);  // the device never answers
  EXPECT_GE(os::TickCount64() - start, 5000u);
  EXPECT_FALSE(std::filesystem::exists(dir / "dialog.log"));
}

}  // namespace
}  // namespace qcsdk::test
