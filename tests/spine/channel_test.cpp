// The link state machine and the reports of the channel base.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <cstring>

#include "grpc/grpc_context.h"
#include "qcsdk/facade/bytes.h"
#include "qcsdk/facade/registry.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/log_capture.h"
#include "support/test_channel.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

StreamInfoRecord Record(uint16_t deviceType, uint16_t videoCodec, uint16_t kind = 0) {
  StreamInfoRecord r{};
  StoreLe16(r.data() + info::kDeviceType, deviceType);
  StoreLe16(r.data() + info::kVideoCodec, videoCodec);
  StoreLe16(r.data() + info::kRecordKind, kind);
  return r;
}

class ChannelTest : public ::testing::Test {
 protected:
  FakeLibraries fake;
  TestChannelFactory factory;
  HostRecorder host;
  LogCapture log;
  int user = 0;

  std::shared_ptr<TestChannel> Open() {
    int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, &user);
    EXPECT_GE(n, 0);
    return FindTestChannel(n);
  }
};

TEST_F(ChannelTest, ConnectedOnlyAfterLinkAndStreamInfo) {
  auto ch = Open();
  EXPECT_EQ(ch->Status(), QCLS_Connecting);
  ch->OnLinkEvent(0, "hello device");
  EXPECT_EQ(ch->Status(), QCLS_WaitData);
  EXPECT_TRUE(host.Events().empty());
  int32_t type = -1;
  EXPECT_EQ(QCSDK_GetDeviceInfo(0, &type), 0);  // not connected yet

  auto r = Record(5, 1);
  ch->OnStreamInfo(r.data());
  ch->OnStreamInfo(r.data());
  auto events = host.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, QCSDK_EVENT_CONNECTED);
  EXPECT_EQ(events[0].text, "hello device");
  EXPECT_EQ(events[0].user, &user);
  EXPECT_EQ(events[1].code, QCSDK_EVENT_STREAM_CHANGED);
  EXPECT_EQ(events[1].text, "<null>");
  EXPECT_EQ(QCSDK_GetDeviceInfo(0, &type), 1);
  EXPECT_EQ(type, 4);
  EXPECT_EQ(QCSDK_GetDeviceInfo(0, nullptr), 0);
  EXPECT_TRUE(log.Assertions().empty());
}

TEST_F(ChannelTest, DeviceTypeMapping) {
  auto ch = Open();
  ch->OnLinkEvent(0, nullptr);
  const std::pair<uint16_t, int32_t> cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4},
                                                {5, 4}, {0, 0}, {6, 0}, {0xFFFF, 0}};
  for (auto [field, expected] : cases) {
    auto r = Record(field, 0);
    ch->OnStreamInfo(r.data());
    int32_t type = -1;
    ASSERT_EQ(QCSDK_GetDeviceInfo(0, &type), 1);
    EXPECT_EQ(type, expected) << field;
  }
  // An empty effective text still makes event 1 carry "".
  EXPECT_EQ(host.Events().at(0).text, "");
}

TEST_F(ChannelTest, ConnectFailuresEndTheChannel) {
  for (int32_t code = 2; code <= 6; ++code) {
    auto ch = Open();
    const int32_t n = ch->Number();
    ch->OnLinkEvent(code, "ignored text");
    EXPECT_EQ(ch->Status(), QCLS_UnConnect);
    EXPECT_FALSE(FindChannel(n)) << code;
    EXPECT_EQ(host.Events().back().code, code);
    EXPECT_EQ(host.Events().back().text, "<null>");
  }
  EXPECT_EQ(host.Events().size(), 5u);
  EXPECT_TRUE(log.Assertions().empty());
}

TEST_F(ChannelTest, LinkEndings) {
  // 8 and 9 end a connected or half-connected link; 7 ends any link once.
  auto a = Open();
  a->OnLinkEvent(0, nullptr);
  a->OnLinkEvent(8, nullptr);
  auto b = Open();
  b->OnLinkEvent(0, nullptr);
  auto r = Record(1, 1);
  b->OnStreamInfo(r.data());
  b->OnLinkEvent(9, nullptr);
  auto c = Open();
  c->OnLinkEvent(7, nullptr);
  c->OnLinkEvent(7, nullptr);  // already unconnected: nothing at all
  EXPECT_THAT(host.Codes(), ElementsAre(8, 1, 9, 7));
  EXPECT_FALSE(FindChannel(0));
  EXPECT_TRUE(log.Assertions().empty());
}

TEST_F(ChannelTest, ViolatedChecksAreReportedAndTheTransitionStillHappens) {
  auto ch = Open();
  ch->OnLinkEvent(1, "early");  // connecting, not waiting for data
  EXPECT_EQ(ch->Status(), QCLS_Connected);
  ch->OnLinkEvent(0, nullptr);  // connected, not connecting
  EXPECT_EQ(ch->Status(), QCLS_WaitData);
  ch->OnLinkEvent(42, nullptr);  // unknown code: no change, no event
  EXPECT_EQ(ch->Status(), QCLS_WaitData);
  ch->OnLinkEvent(3, nullptr);  // not connecting
  EXPECT_EQ(ch->Status(), QCLS_UnConnect);
  auto again = Open();
  again->OnLinkEvent(8, nullptr);  // connecting, not connected
  EXPECT_THAT(log.Assertions(),
              ElementsAre("m_eLinkStatus == QCLS_WaitData", "m_eLinkStatus == QCLS_Connecting",
                          "false", "m_eLinkStatus == QCLS_Connecting",
                          "m_eLinkStatus == QCLS_Connected || m_eLinkStatus == QCLS_WaitData"));
  EXPECT_THAT(host.Codes(), ElementsAre(1, 3, 8));
  EXPECT_TRUE(log.Contains("warning: channel("));
  EXPECT_TRUE(log.Contains("m_eLinkStatus == QCLS_WaitData"));

  // A second Connect on a live channel is refused without a second player.
  auto third = Open();
  const int players = fake.CountCalls("QVSP_CreatePlayer");
  EXPECT_FALSE(third->Channel::Connect("x", 1, 1, -1, "u", "p", false, nullptr));
  EXPECT_EQ(fake.CountCalls("QVSP_CreatePlayer"), players);
  EXPECT_EQ(log.Assertions().back(), "m_eLinkStatus == QCLS_UnConnect");
}

TEST_F(ChannelTest, RemoteListAndRecordingState) {
  auto ch = Open();
  std::vector<uint8_t> entries(3 * kRecEntrySize);
  for (int i = 0; i < 3; ++i) StoreLe32(entries.data() + i * kRecEntrySize, 100 + i);
  const uint8_t* delivered = nullptr;
  host.onEvent = [&](const HostEvent& e) {
    if (e.code == QCSDK_EVENT_REC_LIST && e.value > 0) {
      delivered = reinterpret_cast<const uint8_t*>(e.data);
      // The list is a copy that lives on after the transport's buffer.
      EXPECT_EQ(LoadLe32(delivered + 2 * kRecEntrySize), 102u);
    }
  };
  ch->OnRemoteRecFileList(entries.data(), 3);
  ASSERT_NE(delivered, nullptr);
  EXPECT_NE(delivered, entries.data());
  ch->OnRemoteRecFileList(nullptr, 0);
  ch->OnRemoteRecFileList(nullptr, -1);
  ch->OnRemoteRecordingState(1);
  auto events = host.Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].value, 3);
  EXPECT_EQ(events[1].code, QCSDK_EVENT_REC_LIST);
  EXPECT_EQ(events[1].data, 0);
  EXPECT_EQ(events[1].value, 0);
  EXPECT_EQ(events[2].code, QCSDK_EVENT_REC_LIST_FAILED);
  EXPECT_EQ(events[3].code, QCSDK_EVENT_RECORDING_STATE);
  EXPECT_EQ(events[3].data, 1);
  EXPECT_EQ(events[3].value, 0);
}

TEST_F(ChannelTest, CredentialsReachTheRpcContext) {
  int32_t n =
      QCSDK_Connect("127.0.0.1", 1, 1, "operator", std::string(40, 'p').c_str(), 0, nullptr);
  ASSERT_GE(n, 0);
  GrpcContext* context = FindChannel(n)->Grpc();
  ASSERT_NE(context, nullptr);
  EXPECT_STREQ(context->username, "operator");
  EXPECT_EQ(std::string(context->password), std::string(31, 'p'));
}

}  // namespace
}  // namespace qcsdk::test
