// The configuration dialog: unpacking the library a device sends, the
// version stamp, running the dialog library with the device's parameters,
// and the handshake that leads to it.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "nxl_fixture.h"
#include "qcsdk/facade/cfg_unpack.h"
#include "qcsdk/facade/config_dialog.h"
#include "qcsdk/facade/lifecycle.h"
#include "vdevice/cfg_pack.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

// Writes the items of a packed stream, least significant bit first.
struct BitWriter {
  std::vector<uint8_t> bytes;
  uint64_t bits = 0;
  void Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i, ++bits) {
      if (bits % 8 == 0) bytes.push_back(0);
      bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << (bits % 8));
    }
  }
  void Literal(uint8_t b) { Put(0, 1), Put(b, 8); }
  void Copy(uint32_t offset, uint32_t length) {  // length = 1 + 8 k + b
    const uint32_t k = (length - 1) / 8;
    Put(1, 1), Put(offset, 10), Put(k > 0 ? 1 : 0, 1);
    for (uint32_t i = 1; i < k; ++i) Put(1, 1);
    if (k > 0) Put(0, 1);
    Put((length - 1) % 8, 3);
  }
  bool Unpack(std::vector<uint8_t>& out) const {
    return CfgUnpack(bytes.data(), bytes.size(), bits, out);
  }
};

TEST(CfgUnpackTest, ItemsWindowAndLimits) {
  std::vector<uint8_t> out;
  // flag 0, 0x41, flag 1, offset 0, length code 0, b = 0.
  const uint8_t example[3] = {0x82, 0x02, 0x00};
  ASSERT_TRUE(CfgUnpack(example, 3, 8 * 3 - 7, out));
  EXPECT_THAT(out, ElementsAre(0x41, 0x41));
  // Every length code from 1 to 24 bytes copies that many bytes.
  for (uint32_t length = 1; length <= 24; ++length) {
    BitWriter w;
    for (uint8_t i = 0; i < 24; ++i) w.Literal(i);
    w.Copy(0, length);
    ASSERT_TRUE(w.Unpack(out)) << length;
    ASSERT_EQ(out.size(), 24 + length);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + length, out.begin() + 24)) << length;
  }
  // Offsets count from the start of the last 1,024 bytes produced.
  for (const uint32_t produced : {1024u, 1025u}) {
    BitWriter w;
    for (uint32_t i = 0; i < produced; ++i) w.Literal(static_cast<uint8_t>(i));
    w.Copy(0, 1);
    ASSERT_TRUE(w.Unpack(out));
    EXPECT_EQ(out.back(), produced - 1024) << produced;
  }
  // A copy must lie within the output: ending at its end is the last one in.
  for (const uint32_t offset : {0u, 1u}) {
    BitWriter w;
    for (uint8_t i = 0; i < 3; ++i) w.Literal(i);
    w.Copy(offset, 3);
    EXPECT_EQ(w.Unpack(out), offset == 0) << offset;
  }
  // At most 1,048,576 bytes: 1,024 literals and 1,023 copies of 1,024.
  BitWriter w;
  for (uint32_t i = 0; i < 1024; ++i) w.Literal(static_cast<uint8_t>(i * 7));
  for (int i = 0; i < 1023; ++i) w.Copy(0, 1024);
  ASSERT_TRUE(w.Unpack(out));
  EXPECT_EQ(out.size(), 1048576u);
  EXPECT_EQ(out[1048575], static_cast<uint8_t>(1023 * 7));
  w.Literal(1);
  EXPECT_FALSE(w.Unpack(out));
  // A bit count past the input.
  EXPECT_FALSE(CfgUnpack(example, 3, 8 * 3 + 1, out));
}

std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
  std::filesystem::path Library() const { return dir / kCfgLibraryName; }
  void Install() { std::filesystem::copy_file(TEST_CFG_DIALOG, Library()); }

  // The device's configuration message in a text buffer: header kind 5,
  // parameter kind `kind`, bits 21..31 set (the dialog value replaces
  // them), the packed library (L = 4: none), then the parameter text.
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

  // Runs QCSDK_RemoteConfig on a host thread while this thread plays the
  // device: accept, stray text that must change nothing (80, 83, an RPC
  // answer and a message of another kind), then `message`.
  int32_t Handshake(int32_t n, int32_t value, const std::vector<uint8_t>& message,
                    const std::function<void()>& whileOpen = {}) {
    int32_t result = -1;
    fake.ClearCalls();
    std::thread hostThread([&] { result = QCSDK_RemoteConfig(n, value); });
    while (Sent().empty()) std::this_thread::yield();
    Text(n, 82, "");
    while (Sent().size() < 2) std::this_thread::yield();
    Text(n, 80, "");
    Text(n, 83, "");
    Text(n, 81, "grpc:{}");
    Text(n, 81, std::string("\x06\0\0\0\x04\0\0\0", 8));
    Fire([&] { cb().text(n + 1, 81, message.data(), 4096); });
    if (whileOpen) whileOpen();
    hostThread.join();
    EXPECT_EQ(Sent().size(), 2u) << "the version reply was sent again";
    return result;
  }
};

TEST_F(CfgDialogTest, DialogValueAndParameterKindReachTheLibrary) {
  Install();
  const std::vector<uint8_t> installed = ReadAll(Library());
  const struct {
    int32_t value, init;
    int8_t kind;
  } rows[] = {{0, 0, 0},      {5, 5, 1},     {1023, 1023, 127}, {1024, -1024, -128},
              {2047, -1, -3}, {2048, 0, -1}, {-1, -1, 31}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    std::filesystem::remove(dir / "dialog.log");
    RunRemoteConfigDialog(9, Message(row.kind, "params").data(), row.value);
    EXPECT_THAT(
        Lines(dir / "dialog.log"),
        ElementsAre("InitRCDlg 9 " + std::to_string(row.init),
                    "SetParam " + std::to_string(row.kind) + " params", "DoModal", "DoModal end"));
    EXPECT_EQ(g_pfnCmdProc.load(), nullptr);
    EXPECT_EQ(g_pfnExitRCDlg.load(), nullptr);
  }
  EXPECT_EQ(ReadAll(Library()), installed);  // L = 4 writes nothing
  // A library stream that copies from before its start installs nothing
  // and runs no dialog. (A sound one is installed end to end in nxl_e2e.)
  std::filesystem::remove(dir / "dialog.log");
  const uint8_t hostile[2] = {0x01 | (5 << 1), 0};
  RunRemoteConfigDialog(1, Message(0, "x", {hostile, hostile + 2}).data(), 0);
  EXPECT_EQ(ReadAll(Library()), installed);
  EXPECT_FALSE(std::filesystem::exists(dir / "dialog.log"));
}

TEST_F(CfgDialogTest, HandshakeRepliesWithTheInstalledVersion) {
  const int32_t n = ConnectLive(0x10);  // device type 3
  // The version word, then the reply's payload: the header word 5 and the
  // version bytes before the first zero byte.
  const struct {
    std::string stamp;
    uint32_t version;
    std::string reply;
  } rows[] = {{"", 0, "05000000"},
              {std::string("\x01\x02\x03\x04", 4), 0x04030201, "0500000001020304"},
              {std::string("\x01\x02\x03\x00", 4), 0x00030201, "05000000010203"},
              {std::string("\x01\x00\x03\x04", 4), 0x04030001, "0500000001"},
              {std::string("\x00\x02\x03\x04", 4), 0x04030200, "05000000"},
              {std::string("\x05\x06", 2), 0x0605, "050000000506"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reply);
    if (!row.stamp.empty()) {
      std::ofstream(Library(), std::ios::binary)
          << (row.stamp.size() == 4 ? "not a library" : "") << row.stamp;
    }
    EXPECT_EQ(GetInstalledCfgVersion(), row.version);
    // The installed file does not load: the exchange ends without a dialog.
    EXPECT_EQ(Handshake(n, 0, Message(0, "")), 1);
    EXPECT_THAT(Sent(), ElementsAre("80", "81:" + row.reply));
  }
}

TEST_F(CfgDialogTest, OpenDialogGetsDeviceTextAndClosesWithTheLink) {
  Install();
  const int32_t other = ConnectLive(0x05);  // device type 2: no dialog
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_RemoteConfig(other, 0), 0);
  EXPECT_TRUE(Sent().empty());
  const int32_t n = ConnectLive(0x10);
  const auto result = Handshake(n, 0, Message(1, "wait"), [&] {
    // The dialog is open: device text goes to it, then the link breaks.
    while (g_pfnCmdProc.load() == nullptr) std::this_thread::yield();
    Text(n, 81, std::string("\0\0\0\0note", 8));
    while (Lines(dir / "dialog.log").size() < 4) std::this_thread::yield();
    Fire([&] { cb().connect(n + 1, 6, "lost"); });
  });
  EXPECT_EQ(result, 1);
  EXPECT_THAT(Lines(dir / "dialog.log"),
              ElementsAre("InitRCDlg " + std::to_string(n + 1) + " 0", "SetParam 1 wait", "DoModal",
                          "CmdProc note", "ExitRCDlg 2", "DoModal end"));
  EXPECT_EQ(g_pfnCmdProc.load(), nullptr);
}

}  // namespace
}  // namespace qcsdk::test
