// The configuration dialog: unpacking, the version stamp, and the whole
// handshake with a dialog library that records its calls.
#include <openssl/evp.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "nxl_fixture.h"
#include "qcsdk/cfg_unpack.h"
#include "qcsdk/config_dialog.h"
#include "qcsdk/lifecycle.h"
#include "vdevice/cfg_pack.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using vdevice::CfgPack;

std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CfgUnpackTest, LiteralThenCopy) {
  // flag 0, 0x41 (LSB first), flag 1, offset 0, length code 0, b = 0: 24 bits.
  const uint8_t stream[3] = {0x82, 0x00, 0x00};
  // bit 0: 0; bits 1..8: 0x41 -> 1,0,0,0,0,0,1,0; bit 9: 1; then 14 zeros.
  const uint8_t bits[3] = {static_cast<uint8_t>(0x41 << 1),
                           static_cast<uint8_t>((0x41 >> 7) | 0x02), 0};
  (void)stream;
  std::vector<uint8_t> out;
  ASSERT_TRUE(CfgUnpack(bits, 3, 24, out));
  EXPECT_THAT(out, ElementsAre(0x41, 0x41));
}

TEST(CfgUnpackTest, PackedDataRoundTripsAndHostileStreamsAreRejected) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data;
  for (int i = 0; i < 6000; ++i)
    data.push_back(static_cast<uint8_t>(i % 97 < 60 ? i % 13 : rng() % 4));
  std::vector<uint8_t> stream;
  ASSERT_TRUE(CfgPack(data, stream));
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
  EXPECT_EQ(out.size(), 100u - (100u - out.size()));
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
  // `kind`, the library image (or none), then the parameter text.
  static std::vector<uint8_t> Message(int8_t kind, const std::vector<uint8_t>& image,
                                      const std::string& params) {
    std::vector<uint8_t> m(8 + image.size() + params.size() + 1, 0);
    StoreLe32(m.data(),
              5u | (static_cast<uint32_t>(static_cast<uint8_t>(kind)) << 5) | (0x3FFu << 21));
    StoreLe32(m.data() + 4, static_cast<uint32_t>(4 + image.size()));
    std::copy(image.begin(), image.end(), m.begin() + 8);
    std::copy(params.begin(), params.end(),
              m.begin() + 8 + static_cast<std::ptrdiff_t>(image.size()));
    return m;
  }

  // Runs QCSDK_RemoteConfig on a host thread while this thread plays the
  // device: accept, then send `message`.
  int32_t Handshake(int32_t n, int32_t value, const std::vector<uint8_t>& message,
                    const std::function<void()>& whileOpen = {}) {
    int32_t result = -1;
    fake.ClearCalls();
    std::thread hostThread([&] { result = QCSDK_RemoteConfig(n, value); });
    while (Sent().empty()) std::this_thread::yield();
    Fire([&] { cb().text(n + 1, 82, nullptr, 0); });
    while (Sent().size() < 2) std::this_thread::yield();
    Fire([&] { cb().text(n + 1, 81, message.data(), static_cast<int32_t>(message.size())); });
    if (whileOpen) whileOpen();
    hostThread.join();
    return result;
  }
};

TEST_F(CfgDialogTest, VersionStamp) {
  EXPECT_EQ(GetInstalledCfgVersion(), 0u);
  std::ofstream(dir / kCfgLibraryName, std::ios::binary) << "library body\x01\x02\x03\x04";
  EXPECT_EQ(GetInstalledCfgVersion(), 0x04030201u);
}

TEST_F(CfgDialogTest, InstalledLibraryRunsWithTheDevicesParameters) {
  Install();
  const int32_t n = ConnectLive(0x10);  // device type 3
  EXPECT_EQ(Handshake(n, 2047, Message(-3, {}, "hello")), 1);
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
  EXPECT_EQ(Handshake(n, 5, Message(2, {}, "again")), 1);
  EXPECT_THAT(Lines(dir / "dialog.log"),
              ElementsAre("InitRCDlg 1 5", "SetParam 2 again", "DoModal", "DoModal end"));
}

TEST_F(CfgDialogTest, DeviceSuppliesTheLibrary) {
  const auto library = ReadAll(TEST_CFG_DIALOG);
  std::vector<uint8_t> image;
  ASSERT_TRUE(CfgPack(library, image));
  const int32_t n = ConnectLive(0x10);
  // With an allow-list, only a library whose SHA-256 digest is listed loads.
  uint8_t sha[32];
  ASSERT_EQ(EVP_Digest(library.data(), library.size(), sha, nullptr, EVP_sha256(), nullptr), 1);
  std::string good;
  for (uint8_t b : sha) good += "0123456789abcdef"[b >> 4], good += "0123456789abcdef"[b & 15];
  const std::string other(64, 'A');
  const char* onlyOther[] = {other.c_str()};
  const char* bad[] = {other.c_str(), "12ab"};
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(onlyOther, 1), 1);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(bad, 2), 0);
  EXPECT_EQ(QCSDK_SetCfgDialogDigests(nullptr, 1), 0);
  EXPECT_EQ(Handshake(n, 1, Message(0, image, "refused")), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "dialog.log"));
  const char* both[] = {other.c_str(), good.c_str()};
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(both, 2), 1);
  EXPECT_EQ(Handshake(n, 1, Message(0, image, "fresh")), 1);
  ASSERT_EQ(QCSDK_SetCfgDialogDigests(nullptr, 0), 1);
  EXPECT_EQ(ReadAll(dir / kCfgLibraryName), library);
  EXPECT_THAT(Lines(dir / "dialog.log"),
              ElementsAre("InitRCDlg 1 1", "SetParam 0 fresh", "DoModal", "DoModal end"));
}

TEST_F(CfgDialogTest, OpenDialogGetsDeviceTextAndClosesWithTheLink) {
  Install();
  const int32_t n = ConnectLive(0x10);
  const auto result = Handshake(n, 0, Message(1, {}, "wait"), [&] {
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
