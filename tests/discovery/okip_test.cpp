// OKIP over the scripted Nxl library: requests read back from its broadcast call, answers fired.
#include <gmock/gmock.h>

#include <cstring>
#include <tuple>

#include "discovery/discovery_sinks.h"
#include "qcsdk/base/bytes.h"
#include "support/fake_libraries.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

std::vector<uint8_t> Answer(const char* group, int32_t number, uint32_t cardType,
                            size_t length = 744) {
  std::vector<uint8_t> a(std::max<size_t>(length, 744), 0);
  StoreLe32(a.data(), 1);
  std::memcpy(a.data() + 4, group, std::min<size_t>(std::strlen(group), 8));
  StoreLe32(a.data() + 12, static_cast<uint32_t>(number));
  StoreLe32(a.data() + 16, 0x11223344);
  std::strcpy(reinterpret_cast<char*>(a.data() + 20), "okip camera");
  StoreLe32(a.data() + 120, cardType);
  StoreLe32(a.data() + 124, 0xFFFFFFFE);
  StoreLe32(a.data() + 196, 0x0A01A8C0);  // 192.168.1.10
  a.resize(length);
  return a;
}

class OkipTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  OkipSink sink;

  void TearDown() override { QCSDK_OKIP_StopService(); }

  void Fire(const uint8_t* data, int32_t length, int32_t end = 0) {
    const QVC_BroadcastCallback cb = fake.discovery().broadcast;
    ASSERT_NE(cb, nullptr);
    FakeLibraries::RunOnLibraryThread([&] { cb(77, data, length, 0x0100007F, end); });
  }
  void Fire(const std::vector<uint8_t>& answer) {
    Fire(answer.data(), static_cast<int32_t>(answer.size()));
  }
};

TEST_F(OkipTest, ServiceOnTheFirstFreePortFrom9500To9599ReportsAnswersAndFinds) {
  fake.SetResultByFirstArg("QVC_StartBroadcastServer", [](int64_t port) { return port >= 9503; });
  EXPECT_EQ(QCSDK_OKIP_StartService(&OkipSink::Thunk), 1);
  const auto start = [](int port) {
    return "QVC_StartBroadcastServer(" + std::to_string(port) + ", 9106, ptr)";
  };
  EXPECT_THAT(fake.Calls(),
              ::testing::ElementsAre(start(9500), start(9501), start(9502), start(9503)));

  // Answers become 160-byte records, then one null.
  Fire(Answer("ab", 123, 0xE0));
  Fire(Answer("QV", 7, 0xB1, 200));  // the shortest answer still read
  Fire(Answer("QV", 8, 0xB1, 199));  // too short
  Fire(nullptr, 744);
  std::vector<uint8_t> foreign = Answer("QV", 9, 0xB1);
  for (uint32_t type : {0u, 3u, 0x101u}) {
    StoreLe32(foreign.data(), type);
    Fire(foreign);
  }
  // Texts filling their fields without a terminator are cut.
  std::vector<uint8_t> full = Answer("", -1, 0xD);
  std::memset(full.data() + 4, 'G', 8);
  std::memset(full.data() + 20, 'n', 100);
  std::memset(full.data() + 196, 255, 4);
  Fire(full);
  Fire(Answer("QV", 10, 7));

  const auto fields = [](const QCSDK_OkipResult& r) {
    return std::make_tuple(std::string(r.deviceNumber), std::string(r.address),
                           static_cast<uint32_t>(r.word16), r.word124, std::string(r.name),
                           r.deviceType);
  };
  const decltype(fields(QCSDK_OkipResult{})) want[] = {
      {"ab123", "192.168.1.10", 0x11223344, -2, "okip camera", 3},
      {"QV7", "192.168.1.10", 0x11223344, -2, "okip camera", 4},
      {"GGGGGGGG-1", "255.255.255.255", 0x11223344, -2, std::string(99, 'n'), 2},
      {"QV10", "192.168.1.10", 0x11223344, -2, "okip camera", 1}};
  const auto records = sink.Records();
  ASSERT_EQ(records.size(), std::size(want));
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(fields(records[i]), want[i]) << i;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&records[0]);
  for (size_t i = 6; i < 32; ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(sink.Ends(), 0);

  Fire(nullptr, 0, 1);
  EXPECT_EQ(sink.Ends(), 1);
  // Without a host callback answers and ends are dropped; the end above added no record either.
  ASSERT_EQ(QCSDK_OKIP_StartService(nullptr), 1);
  Fire(Answer("ab", 1, 0xE0));
  Fire(nullptr, 0, 1);
  EXPECT_EQ(std::tuple(sink.Records().size(), sink.Ends()), std::tuple(4u, 1));

  fake.ClearCalls();
  // Only the low byte of the library's result counts.
  fake.SetResultByFirstArg("QVC_StartBroadcastServer", [](int64_t) { return 0x200; });
  EXPECT_EQ(QCSDK_OKIP_StartService(&OkipSink::Thunk), 0);
  const auto calls = fake.Calls();
  ASSERT_EQ(calls.size(), 100u);
  EXPECT_EQ(calls.back(), start(9599));

  // Find is a type-one message; its result is the library's.
  fake.SetResult("QVC_BroadcastOnce", 0);
  EXPECT_EQ(QCSDK_OKIP_FinDevs(-4), 0);
  std::vector<uint8_t> find(744, 0);
  find[0] = 1;
  ASSERT_EQ(fake.NxlSent().size(), 1u);
  EXPECT_EQ(std::pair(fake.NxlSent()[0].type, fake.NxlSent()[0].data), std::pair(-4, find));
  fake.SetResult("QVC_StopBroadcastServer", 0);
  EXPECT_EQ(QCSDK_OKIP_StopService(), 0);
  fake.SetResult("QVC_StopBroadcastServer", 1);
  EXPECT_EQ(QCSDK_OKIP_StopService(), 1);
}

TEST_F(OkipTest, SetNetCfgChecksEachArgumentAndLaysOutTheMessage) {
  const int32_t config[5] = {1, 0x0A01A8C0, 0x00FFFFFF, -2, 0x7F};
  const std::string max(31, 'u'), over(32, 'u');
  const char* number = "ab123";
  const struct {
    const char *number, *first, *second;
    const int32_t* config;
  } rejected[] = {{nullptr, "admin", "pw", config},        {number, nullptr, "pw", config},
                  {number, "admin", nullptr, config},      {number, over.c_str(), "pw", config},
                  {number, "admin", over.c_str(), config}, {number, "admin", "pw", nullptr}};
  for (const auto& r : rejected)
    EXPECT_EQ(QCSDK_OKIP_SetNetCfg(r.number, r.first, r.second, r.config), 0);
  EXPECT_TRUE(fake.NxlSent().empty()) << "rejected arguments send nothing";

  ASSERT_EQ(QCSDK_OKIP_SetNetCfg(number, max.c_str(), max.c_str(), config), 1);
  auto sent = fake.NxlSent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].type, 1000);
  std::vector<uint8_t> expected(744, 0);
  StoreLe32(expected.data(), 3);
  std::memcpy(expected.data() + 4, "ab", 2);
  StoreLe32(expected.data() + 12, 123);
  for (int at : {128, 160}) std::memcpy(expected.data() + at, max.data(), 31);
  for (int i = 0; i < 5; ++i) StoreLe32(expected.data() + 192 + 4 * i, config[i]);
  EXPECT_EQ(sent[0].data, expected);
  EXPECT_EQ(sent[0].data[196], 192);  // the address word, first dotted number lowest

  for (const TableRow& row : Table("discovery/okip_device_numbers.md")) {
    SCOPED_TRACE(row.Where());
    std::string group = row.Text("group");
    ASSERT_EQ(QCSDK_OKIP_SetNetCfg(row.Text("device number").c_str(), "", "", config), 1);
    const std::vector<uint8_t> msg = fake.NxlSent().back().data;
    EXPECT_EQ(std::string(msg.begin() + 4, msg.begin() + 12), group.append(8 - group.size(), 0));
    EXPECT_EQ(LoadLe32(msg.data() + 12), row.Int("number"));
  }
  fake.SetResult("QVC_BroadcastOnce", 0);
  EXPECT_EQ(QCSDK_OKIP_SetNetCfg("ab1", "a", "b", config), 0);
}

}  // namespace
}  // namespace qcsdk::test
