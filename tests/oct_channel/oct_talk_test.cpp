// Talk over an OCT channel: each host action's library calls (with the tick) and the reports.
#include "oct_channel_fixture.h"
#include "platform/os.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using OctTalkTest = OctFixture;

TEST_F(OctTalkTest, TalkStepByStep) {
  const int32_t n = ConnectLive().first;
  const uint8_t bytes[4] = {1, 2, 3, 4};
  int32_t talk = -1;
  for (const TableRow& row : Table("oct_channel/talk_steps.md")) {
    SCOPED_TRACE(row.Where());
    const std::string& action = row.Text("action");
    const size_t before = host.Talk().size();
    fake.ClearCalls();
    const uint64_t first = os::TickCount64();
    if (action == "start") {
      const auto handle = static_cast<int32_t>(row.Int("library"));
      fake.SetResultByFirstArg("octc_chat_open", [handle](int64_t) { return handle; });
      EXPECT_EQ(QCSDK_StartTalk(n), row.Int("answer"));
      if (row.Int("answer") == 1) talk = handle;
    } else if (action == "send") {
      fake.SetResult("octc_chat_write", row.Int("library"));
      EXPECT_EQ(QCSDK_SendTalkData(n, bytes, 4), row.Int("answer"));
    } else if (action == "stop") {
      EXPECT_EQ(QCSDK_StopTalk(n), row.Int("answer"));
    } else if (action == "audio") {
      Fire([&] { cb().chatData(1, talk, bytes, 4); });
    } else {
      const std::string& status = row.Text("status");
      Fire([&] {
        cb().chatState(1, action == "other" ? 999 : talk, status[0] - '0', std::stoi(&status[2]));
      });
    }
    const uint64_t last = os::TickCount64();
    // One talk call at most; a write's two last arguments are the tick's halves, low first.
    const std::vector<std::string> calls = CallsOf("octc_chat_");
    ASSERT_LE(calls.size(), 1u);
    std::string call = calls.empty() ? "" : calls[0];
    if (call.rfind("octc_chat_write", 0) == 0) {
      const size_t high = call.rfind(", "), low = call.rfind(", ", high - 1);
      const uint64_t tick = std::stoull(call.substr(low + 2)) | std::stoull(call.substr(high + 2))
                                                                    << 32;
      EXPECT_TRUE(tick >= first && tick <= last) << call << " outside " << first << ".." << last;
      call = call.substr(0, low) + ", {tick})";
    }
    EXPECT_EQ(call, row.Text("calls"));
    EXPECT_EQ(host.TalkSince(before, n), row.Text("report"));
  }
}

}  // namespace
}  // namespace qcsdk::test
