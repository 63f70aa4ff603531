// Shared connections: what makes two channels share one, how connect results end channels, how the
// last channel retires a connection, the library set-up and the workers' stop time-outs.
#include <atomic>

#include "oct_channel_fixture.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/oct/oct_conn.h"
#include "support/log_capture.h"
#include "support/process_probe.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

std::string ConnectCall(const Target& t) {
  const std::string tail = "\"" + std::string(t.user) + "\", \"" + t.password + "\", 0, 0";
  if (t.byNumber != 0)
    return "octc_connect_by_nimbus(\"" + std::string(t.host) + "\", " + tail + ")";
  return "octc_connect_by_hostname(\"" + std::string(t.host) + "\", " + std::to_string(t.port) +
         ", " + tail + ", 0)";
}

const std::vector<TableRow>& KeyCases() {
  static const Table table("oct_channel/sharing_key.md");
  return table.rows();
}

Target Side(const TableRow& row, const std::string& side) {
  return {.host = row.Text(side + " host").c_str(),
          .port = static_cast<int32_t>(row.Int(side + " port")),
          .user = row.Text(side + " user").c_str(),
          .password = row.Text(side + " password").c_str(),
          .byNumber = static_cast<int32_t>(row.Int(side + " by number"))};
}

class OctSharing : public OctFixture, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(OctSharing, ChannelsShareAConnectionOnlyWithTheWholeKeyEqual) {
  const TableRow& row = KeyCases()[GetParam()];
  SCOPED_TRACE(row.Where());
  const Target first = Side(row, "first"), second = Side(row, "second");
  const bool shared = row.Bool("shared");
  ASSERT_GE(Connect(first), 0);
  ASSERT_GE(Connect(second), 0);
  std::vector<std::string> expected = {ConnectCall(first)};
  if (!shared) expected.push_back(ConnectCall(second));
  EXPECT_THAT(CallsOf("octc_connect_by_"), ::testing::UnorderedElementsAreArray(expected));
  EXPECT_EQ(OctConnectionCount(), expected.size());
  // Once connection 1 knows its device, each waiting channel gets a stream of its device channel.
  ConnResult(1, 0);
  const std::size_t streams = shared ? 2 : 1;
  ASSERT_TRUE(WaitUntil([&] { return CallsOf("octc_stream_open").size() >= streams; }));
  EXPECT_EQ(CallsOf("octc_stream_open"),
            std::vector<std::string>(streams, "octc_stream_open(1, 1, 0, 0, 1)"));
}

INSTANTIATE_TEST_SUITE_P(Key, OctSharing, ::testing::Range<std::size_t>(0, KeyCases().size()));

TEST_F(OctFixture, ConnectsRefusedBeforeAnyLinkFailAtOnce) {
  // Only dotted addresses; a negative handle fails the connect, handle 0 is a handle.
  EXPECT_EQ(Connect({.host = "camera.local"}), -1);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), 0);
  fake.SetResultByFirstArg("octc_connect_by_hostname", [](int64_t) { return -1; });
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(OctConnectionCount(), 0u);
  fake.SetResultByFirstArg("octc_connect_by_hostname", [](int64_t) { return 0; });
  EXPECT_EQ(Connect(), 0);
  EXPECT_NE(FindConnection(0), nullptr);
  EXPECT_TRUE(host.Events().empty());
}

// A failed connect result or stream open ends the channel with its event (params: result, event).
class OctConnectResult : public OctFixture,
                         public ::testing::WithParamInterface<std::pair<int32_t, int32_t>> {};

TEST_P(OctConnectResult, EndsEveryWaitingChannelWithItsEvent) {
  const auto [result, event] = GetParam();
  const int32_t a = Connect(), b = Connect();
  ConnResult(1, result, nullptr);
  EXPECT_THAT(EventsOf(event), ElementsAre(a, b));
  EXPECT_EQ(host.Events().size(), 2u);
  for (int32_t ended : {a, b}) EXPECT_EQ(FindChannel(ended), nullptr) << ended;
  // Left without channels, the failed connection leaves the table; closing it is the library's.
  ASSERT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
  EXPECT_EQ(fake.CountCalls("octc_close_conn"), 0);

  const int32_t c = Connect();
  ConnResult(2, 0);
  const int32_t stream = WaitStreamOpen(1);
  Fire([&] { cb().streamState(2, stream, OCTC_STATE_RESULT, result); });
  EXPECT_THAT(EventsOf(event), ElementsAre(a, b, c));
  EXPECT_EQ(FindChannel(c), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Results, OctConnectResult,
    ::testing::ValuesIn(std::vector<std::pair<int32_t, int32_t>>{
        {-10, 2}, {-36, 3}, {-34, 5}, {-2, 6}, {-6, 6}, {-1, 6}, {-35, 6}, {1, 6}}));

TEST_F(OctFixture, DeviceInformationIsFetchedWhenTheConnectResultLacksIt) {
  fake.SetResult("octc_cmd_get_dev_info", -1);
  const int32_t n = Connect({.deviceChannel = 3, .stream = 2});
  ConnResult(1, 0, nullptr);
  // Retried every step while the library cannot answer; no stream meanwhile.
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_cmd_get_dev_info") >= 3; }));
  EXPECT_EQ(fake.CountCalls("octc_stream_open"), 0);
  fake.SetOctDevInfo(4);
  fake.SetResult("octc_cmd_get_dev_info", 0);
  const int32_t stream = WaitStreamOpen(1);
  EXPECT_THAT(CallsOf("octc_stream_open"), ElementsAre("octc_stream_open(1, 3, 2, 0, 1)"));
  EXPECT_EQ(fake.CountCalls("octc_cmd_free_dev_info"), 1);
  StreamState(stream, OCTC_STATE_RESULT);
  Media(OctMedia(), stream);
  ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECTED));
  int32_t type = -1;
  EXPECT_EQ(QCSDK_GetDeviceInfo(n, &type), 1);
  EXPECT_EQ(type, 3);  // device type 4 is an NVR
}

TEST_F(OctFixture, LastChannelLeavingRetiresTheConnection) {
  const auto [a, streamA] = ConnectLive(1);
  const auto [b, streamB] = ConnectLive(2);  // joins a ready connection
  // A third whose open result has not arrived yet.
  const int32_t c = Connect(), streamC = WaitStreamOpen(3);

  EXPECT_EQ(QCSDK_Disconnect(a), 1);
  EXPECT_EQ(QCSDK_Disconnect(c), 1);
  EXPECT_THAT(CallsOf("octc_stream_close"),
              ElementsAre("octc_stream_close(1, " + std::to_string(streamA) + ")",
                          "octc_stream_close(1, " + std::to_string(streamC) + ")"));
  EXPECT_THAT(EventsOf(QCSDK_EVENT_DISCONNECTED), ElementsAre(a, c));
  EXPECT_NE(FindConnection(1), nullptr);
  EXPECT_EQ(fake.CountCalls("octc_close_conn"), 0);
  // A channel whose stream cannot open ends alone, never entered: the connection retires with b.
  fake.SetResultByFirstArg("octc_stream_open", [](int64_t) { return -1; });
  const int32_t d = Connect();
  ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECT_FAILED));
  EXPECT_TRUE(WaitUntil([&] { return FindChannel(d) == nullptr; }));

  EXPECT_EQ(QCSDK_Disconnect(b), 1);
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_close_conn") == 1; }));
  EXPECT_THAT(CallsOf("octc_close_conn"), ElementsAre("octc_close_conn(1)"));
  EXPECT_EQ(FindConnection(1), nullptr);
  // A later connect to the device makes a new connection; given up early, it closes once answered.
  EXPECT_EQ(QCSDK_Disconnect(Connect()), 1);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), 2);
  ConnResult(2, 0);
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_close_conn") == 2; }));
  EXPECT_EQ(fake.CountCalls("octc_stream_open"), 4);
}

TEST_F(OctFixture, ClosedConnectionOrStreamEndsItsChannels) {
  const auto [a, streamA] = ConnectLive(1);
  const auto [b, streamB] = ConnectLive(2);
  // The device closes b's stream: only b ends; reports for it reach nobody.
  StreamState(streamB, OCTC_STATE_CLOSED);
  StreamState(streamB, OCTC_STATE_CLOSED);
  EXPECT_THAT(EventsOf(QCSDK_EVENT_REMOTE_CLOSED), ElementsAre(b));
  EXPECT_EQ(FindChannel(b), nullptr);
  ASSERT_NE(FindChannel(a), nullptr);

  // The link closes while the worker opens c's stream: c left the waiting list, not yet entered.
  fake.SetResultByFirstArg("octc_stream_open", [&](int64_t) {
    Fire([&] { cb().conn(1, OCTC_CONN_CLOSED, 0, OCTC_ERR_LINK_LOST, 0, 0, 0, nullptr); });
    return 102;
  });
  const int32_t c = Connect();
  // Without channels the connection leaves the table (after the event).
  ASSERT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
  EXPECT_THAT(EventsOf(QCSDK_EVENT_REMOTE_CLOSED), ElementsAre(b, a));
  EXPECT_THAT(EventsOf(QCSDK_EVENT_CONNECT_FAILED), ElementsAre(c));
  for (int32_t ended : {a, c}) EXPECT_EQ(FindChannel(ended), nullptr) << ended;
  EXPECT_EQ(fake.CountCalls("octc_close_conn"), 0);
}

// Stops outlasting a worker's time (conn 2 s, disconn 0.5 s) are logged, the worker abandoned.
TEST_F(OctFixture, WorkerStopsWaitTheirTimeThenAbandonTheWorker) {
  std::atomic<int> blockMs{0};  // < 0: until released
  std::atomic<std::size_t> connStack{0}, disconnStack{0};
  auto block = [&blockMs](std::atomic<std::size_t>& stack) {
    return [&blockMs, &stack](int64_t) -> int64_t {
      stack = CurrentThreadStackSize();
      for (const auto start = std::chrono::steady_clock::now();
           blockMs < 0 || std::chrono::steady_clock::now() - start < blockMs.load() * 1ms;)
        std::this_thread::sleep_for(1ms);
      return -1;
    };
  };
  fake.SetResultByFirstArg("octc_close_conn", block(disconnStack));
  fake.SetResultByFirstArg("octc_cmd_get_dev_info", block(connStack));
  // `conn` retires (its close blocks the disconn worker); conn + 1 lacks device info (fetch blocks)
  auto blockBoth = [&](int32_t conn, int32_t port) {
    fake.ClearCalls();
    const int32_t a = Connect({.port = port});
    ConnResult(conn, 0);
    ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_stream_open") == 1; }));
    EXPECT_EQ(QCSDK_Disconnect(a), 1);
    ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_close_conn") == 1; }));
    Connect({.port = port + 1});
    ConnResult(conn + 1, 0, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_cmd_get_dev_info") >= 1; }));
  };
  blockMs = 400;
  blockBoth(1, 6000);
  {
    LogCapture log;
    QCSDK_ReleaseSDK();
    EXPECT_FALSE(log.Contains("worker thread timeout"));
    EXPECT_EQ(OctWorkersAlive(), 0);
  }

  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  blockMs = -1;
  blockBoth(3, 7000);
  // Connection 5, after 4 in the worker's list, gets ready with a channel whose stream fails.
  Connect({.port = 7002});
  ConnResult(5, 0);
  fake.SetResultByFirstArg("octc_stream_open", [](int64_t) { return -1; });
  // A failed connection stays in the table while the worker is held, but takes no further channel.
  Connect({.port = 7003});
  ConnResult(6, OCTC_ERR_UNREACHABLE, nullptr);
  Connect({.port = 7003});
  EXPECT_EQ(CallsOf("octc_connect_by_hostname").size(), 5u);
  EXPECT_NE(FindConnection(6), nullptr);
  const int failed = host.Count(QCSDK_EVENT_CONNECT_FAILED);
  const int opens = fake.CountCalls("octc_stream_open");
  LogCapture log;
  QCSDK_ReleaseSDK();
  EXPECT_TRUE(log.Contains("wait conn worker thread timeout"));
  EXPECT_TRUE(log.Contains("wait disconn worker thread timeout"));
  blockMs = 0;
  ASSERT_TRUE(WaitUntil([] { return OctWorkersAlive() == 0; }));
  // The abandoned worker stepped nothing further: no report after release.
  EXPECT_EQ(fake.CountCalls("octc_stream_open"), opens);
  EXPECT_EQ(host.Count(QCSDK_EVENT_CONNECT_FAILED), failed);
  for (const std::size_t stack : {connStack.load(), disconnStack.load()}) {
#if defined(__SANITIZE_THREAD__)  // ThreadSanitizer enlarges every stack for its own use
    EXPECT_GE(stack, 524288u);
#elif defined(_WIN32)  // wine reserves at least 1 MiB (the default here is 2 MiB)
    EXPECT_TRUE(stack == 524288u || stack == 1048576u) << stack;
#else
    EXPECT_EQ(stack, 524288u);
#endif
  }
}

}  // namespace
}  // namespace qcsdk::test
