// The link state machine and the reports of the channel base.
#include <gmock/gmock.h>

#include "grpc/grpc_context.h"
#include "support/channel_fixture.h"
#include "support/log_capture.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

class ChannelTest : public ChannelFixture {
 protected:
  LogCapture log;
  int user = 0;
};

TEST_F(ChannelTest, LinkEventsFromEveryState) {
  for (const TableRow& row : Table("spine/link_events.md")) {
    const auto code = static_cast<int32_t>(row.Int("code"));
    const std::string& allowedFrom = row.Text("allowed from");
    const auto to = static_cast<int>(row.Int("leaves"));
    for (int from = 0; from <= 3; ++from) {
      SCOPED_TRACE(testing::Message() << row.Where() << " from " << from);
      auto ch = Open(false, "u", "p", &user);
      const int32_t n = ch->Number();
      if (from >= 2) ch->OnLinkEvent(0, "link text");
      if (from == 3) Describe(*ch);
      if (from == 0) ch->OnLinkEvent(6, nullptr);
      ASSERT_EQ(static_cast<int>(ch->Status()), from);
      const ChannelPtr newer = from == 0 ? Open(false) : nullptr;
      const size_t events = host.Events().size(), assertions = log.Assertions().size();

      ch->OnLinkEvent(code, "given text");

      const bool checked = allowedFrom != "any";
      const bool allowed = allowedFrom.find(std::to_string(from)) != std::string::npos;
      const bool silent = code == 7 && from == 0;  // already unconnected: nothing at all
      if (checked && !allowed) {
        ASSERT_EQ(log.Assertions().size(), assertions + 1);
        EXPECT_EQ(log.Assertions().back(), row.Text("failed check"));
      } else {
        EXPECT_EQ(log.Assertions().size(), assertions);
      }
      EXPECT_EQ(static_cast<int>(ch->Status()), to == -1 || silent ? from : to);
      const auto after = host.Events();
      if (row.Bool("raises") && !silent) {
        ASSERT_EQ(after.size(), events + 1);
        const HostEvent& e = after.back();
        EXPECT_EQ(std::tuple(e.code, e.channel, e.text, e.value, e.user),
                  std::tuple(code, n, code == 1 ? "given text" : "<null>", 0, &user));
      } else {
        EXPECT_EQ(after.size(), events);
      }
      // A link that ends leaves the table after its event; a late report of one
      // already gone (from 0) leaves the newer channel that took its number.
      const ChannelPtr kept = from == 0 ? newer : ch->Status() != QCLS_UnConnect ? ch : nullptr;
      EXPECT_EQ(FindChannel(n).get(), kept.get());
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
  const Table types("spine/device_types.md");
  for (const TableRow& row : types) {
    Describe(*ch, {.deviceType = static_cast<uint16_t>(row.Int("type field"))});
    ASSERT_EQ(QCSDK_GetDeviceInfo(0, &type), 1);
    EXPECT_EQ(type, row.Int("device type")) << row.Where();
  }
  // A link established without text makes event 1 carry "".
  auto other = Open();
  Describe(*other);
  const auto events = host.Events();
  ASSERT_EQ(events.size(), 3u + types.rows().size());
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
  // (code, data pointer set, value) of each report.
  using Report = std::tuple<int32_t, bool, int32_t>;
  std::vector<Report> reports;
  for (const HostEvent& e : host.Events()) reports.emplace_back(e.code, e.data != 0, e.value);
  EXPECT_EQ(reports,
            (std::vector<Report>{{10, true, 3}, {10, false, 0}, {11, false, 0}, {17, true, 0}}));
  // Credentials reach the RPC context cut to 31 characters.
  EXPECT_EQ(std::string(ch->Grpc()->username), name31);
  EXPECT_EQ(std::string(ch->Grpc()->password), std::string(31, 'p'));
}

}  // namespace
}  // namespace qcsdk::test
