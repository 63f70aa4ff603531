// The link state machine and the reports of the channel base.
#include <gmock/gmock.h>

#include "grpc/grpc_context.h"
#include "qcsdk/facade/registry.h"
#include "support/channel_fixture.h"
#include "support/log_capture.h"

namespace qcsdk::test {
namespace {

class ChannelTest : public ChannelFixture {
 protected:
  LogCapture log;
  int user = 0;
};

// The link state machine, every code from every state. Columns: the
// status a code requires (none: any), the status it leaves, the event it
// raises; state 0 is unconnected, 1 connecting, 2 waiting for data, 3
// connected.
struct LinkRow {
  int32_t code;
  std::vector<int> allowedFrom;  // empty: no check
  int to;                        // -1: unchanged
  bool raises;
};

TEST_F(ChannelTest, LinkEventsFromEveryState) {
  const LinkRow rows[] = {{0, {1}, 2, false},   {1, {2}, 3, true},     {2, {1}, 0, true},
                          {3, {1}, 0, true},    {4, {1}, 0, true},     {5, {1}, 0, true},
                          {6, {1}, 0, true},    {7, {}, 0, true},      {8, {2, 3}, 0, true},
                          {9, {2, 3}, 0, true}, {-1, {-9}, -1, false}, {10, {-9}, -1, false},
                          {42, {-9}, -1, false}};
  const char* const checks[] = {
      "m_eLinkStatus == QCLS_Connecting", "m_eLinkStatus == QCLS_WaitData",
      "m_eLinkStatus == QCLS_Connected || m_eLinkStatus == QCLS_WaitData", "false"};
  for (const LinkRow& row : rows) {
    for (int from = 0; from <= 3; ++from) {
      SCOPED_TRACE(testing::Message() << "code " << row.code << " from " << from);
      auto ch = Open(false, "u", "p", &user);
      const int32_t n = ch->Number();
      if (from >= 2) ch->OnLinkEvent(0, "link text");
      if (from == 3) Describe(*ch);
      if (from == 0) ch->OnLinkEvent(6, nullptr);
      ASSERT_EQ(static_cast<int>(ch->Status()), from);
      const size_t events = host.Events().size();
      const size_t assertions = log.Assertions().size();
      const bool inTable = FindChannel(n) != nullptr;

      ch->OnLinkEvent(row.code, "given text");

      const bool checked = !row.allowedFrom.empty();
      const bool allowed =
          std::find(row.allowedFrom.begin(), row.allowedFrom.end(), from) != row.allowedFrom.end();
      const bool silent = row.code == 7 && from == 0;  // already unconnected: nothing at all
      if (checked && !allowed) {
        ASSERT_EQ(log.Assertions().size(), assertions + 1);
        const int check = row.to == -1 ? 3 : row.code == 1 ? 1 : row.code >= 8 ? 2 : 0;
        EXPECT_EQ(log.Assertions().back(), checks[check]);
      } else {
        EXPECT_EQ(log.Assertions().size(), assertions);
      }
      EXPECT_EQ(static_cast<int>(ch->Status()), row.to == -1 || silent ? from : row.to);
      const auto after = host.Events();
      if (row.raises && !silent) {
        ASSERT_EQ(after.size(), events + 1);
        const HostEvent& e = after.back();
        EXPECT_EQ(std::tuple(e.code, e.channel, e.text, e.value, e.user),
                  std::tuple(row.code, n, row.code == 1 ? "given text" : "<null>", 0, &user));
      } else {
        EXPECT_EQ(after.size(), events);
      }
      // A link that ends leaves the table after its event.
      EXPECT_EQ(FindChannel(n) != nullptr, inTable && ch->Status() != QCLS_UnConnect);
      RemoveAllChannels();
    }
  }
}

TEST_F(ChannelTest, ConnectedOnlyAfterLinkAndStreamInfoWithTheDeviceType) {
  auto ch = Open(false);
  ch->OnLinkEvent(0, "hello device");
  int32_t type = -1;
  EXPECT_EQ(QCSDK_GetDeviceInfo(0, &type), 0);  // not connected yet
  Describe(*ch);
  Describe(*ch);
  EXPECT_EQ(QCSDK_GetDeviceInfo(0, nullptr), 0);
  // The device type from the record's 16-bit field.
  const std::pair<uint16_t, int32_t> types[] = {{0, 0}, {1, 1}, {2, 2},      {3, 3},     {4, 4},
                                                {5, 4}, {6, 0}, {0x0101, 0}, {0xFFFF, 0}};
  for (auto [field, expected] : types) {
    Describe(*ch, {.deviceType = field});
    ASSERT_EQ(QCSDK_GetDeviceInfo(0, &type), 1);
    EXPECT_EQ(type, expected) << field;
  }
  // A link established without text makes event 1 carry "".
  auto other = Open();
  Describe(*other);
  const auto events = host.Events();
  ASSERT_EQ(events.size(), 3u + std::size(types));
  const auto event = [](const HostEvent& e) { return std::pair(e.code, e.text); };
  EXPECT_EQ(event(events[0]), std::pair(1, std::string("hello device")));
  EXPECT_EQ(event(events[1]), std::pair(16, std::string("<null>")));
  EXPECT_EQ(event(events.back()), std::pair(1, std::string()));
  EXPECT_TRUE(log.Assertions().empty());
  // A second Connect on a live channel is refused without a second player.
  const int players = fake.CountCalls("QVSP_CreatePlayer");
  EXPECT_FALSE(other->Channel::Connect("x", 1, 1, -1, "u", "p", false, nullptr));
  EXPECT_EQ(fake.CountCalls("QVSP_CreatePlayer"), players);
  EXPECT_THAT(log.Assertions(), ::testing::ElementsAre("m_eLinkStatus == QCLS_UnConnect"));
}

TEST_F(ChannelTest, RemoteListRecordingStateAndCredentials) {
  const std::string name31(31, 'u'), password32(32, 'p');
  auto ch = Open(true, name31.c_str(), password32.c_str());
  std::vector<uint8_t> entries(3 * kRecEntrySize);
  for (int i = 0; i < 3; ++i) StoreLe32(entries.data() + i * kRecEntrySize, 100 + i);
  host.onEvent = [&](const HostEvent& e) {
    if (e.code != 10 || e.value == 0) return;
    // The list is a copy that lives on after the transport's buffer.
    EXPECT_NE(reinterpret_cast<const uint8_t*>(e.data), entries.data());
    EXPECT_EQ(LoadLe32(reinterpret_cast<const uint8_t*>(e.data) + 2 * kRecEntrySize), 102u);
  };
  ch->OnRemoteRecFileList(entries.data(), 3);
  ch->OnRemoteRecFileList(nullptr, 0);
  ch->OnRemoteRecFileList(entries.data(), -1);
  ch->OnRemoteRecordingState(1);
  const std::tuple<int32_t, intptr_t, int32_t> expected[] = {
      {10, 1, 3}, {10, 0, 0}, {11, 0, 0}, {17, 1, 0}};
  const auto events = host.Events();
  ASSERT_EQ(events.size(), std::size(expected));
  for (size_t i = 0; i < events.size(); ++i) {
    const auto [code, data, value] = expected[i];
    EXPECT_EQ(events[i].code, code) << i;
    EXPECT_EQ(events[i].data != 0, data != 0) << i;
    EXPECT_EQ(events[i].value, value) << i;
  }
  // Credentials reach the RPC context cut to 31 characters.
  EXPECT_EQ(std::string(ch->Grpc()->username), name31);
  EXPECT_EQ(std::string(ch->Grpc()->password), std::string(31, 'p'));
}

}  // namespace
}  // namespace qcsdk::test
