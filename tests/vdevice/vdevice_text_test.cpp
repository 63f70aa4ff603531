// Talk, the RPC text exchange and the configuration handshake.
#include <filesystem>
#include <fstream>

#include "grpc/grpc_envelope.h"
#include "vdevice/cfg_pack.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

TEST_F(VdeviceTest, TalkIsAcceptedEchoedAndEnded) {
  AddDevice("live=off");
  ASSERT_EQ(1, Connect(1, 0));
  Send(1, 64);
  ASSERT_TRUE(WaitFor(Event::kTalk, 1, 'B'));
  const std::vector<uint8_t> audio(320, 0xD5);
  Send(1, 65, audio.data(), audio.size());
  Send(1, 65, audio.data(), 160);
  ASSERT_TRUE(WaitFor(Event::kTalk, 1, 'A', 2));
  EXPECT_EQ(Of(Event::kTalk, 1, 'A')[0].data, audio);
  EXPECT_EQ(Of(Event::kTalk, 1, 'A')[1].data.size(), 160u);
  Send(1, 67);
  ASSERT_TRUE(WaitFor(Event::kTalk, 1, 'C'));
}

std::string Request(const char* method, const char* user, const char* password, int sentcnt) {
  char digest[33];
  qcsdk::grpc_user_digest(user, method, password, digest);
  return std::string("grpc:{\"method\":\"") + method + "\",\"sentcnt\":" + std::to_string(sentcnt) +
         ",\"user\":{\"name\":\"" + user + "\",\"digest\":\"" + digest + "\"}}";
}

TEST_F(VdeviceTest, RpcTextExchangeChecksTheDigest) {
  AddDevice("user=op,password=s3cret,live=off");
  AddDevice("live=off,fault=refuse-text");
  ASSERT_EQ(1, Connect(1, 0, 0, "op", "s3cret"));
  ASSERT_EQ(1, Connect(2, 1));
  Send(1, 80);
  ASSERT_TRUE(WaitFor(Event::kText, 1, 82));
  Send(1, 81, Request("dev_get_info", "op", "s3cret", 1));
  Send(1, 81, Request("dev_get_info", "op", "wrong", 2));
  ASSERT_TRUE(WaitFor(Event::kText, 1, 81, 2));
  const auto answers = Of(Event::kText, 1, 81);
  const std::string good(answers[0].data.begin(), answers[0].data.end());
  const std::string bad(answers[1].data.begin(), answers[1].data.end());
  ASSERT_EQ(good.rfind("grpc:", 0), 0u);
  EXPECT_NE(good.find("\"sentcnt\":1"), std::string::npos) << good;
  EXPECT_EQ(good.find("-32002"), std::string::npos) << good;
  EXPECT_NE(bad.find("\"sentcnt\":2"), std::string::npos) << bad;
  EXPECT_NE(bad.find("-32002"), std::string::npos) << bad;
  EXPECT_EQ(host_.device(0).rpc().Calls().size(), 2u);
  Send(1, 83);
  // A device that refuses the exchange answers 83.
  Send(2, 80);
  ASSERT_TRUE(WaitFor(Event::kText, 2, 83));
  EXPECT_TRUE(Of(Event::kText, 2, 82).empty());
}

TEST_F(VdeviceTest, ConfigurationHandshakeSendsThePackedLibrary) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("vdevice_cfg_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::vector<uint8_t> library;
  for (int i = 0; i < 6000; ++i) library.push_back(static_cast<uint8_t>((i * 7) % 61 + (i / 500)));
  const uint8_t version[4] = {1, 2, 3, 4};
  library.insert(library.end(), version, version + 4);
  {
    std::ofstream out(dir / "cfg.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(library.data()),
              static_cast<std::streamsize>(library.size()));
  }
  AddDevice("type=3,live=off,cfgkind=7,cfg=" + (dir / "cfg.bin").string());
  ASSERT_EQ(1, Connect(1, 0));
  Send(1, 80);
  ASSERT_TRUE(WaitFor(Event::kText, 1, 82));
  // A client with another library version gets the library packed.
  uint8_t hello[8] = {5, 0, 0, 0, 9, 9, 0, 0};
  Send(1, 81, hello, 6);
  ASSERT_TRUE(WaitFor(Event::kText, 1, 81));
  const std::vector<uint8_t> m = Of(Event::kText, 1, 81)[0].data;
  ASSERT_GE(m.size(), 8u);
  EXPECT_EQ(Le32(m.data()) & 31u, 5u);
  EXPECT_EQ((Le32(m.data()) >> 5) & 0xFFu, 7u);
  const uint32_t l = Le32(m.data() + 4);
  ASSERT_GT(l, 4u);
  ASSERT_LE(8 + l - 4, m.size());
  EXPECT_EQ(std::vector<uint8_t>(m.begin() + 8, m.begin() + 8 + (l - 4)),
            vdevice::CfgPack(library));
  EXPECT_LT(l, library.size());
  const std::string params(reinterpret_cast<const char*>(m.data() + 4 + l));
  EXPECT_NE(params.find("type=3"), std::string::npos);
  // A client whose library is current gets none (L = 4).
  uint8_t current[8] = {5, 0, 0, 0, 1, 2, 3, 4};
  Send(1, 81, current, 8);
  ASSERT_TRUE(WaitFor(Event::kText, 1, 81, 2));
  EXPECT_EQ(Le32(Of(Event::kText, 1, 81)[1].data.data() + 4), 4u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vdevice_test
