// The fault switches: refusals at login, links that end mid-stream, a slow
// device and malformed data.
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

TEST_F(VdeviceTest, LoginRefusalsGiveTheirTexts) {
  AddDevice("live=off,fault=refuse-password");
  AddDevice("live=off,fault=no-channel");
  AddDevice("live=off,fault=client-limit");
  AddDevice("live=off,limit=1,channels=2");
  EXPECT_EQ(4, Connect(1, 0));
  EXPECT_EQ(ConnectText(1).substr(0, 10), std::string("Passwords is wrong").substr(0, 10));
  EXPECT_EQ(4, Connect(2, 1));
  EXPECT_EQ(ConnectText(2).substr(0, 10), std::string("No Channel service!").substr(0, 10));
  EXPECT_EQ(4, Connect(3, 2));
  EXPECT_EQ(ConnectText(3).substr(0, 10), std::string("client count limit").substr(0, 10));
  // Real checks: the wrong password, a channel the device lacks, its limit.
  EXPECT_EQ(4, Connect(4, 3, 0, "admin", "nope"));
  EXPECT_EQ(ConnectText(4).substr(0, 10), std::string("Passwords is wrong").substr(0, 10));
  EXPECT_EQ(4, Connect(5, 3, 7));
  EXPECT_EQ(ConnectText(5).substr(0, 10), std::string("No Channel service!").substr(0, 10));
  EXPECT_EQ(1, Connect(6, 3, 1));
  EXPECT_EQ(4, Connect(7, 3, 0));
  EXPECT_EQ(ConnectText(7).substr(0, 10), std::string("client count limit").substr(0, 10));
}

TEST_F(VdeviceTest, LinksEndAfterNFrames) {
  AddDevice("fault=drop-after:3");
  AddDevice("fault=close-after:3");
  AddDevice("fault=malformed-after:3");
  ASSERT_EQ(1, Connect(1, 0));
  ASSERT_EQ(1, Connect(2, 1));
  ASSERT_EQ(1, Connect(3, 2));
  ASSERT_TRUE(WaitFor(Event::kConnect, 1, 6));  // lost
  ASSERT_TRUE(WaitFor(Event::kConnect, 2, 7));  // closed by the device
  ASSERT_TRUE(WaitFor(Event::kConnect, 3, 6));  // lost on malformed data
  for (int32_t link : {1, 2, 3}) {
    size_t video = 0;
    for (const auto& e : Of(Event::kLive, link)) video += e.code == 1 || e.code == 3 ? 1 : 0;
    EXPECT_LE(video, 3u) << link;
    EXPECT_GE(video, 2u) << link;
  }
}

TEST_F(VdeviceTest, SlowDeviceStillAnswers) {
  AddDevice("live=off,fault=slow:300");
  ASSERT_EQ(1, Connect(1, 0));
  Send(1, 64);
  ASSERT_TRUE(WaitFor(Event::kTalk, 1, 'B'));
  // Hostile requests end nothing: short seeks, controls and texts.
  const uint8_t one = 1;
  Send(1, 68, &one, 1);
  Send(1, 96, &one, 1);
  Send(1, 81, &one, 1);
  Send(1, 16, &one, 1);
  ASSERT_TRUE(WaitFor(Event::kFileList, 1, -1));
  EXPECT_TRUE(Of(Event::kConnect, 1, 6).empty());
}

}  // namespace
}  // namespace vdevice_test
