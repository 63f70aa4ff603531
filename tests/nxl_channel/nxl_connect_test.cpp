// Connecting over Nxl: the request issued, and the connect results.
#include "nxl_fixture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using NxlConnectTest = NxlFixture;

std::vector<std::string> ConnectCalls(const FakeLibraries& fake) {
  std::vector<std::string> calls;
  for (const auto& c : fake.Calls()) {
    if (c.rfind("QVC_Connect(", 0) == 0) calls.push_back(c);
  }
  return calls;
}

TEST_F(NxlConnectTest, ByAddressAndByNumber) {
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_Connect("not an address", 1, 1, "u", "p", 0, nullptr), -1);
  EXPECT_EQ(QCSDK_Connect("255.255.255.255", 1, 1, "u", "p", 0, nullptr), -1);
  EXPECT_EQ(QCSDK_Connect(nullptr, 1, 1, "u", "p", 0, nullptr), -1);
  EXPECT_EQ(fake.CountCalls("QVSP_CreatePlayer"), 0);  // refused before the base
  EXPECT_EQ(QCSDK_Connect("127.0.0.1", 8000, 2, "u", "p", 0, nullptr), 0);
  EXPECT_EQ(QCSDK_Connect2(0, "abc12345", 0, 3, 1, "u", "p", 1, nullptr), 1);
  EXPECT_EQ(QCSDK_Connect("12345", 0, 3, "u", "p", 1, nullptr), 2);
  EXPECT_EQ(QCSDK_Connect("ABCDE12", 0, 3, "u", "p", 1, nullptr), 3);
  EXPECT_THAT(
      ConnectCalls(fake),
      ElementsAre(
          "QVC_Connect(0, 1, 2, \"127.0.0.1\", 8000, \"u\", \"p\", -1, null, 0, 0, 0, 0, 0)",
          "QVC_Connect(1, 2, 3, null, 0, \"u\", \"p\", 12345, \"ABC\", 1, 1, 0, 0, 0)",
          "QVC_Connect(1, 3, 3, null, 0, \"u\", \"p\", 12345, \"\", 1, 1, 0, 0, 0)",
          "QVC_Connect(1, 4, 3, null, 0, \"u\", \"p\", 0, \"ABCD\", 1, 1, 0, 0, 0)"));
  // Disconnect asks the transport; the channel stays until it confirms.
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_Disconnect(0), 1);
  EXPECT_EQ(fake.Calls().back(), "QVC_DisConnect(1)");
  EXPECT_TRUE(FindChannel(0));
  Fire([&] { cb().connect(1, 2, ""); });
  EXPECT_FALSE(FindChannel(0));
  EXPECT_EQ(host.Codes().back(), QCSDK_EVENT_DISCONNECTED);
}

TEST_F(NxlConnectTest, ConnectResultsBecomeEvents) {
  const struct {
    uint8_t result;
    const char* text;
    int32_t event;
  } failures[] = {{4, "Passwords is wrong!!", 2},
                  {4, "passwords is wrong!!", 6},
                  {4, "No Channel service!", 3},
                  {4, "connect type invalid!", 4},
                  {4, "client count limit", 5},
                  {4, "client cou", 5},
                  {4, "timed out", 6},
                  {4, nullptr, 6}};
  for (const auto& f : failures) {
    const int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
    ASSERT_EQ(n, 0);
    Fire([&] { cb().connect(n + 1, f.result, f.text); });
    EXPECT_EQ(host.Codes().back(), f.event) << (f.text ? f.text : "null");
    EXPECT_FALSE(FindChannel(n));
  }
  // Results 3 and 5 and unknown ones change nothing.
  const int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
  const std::size_t before = host.Events().size();
  Fire([&] {
    cb().connect(n + 1, 3, "x");
    cb().connect(n + 1, 5, "x");
    cb().connect(n + 1, 99, "x");
    cb().connect(77, 1, "no such link");
  });
  EXPECT_EQ(host.Events().size(), before);
  EXPECT_EQ(Nxl(n)->Status(), QCLS_Connecting);
}

TEST_F(NxlConnectTest, LinkUpThenHeaderThenEnd) {
  const int32_t a = ConnectLive();
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_CONNECTED);
  EXPECT_EQ(host.Events().back().text, "welcome");
  int32_t type = 0;
  ASSERT_EQ(QCSDK_GetDeviceInfo(a, &type), 1);
  EXPECT_EQ(type, 2);
  Fire([&] { cb().connect(a + 1, 6, "lost"); });
  EXPECT_EQ(host.Codes().back(), QCSDK_EVENT_LINK_LOST);
  const int32_t b = ConnectLive();
  Fire([&] { cb().connect(b + 1, 7, "closed"); });
  EXPECT_EQ(host.Codes().back(), QCSDK_EVENT_REMOTE_CLOSED);
  EXPECT_FALSE(FindChannel(b));
}

TEST_F(NxlConnectTest, OnlineStatus) {
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus(nullptr, 100), -1);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("", 100), -1);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("A0", 100), -2);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("A12", 0), -1);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("1234", 0), 0);  // OCT: the fake answers 0
  fake.ClearCalls();
  fake.SetResult("QVC_WANGetChannelCount", 4);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("abc12", 500), 1);
  EXPECT_EQ(fake.Calls().back(), "QVC_WANGetChannelCount(\"ABC\", 12, 500)");
  fake.SetResult("QVC_WANGetChannelCount", -1);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("abc12", 500), 0);
  fake.SetResult("QVC_WANGetChannelCount", -7);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("abc12", 500), -1);
  fake.SetResult("octc_get_dev_online_status", -3);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("9001", 500), -1);
  fake.SetResult("octc_get_dev_online_status", 1);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus("9001", 500), 1);
  EXPECT_EQ(fake.CountCalls("octc_free_dev_online_status"), 1);  // only after a success
}

}  // namespace
}  // namespace qcsdk::test
