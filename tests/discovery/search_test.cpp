// LAN search over the scripted transports: the test fires the search callbacks the SDK registered.
#include <gmock/gmock.h>

#include <cstring>
#include <tuple>

#include "discovery/discovery_sinks.h"
#include "qcsdk/discovery/search_device.h"
#include "support/fake_libraries.h"
#include "support/log_capture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

QVC_SearchResult NxlAnswer(const char* group, int32_t number, int32_t cardType,
                           int32_t channels = 4) {
  QVC_SearchResult r{};
  std::memcpy(r.group, group, strnlen(group, sizeof r.group));  // unterminated when full
  r.number = number;
  r.cardType = cardType;
  r.channelCount = channels;
  r.port = 8000;
  std::strcpy(r.address, "127.0.0.5");
  std::strcpy(r.name, "nxl device");
  return r;
}

OctSearchInfo OctAnswer(const char* id, int32_t type) {
  return {id, "oct device", type, 0, 2, 0, 0, "127.0.0.6", 7000};
}

class SearchTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  SearchSink sink;
  FakeLibraries::DiscoveryCallbacks cb;

  void SetUp() override {
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    cb = fake.discovery();
    ASSERT_NE(cb.nxlSearch, nullptr);
    ASSERT_NE(cb.octSearch, nullptr);
    fake.ClearCalls();
  }
  // Whatever a test left running ends with the release, so that the next test starts idle.
  void TearDown() override {
    sink.OnReport(nullptr);
    QCSDK_ReleaseSDK();
  }

  void Nxl(const QVC_SearchResult& r) {
    FakeLibraries::RunOnLibraryThread([&] { cb.nxlSearch(r); });
  }
  void NxlEnd() {
    QVC_SearchResult end{};
    end.endOfSearch = 1;
    Nxl(end);
  }
  void Oct(int32_t event, const OctSearchInfo* info) {
    FakeLibraries::RunOnLibraryThread([&] { cb.octSearch(event, info); });
  }
  void Oct(const OctSearchInfo& info) { Oct(0, &info); }
  void EndBoth() {
    NxlEnd();
    Oct(1, nullptr);
  }
};

// Every field of the 404-byte record, from each transport's answer.
TEST_F(SearchTest, AnswersOfBothTransportsBecomeHostRecords) {
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 5000), 1);
  EXPECT_THAT(fake.Calls(), ElementsAre("QVC_LANSerchDevice(\"\", 0, 0, 0, \"\", 5000, 30)",
                                        "octc_search_device(0, 1000)"));
  Nxl(NxlAnswer("", 123456, 0xB1, 1));
  Nxl(NxlAnswer("QV", 7, 0xD, 256));
  // Channel counts outside 1..256 are no devices.
  for (int32_t channels : {0, 257, -1}) Nxl(NxlAnswer("QV", 13, 0xB1, channels));
  // Texts that fill their fields without a terminator are cut.
  QVC_SearchResult full = NxlAnswer("", -42, 0);
  std::memset(full.group, 'G', sizeof full.group);
  std::memset(full.address, '1', sizeof full.address);
  std::memset(full.name, 'n', sizeof full.name);
  Nxl(full);
  const std::string longName(300, 'x');
  // Type 5, reserved word 99, 16 channels, flags 1.
  const OctSearchInfo oct{"100200300", longName.c_str(), 5, 99, 16, 1, 0, "127.0.0.7", 34567};
  Oct(oct);
  OctSearchInfo bare{};  // missing texts are empty fields, not crashes
  bare.device_type = 9;
  Oct(bare);
  Oct(0, nullptr);
  Oct(7, &oct);  // other events are ignored

  const auto fields = [](const QCSDK_SearchResult& r) {
    return std::make_tuple(std::string(r.deviceNumber), std::string(r.address), r.port,
                           std::string(r.name), r.deviceType, r.channelCount, r.word396,
                           r.transport);
  };
  const decltype(fields(QCSDK_SearchResult{})) want[] = {
      {"A123456", "127.0.0.5", 8000, "nxl device", 4, 1, 1, 0},
      {"QV7", "127.0.0.5", 8000, "nxl device", 2, 256, 1, 0},
      {"GGGGGGGG-42", std::string(63, '1'), 8000, std::string(255, 'n'), 1, 4, 1, 0},
      {"100200300", "127.0.0.7", 34567, longName.substr(0, 255), 4, 16, 1, 1},
      {"", "", 0, "", 0, 0, 0, 1}};
  const auto records = sink.Records();
  ASSERT_EQ(records.size(), std::size(want));
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(fields(records[i]), want[i]) << i;
  // The record was zeroed before it was filled.
  const auto* bytes = reinterpret_cast<const uint8_t*>(&records[0]);
  for (size_t i = std::strlen(records[0].name) + 132; i < 388; ++i) ASSERT_EQ(bytes[i], 0) << i;
  for (size_t i = 7; i < 64; ++i) ASSERT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(sink.Ends(), 0) << "neither a null answer nor another event ends the search";
}

TEST(SearchMappingTest, DeviceTypesOfBothTransports) {
  for (const TableRow& row : Table("discovery/card_types.md"))
    EXPECT_EQ(DeviceTypeFromCardType(static_cast<int32_t>(row.Int("card type"))),
              row.Int("device type"))
        << row.Where();
  for (const TableRow& row : Table("discovery/oct_device_types.md")) {
    const OctSearchInfo answer = OctAnswer("7", static_cast<int32_t>(row.Int("OCT device type")));
    EXPECT_EQ(SearchRecordFromOct(answer).deviceType, row.Int("device type")) << row.Where();
  }
}

TEST_F(SearchTest, TypeFilterDeviceIdentityAndOneSearchAtATime) {
  std::vector<int32_t> fromInside;
  sink.OnReport([&](const QCSDK_SearchResult* r) {
    // Runs on the library thread with the search lock held.
    fromInside.push_back(QCSDK_LanSeartchDevice(0, r != nullptr ? 400 : 600));
  });
  ASSERT_EQ(QCSDK_LanSeartchDevice(3, 800), 1);
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 800), 0);
  EXPECT_THAT(fake.Calls(), IsEmpty()) << "a refused search asks no library";

  Nxl(NxlAnswer("QV", 1, 0xE0));  // type 3: reported
  Oct(OctAnswer("OC5", 5));       // type 4: filtered out, but remembered
  Nxl(NxlAnswer("OC", 5, 0xE0));  // now of the wanted type: still not reported
  Nxl(NxlAnswer("QV", 2, 0xD));   // type 2: the refused search changed no filter
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV1"));
  Oct(1, nullptr);
  EXPECT_THAT(fromInside, ElementsAre(0)) << "a search from inside a result is refused";
  EXPECT_EQ(sink.Ends(), 0) << "the Nxl search is still outstanding";
  NxlEnd();
  // The host's call from inside the null callback started the next search.
  EXPECT_THAT(fromInside, ElementsAre(0, 1));
  EXPECT_EQ(sink.Ends(), 1);
  EXPECT_THAT(fake.Calls(), ElementsAre("QVC_LANSerchDevice(\"\", 0, 0, 0, \"\", 600, 30)",
                                        "octc_search_device(0, 600)"));
  sink.OnReport(nullptr);
  // A new search forgets what the last one saw and takes its own filter.
  Oct(OctAnswer("OC5", 5));
  Nxl(NxlAnswer("QV", 2, 0xD));
  // The number alone identifies a device: other fields differ, and the other transport names it.
  QVC_SearchResult other = NxlAnswer("QV", 2, 0xB1, 9);
  std::strcpy(other.address, "127.0.0.9");
  std::strcpy(other.name, "renamed");
  other.port = 1;
  Nxl(other);
  Oct(OctAnswer("QV2", 3));
  // A different number, by one character or by case, is another device.
  Nxl(NxlAnswer("QV", 20, 0xE0));
  Oct(OctAnswer("qv2", 3));
  Oct(OctAnswer("", 3));  // no number: never remembered
  Oct(OctAnswer("", 3));
  EndBoth();
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV1", "OC5", "QV2", "QV20", "qv2", "", ""));
  EXPECT_EQ(sink.Ends(), 2);
  // Idle: late answers and ends are dropped.
  Nxl(NxlAnswer("QV", 3, 0xE0));
  EndBoth();
  EXPECT_EQ(sink.Ends(), 2);

  // A release in the middle of a search ends it with its one null callback.
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 800), 1);
  QCSDK_ReleaseSDK();
  EXPECT_EQ(sink.Ends(), 3);
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  cb = fake.discovery();
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 800), 1) << "the stopped search still counted as running";
  // Without a host callback results go nowhere, and the search still ends.
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  Nxl(NxlAnswer("QV", 7, 0xD));
  EndBoth();
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 300), 1);
  EndBoth();
  EXPECT_EQ(sink.Records().size(), 7u);
}

TEST_F(SearchTest, OutstandingCountAndTheClampedOctTimeOut) {
  LogCapture log;
  // Only OCT starts (Nxl's low byte is 0): its end alone ends the search.
  fake.SetResult("QVC_LANSerchDevice", 0x100);
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 50), 1);
  Oct(OctAnswer("9", 1));
  Oct(1, nullptr);
  EXPECT_EQ(sink.Ends(), 1);
  // Only Nxl starts; the OCT failure is logged with the clamped time-out.
  fake.SetResult("QVC_LANSerchDevice", 1);
  fake.SetResult("octc_search_device", -8);
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 50), 1);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_THAT(log.Lines()[0], ::testing::HasSubstr(" error: search_device("));
  EXPECT_THAT(log.Lines()[0],
              ::testing::EndsWith("): call octc_search_device() failed, timeout=200, ret=-8\n"));
  NxlEnd();
  EXPECT_EQ(sink.Ends(), 2);
  // A positive OCT result is no start nor failure; with nothing started answers are dropped.
  fake.SetResult("octc_search_device", 2);
  fake.SetResult("QVC_LANSerchDevice", 0);
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 300), 0);
  EXPECT_EQ(log.Lines().size(), 1u);
  Nxl(NxlAnswer("QV", 3, 0xB1));
  EndBoth();
  EXPECT_EQ(std::tuple(sink.Records().size(), sink.Ends()), std::tuple(1u, 2));
  // Both refuse, so the next call may follow at once.
  fake.SetResult("octc_search_device", -1);
  for (const TableRow& row : Table("discovery/oct_search_timeouts.md")) {
    const auto given = static_cast<int32_t>(row.Int("given"));
    fake.ClearCalls();
    EXPECT_EQ(QCSDK_LanSeartchDevice(0, given), 0);
    EXPECT_THAT(
        fake.Calls(),
        ElementsAre("QVC_LANSerchDevice(\"\", 0, 0, 0, \"\", " + std::to_string(given) + ", 30)",
                    "octc_search_device(0, " + row.Text("OCT time-out") + ")"))
        << row.Where();
  }
}

// The broadcast target reaches both libraries; what is no dotted IPv4 address changes nothing.
TEST_F(SearchTest, BroadcastTargetReachesBothLibraries) {
  auto target = [&](const char* address) {
    return "QVC_SetBroadcastTarget(\"" + std::string(address) + "\", 0)";
  };
  ASSERT_EQ(QCSDK_SetBroadcastTarget("127.0.0.1"), 1);
  EXPECT_THAT(fake.Calls(), ElementsAre(target("127.0.0.1"),
                                        "octc_set_search_target(\"127.0.0.1\", 0, \"0.0.0.0\")"));
  fake.ClearCalls();
  for (const char* bad : {"localhost", "127.0.0", "127.1", "127.0.0.256", "0x7f.0.0.1",
                          " 127.0.0.2", "127.0.0.2 ", "::1", "127.0.0.1.1"})
    EXPECT_EQ(QCSDK_SetBroadcastTarget(bad), 0) << bad;
  EXPECT_THAT(fake.Calls(), IsEmpty());
  for (const char* reset : {"", static_cast<const char*>(nullptr)}) {
    ASSERT_EQ(QCSDK_SetBroadcastTarget(reset), 1);
    EXPECT_EQ(fake.Calls().front(), target("127.255.255.255"));
    fake.ClearCalls();
  }
}

}  // namespace
}  // namespace qcsdk::test
