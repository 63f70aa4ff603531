// LAN search against the scripted transports: the test plays both
// libraries by firing the search callbacks the SDK registered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/discovery_sinks.h"
#include "qcsdk/discovery/search_device.h"
#include "support/fake_libraries.h"
#include "support/log_capture.h"

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

QVC_SearchResult NxlEnd() {
  QVC_SearchResult r{};
  r.endOfSearch = 1;
  return r;
}

class SearchTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  SearchSink sink;

  void SetUp() override {
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    cb = fake.discovery();
    ASSERT_NE(cb.nxlSearch, nullptr);
    ASSERT_NE(cb.octSearch, nullptr);
    fake.ClearCalls();
  }
  void TearDown() override {
    // Whatever a test left running ends here, unseen by the host, so that
    // the next test starts idle.
    sink.OnReport(nullptr);
    QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
    Nxl(NxlEnd());
    Oct(OCTC_SEARCH_END, nullptr);
    QCSDK_ReleaseSDK();
  }

  void Nxl(const QVC_SearchResult& r) {
    FakeLibraries::RunOnLibraryThread([&] { cb.nxlSearch(r); });
  }
  void Oct(int32_t event, const OctSearchInfo* info) {
    FakeLibraries::RunOnLibraryThread([&] { cb.octSearch(event, info); });
  }
  void OctDevice(const char* id, int32_t type) {
    OctSearchInfo info{};
    info.device_id = id;
    info.name = "oct device";
    info.address = "127.0.0.6";
    info.device_type = type;
    info.channel_count = 2;
    info.port = 7000;
    Oct(OCTC_SEARCH_FOUND, &info);
  }
  void EndBoth() {
    Nxl(NxlEnd());
    Oct(OCTC_SEARCH_END, nullptr);
  }

  FakeLibraries::DiscoveryCallbacks cb;
};

TEST_F(SearchTest, NxlAnswersBecomeHostRecords) {
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 5000), 1);
  EXPECT_THAT(fake.Calls(), ElementsAre("QVC_LANSerchDevice(\"\", 0, 0, 0, \"\", 5000, 30)",
                                        "octc_search_device(0, 1000)"));

  Nxl(NxlAnswer("", 123456, 0xB1, 1));
  Nxl(NxlAnswer("QV", 7, 0xD, 256));
  Nxl(NxlAnswer("QV", 8, 7));
  Nxl(NxlAnswer("QV", 9, 0xE0));
  Nxl(NxlAnswer("QV", 10, 0x1B));  // leading digit 1
  Nxl(NxlAnswer("QV", 11, 0x0B));
  Nxl(NxlAnswer("QV", 12, -0x20));
  // Channel counts outside 1..256 are no devices.
  Nxl(NxlAnswer("QV", 13, 0xB1, 0));
  Nxl(NxlAnswer("QV", 14, 0xB1, 257));
  Nxl(NxlAnswer("QV", 15, 0xB1, -1));
  // Texts that fill their fields without a terminator are cut.
  QVC_SearchResult full = NxlAnswer("", 0, 0);
  std::memset(full.group, 'G', sizeof full.group);
  std::memset(full.address, '1', sizeof full.address);
  std::memset(full.name, 'n', sizeof full.name);
  full.number = -42;
  Nxl(full);

  const auto records = sink.Records();
  ASSERT_EQ(records.size(), 8u);
  const QCSDK_SearchResult& a = records[0];
  EXPECT_STREQ(a.deviceNumber, "A123456");
  EXPECT_STREQ(a.address, "127.0.0.5");
  EXPECT_EQ(a.port, 8000);
  EXPECT_STREQ(a.name, "nxl device");
  EXPECT_EQ(a.deviceType, 4);
  EXPECT_EQ(a.channelCount, 1);
  EXPECT_EQ(a.word396, 1);
  EXPECT_EQ(a.transport, QCSDK_TRANSPORT_NXL);
  // The record was zeroed before it was filled.
  const auto* bytes = reinterpret_cast<const uint8_t*>(&a);
  for (size_t i = std::strlen(a.name) + 132; i < 388; ++i) ASSERT_EQ(bytes[i], 0) << i;
  for (size_t i = 7; i < 64; ++i) ASSERT_EQ(bytes[i], 0) << i;

  std::vector<int32_t> types;
  for (const auto& r : records) types.push_back(r.deviceType);
  EXPECT_THAT(types, ElementsAre(4, 2, 1, 3, 1, 4, 1, 1));
  EXPECT_EQ(records[1].channelCount, 256);
  EXPECT_STREQ(records[1].deviceNumber, "QV7");
  EXPECT_EQ(records[7].deviceNumber, std::string("GGGGGGGG-42"));
  EXPECT_EQ(std::strlen(records[7].address), 63u);
  EXPECT_EQ(std::strlen(records[7].name), 255u);
  EXPECT_EQ(sink.Ends(), 0);
  EndBoth();
  EXPECT_EQ(sink.Ends(), 1);
}

TEST_F(SearchTest, OctAnswersBecomeHostRecords) {
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 300), 1);
  const std::string longName(300, 'x');
  OctSearchInfo info{};
  info.device_id = "100200300";
  info.name = longName.c_str();
  info.device_type = 5;
  info.reserved1 = 99;
  info.channel_count = 16;
  info.flags = 1;
  info.reserved2 = 98;
  info.address = "127.0.0.7";
  info.port = 34567;
  Oct(OCTC_SEARCH_FOUND, &info);
  // Missing texts are empty fields, not crashes.
  OctSearchInfo bare{};
  bare.device_type = 9;
  Oct(OCTC_SEARCH_FOUND, &bare);
  Oct(OCTC_SEARCH_FOUND, nullptr);
  Oct(7, &info);  // other events are ignored

  auto records = sink.Records();
  ASSERT_EQ(records.size(), 2u);
  const QCSDK_SearchResult& r = records[0];
  EXPECT_STREQ(r.deviceNumber, "100200300");
  EXPECT_STREQ(r.address, "127.0.0.7");
  EXPECT_EQ(r.port, 34567);
  EXPECT_EQ(std::string(r.name), longName.substr(0, 255));
  EXPECT_EQ(r.deviceType, 4);
  EXPECT_EQ(r.channelCount, 16);
  EXPECT_EQ(r.word396, 1);
  EXPECT_EQ(r.transport, QCSDK_TRANSPORT_OCT);
  EXPECT_STREQ(records[1].deviceNumber, "");
  EXPECT_EQ(records[1].deviceType, 0);

  // The OCT type mapping, one search per type (the seen list would drop
  // a repeated number within one search).
  const std::pair<int32_t, int32_t> mapping[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3},
                                                 {4, 3}, {5, 4}, {6, 0}, {-1, 0}};
  for (const auto& [octType, expected] : mapping) {
    EndBoth();
    ASSERT_EQ(QCSDK_LanSeartchDevice(0, 300), 1);
    OctDevice("7", octType);
    records = sink.Records();
    EXPECT_EQ(records.back().deviceType, expected) << octType;
  }
}

TEST_F(SearchTest, EachDeviceOncePerSearchAndFilteredDevicesStayRemembered) {
  ASSERT_EQ(QCSDK_LanSeartchDevice(3, 1000), 1);
  Nxl(NxlAnswer("QV", 1, 0xE0));  // type 3: reported
  OctDevice("QV1", 3);            // the same device over OCT
  Nxl(NxlAnswer("QV", 1, 0xE0));  // and again over Nxl
  OctDevice("OC5", 5);            // type 4: filtered out, but remembered
  Nxl(NxlAnswer("OC", 5, 0xE0));  // now of the wanted type: still not reported
  OctDevice("qv1", 3);            // case matters
  OctDevice("", 3);               // no number: never remembered
  OctDevice("", 3);
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV1", "qv1", "", ""));
  EXPECT_EQ(sink.Records()[0].transport, QCSDK_TRANSPORT_NXL);

  Nxl(NxlEnd());
  EXPECT_EQ(sink.Ends(), 0) << "the OCT search is still outstanding";
  Oct(OCTC_SEARCH_END, nullptr);
  EXPECT_EQ(sink.Ends(), 1);
  // Idle: late answers and ends are dropped.
  Nxl(NxlAnswer("QV", 2, 0xE0));
  EndBoth();
  EXPECT_EQ(sink.Ends(), 1);
  EXPECT_EQ(sink.Records().size(), 4u);

  // A new search forgets what the last one saw and takes its own filter.
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 1000), 1);
  OctDevice("OC5", 5);
  Nxl(NxlAnswer("QV", 1, 0xE0));
  EndBoth();
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV1", "qv1", "", "", "OC5", "QV1"));
  EXPECT_EQ(sink.Ends(), 2);
}

TEST_F(SearchTest, OneSearchAtATimeAndTheNextMayStartFromTheEnd) {
  std::vector<int32_t> fromInside;
  sink.OnReport([&](const QCSDK_SearchResult* r) {
    // Runs on the library thread with the search lock held.
    fromInside.push_back(QCSDK_LanSeartchDevice(0, r != nullptr ? 400 : 600));
  });
  ASSERT_EQ(QCSDK_LanSeartchDevice(4, 800), 1);
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 800), 0);
  EXPECT_THAT(fake.Calls(), IsEmpty()) << "a refused search asks no library";

  Nxl(NxlAnswer("QV", 1, 0xB1));  // type 4 passes the first search's filter
  Nxl(NxlAnswer("QV", 2, 0xD));   // type 2 does not: the refused search changed nothing
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV1"));
  Oct(OCTC_SEARCH_END, nullptr);
  EXPECT_THAT(fromInside, ElementsAre(0));
  Nxl(NxlEnd());
  // The host's call from inside the null callback started the next search.
  EXPECT_THAT(fromInside, ElementsAre(0, 1));
  EXPECT_EQ(sink.Ends(), 1);
  EXPECT_THAT(fake.Calls(), ElementsAre("QVC_LANSerchDevice(\"\", 0, 0, 0, \"\", 600, 30)",
                                        "octc_search_device(0, 600)"));

  sink.OnReport(nullptr);
  Nxl(NxlAnswer("QV", 2, 0xD));  // filter 0 now, seen list empty again
  EndBoth();
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV1", "QV2"));
  EXPECT_EQ(sink.Ends(), 2);
}

TEST_F(SearchTest, ReleaseInTheMiddleOfASearchEndsItAndTheNextStartMaySearch) {
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 800), 1);
  QCSDK_ReleaseSDK();
  EXPECT_EQ(sink.Ends(), 1);  // the search ended with its one null callback
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  cb = fake.discovery();
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 800), 1) << "the stopped search still counted as running";
  Nxl(NxlAnswer("QV", 7, 0xD));
  EndBoth();
  EXPECT_THAT(sink.Numbers(), ElementsAre("QV7"));
  EXPECT_EQ(sink.Ends(), 2);
}

TEST_F(SearchTest, OutstandingCountFollowsTheTransportsThatStarted) {
  LogCapture log;
  // Only OCT starts (Nxl's low byte is 0): its end alone ends the search.
  fake.SetResult("QVC_LANSerchDevice", 0x100);
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 50), 1);
  OctDevice("9", 1);
  Oct(OCTC_SEARCH_END, nullptr);
  EXPECT_EQ(sink.Ends(), 1);
  EXPECT_THAT(log.Lines(), IsEmpty());

  // Only Nxl starts; the OCT failure is logged with the clamped time-out.
  fake.SetResult("QVC_LANSerchDevice", 1);
  fake.SetResult("octc_search_device", -8);
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 50), 1);
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" error: search_device("), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("): call octc_search_device() failed, timeout=200, ret=-8\n"),
            std::string::npos)
      << lines[0];
  Nxl(NxlEnd());
  EXPECT_EQ(sink.Ends(), 2);

  // A positive OCT result is neither a start nor a failure.
  fake.SetResult("octc_search_device", 2);
  fake.SetResult("QVC_LANSerchDevice", 0);
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 300), 0);
  EXPECT_EQ(log.Lines().size(), 1u);
  // Nothing started: no search runs, answers and ends are dropped.
  Nxl(NxlAnswer("QV", 3, 0xB1));
  EndBoth();
  EXPECT_EQ(sink.Records().size(), 1u);
  EXPECT_EQ(sink.Ends(), 2);
}

TEST_F(SearchTest, OctTimeOutIsClampedUnsigned) {
  LogCapture log;
  // Both transports refuse, so every call starts nothing and the next may
  // follow at once; the log shows what OCT was given.
  fake.SetResult("QVC_LANSerchDevice", 0);
  fake.SetResult("octc_search_device", -1);
  const std::pair<int32_t, int32_t> cases[] = {
      {5000, 1000}, {50, 200},  {-1, 1000}, {INT_MIN, 1000}, {0, 200},     {199, 200},
      {200, 200},   {201, 201}, {999, 999}, {1000, 1000},    {1001, 1000}, {INT_MAX, 1000}};
  for (const auto& [given, clamped] : cases) {
    fake.ClearCalls();
    EXPECT_EQ(QCSDK_LanSeartchDevice(0, given), 0);
    EXPECT_THAT(
        fake.Calls(),
        ElementsAre("QVC_LANSerchDevice(\"\", 0, 0, 0, \"\", " + std::to_string(given) + ", 30)",
                    "octc_search_device(0, " + std::to_string(clamped) + ")"));
    EXPECT_TRUE(log.Contains(
        "call octc_search_device() failed, timeout=" + std::to_string(clamped) + ", ret=-1"))
        << given;
  }
  EXPECT_EQ(log.Lines().size(), std::size(cases));
  EXPECT_THAT(sink.Records(), IsEmpty());
  EXPECT_EQ(sink.Ends(), 0);
}

TEST_F(SearchTest, WithoutAHostCallbackResultsGoNowhere) {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, 300), 1);
  Nxl(NxlAnswer("QV", 1, 0xB1));
  EndBoth();
  // The search ended although nobody listened: the next one starts.
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, 300), 1);
  EXPECT_EQ(sink.Ends(), 0);
}

TEST(SearchMappingTest, CardTypeIsJudgedByItsLeadingHexDigit) {
  const std::pair<int32_t, int32_t> cases[] = {
      {0xB1, 4},      {0xD, 2},  {7, 1},   {0xE0, 3}, {0xB, 4},        {0xE, 3},
      {0xBFFF, 4},    {0x1B, 1}, {16, 1},  {15, 1},   {0, 1},          {-5, 1},
      {0xD000000, 2}, {0xDE, 2}, {0xC, 1}, {0xA, 1},  {0x7FFFFFFF, 1}, {0x70000000, 1}};
  for (const auto& [card, type] : cases) EXPECT_EQ(DeviceTypeFromCardType(card), type) << card;
}

}  // namespace
}  // namespace qcsdk::test
