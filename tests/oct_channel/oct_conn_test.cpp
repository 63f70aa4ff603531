// Shared connections: who shares, how a refused or closed connection ends
// its channels, how the last channel retires the connection, and the
// workers' stop time-outs.
#include <pthread.h>

#include <atomic>

#include "oct_channel_fixture.h"
#include "qcsdk/oct/oct_init.h"
#include "support/log_capture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;

TEST_F(OctFixture, ChannelsToTheSameDeviceShareOneConnection) {
  const int32_t a = Connect();
  const int32_t b = Connect();
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), 1);
  EXPECT_EQ(OctConnectionCount(), 1u);
  // Another port or another password is another connection.
  EXPECT_GE(Connect("127.0.0.1", 6001), 0);
  EXPECT_GE(Connect("127.0.0.1", 6000, "other"), 0);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), 3);
  // By cloud number the port does not matter.
  EXPECT_GE(Connect("100200300", 1, "pw", 1), 0);
  EXPECT_GE(Connect("100200300", 2, "pw", 1), 0);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_nimbus"), 1);
  EXPECT_EQ(OctConnectionCount(), 4u);
  // Only dotted addresses are accepted by address, before any call.
  EXPECT_EQ(Connect("camera.local"), -1);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), 3);

  // Once connection 1 knows its device, both waiting channels get a stream.
  OctDevInfo info{};
  ConnResult(1, 0, &info);
  ASSERT_TRUE(WaitUntil([&] { return CallsOf("octc_stream_open").size() >= 2; }));
  EXPECT_THAT(CallsOf("octc_stream_open"),
              ElementsAre("octc_stream_open(1, 1, 0, 0, 1)", "octc_stream_open(1, 1, 0, 0, 1)"));
}

TEST_F(OctFixture, DeviceInformationIsFetchedWhenTheConnectResultLacksIt) {
  fake.SetResult("octc_cmd_get_dev_info", -1);
  const int32_t n = Connect();
  ConnResult(1, 0, nullptr);
  // Retried every step while the library cannot answer; no stream meanwhile.
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_cmd_get_dev_info") >= 3; }));
  EXPECT_EQ(fake.CountCalls("octc_stream_open"), 0);
  fake.SetOctDevInfo(4);
  fake.SetResult("octc_cmd_get_dev_info", 0);
  const int32_t stream = WaitStreamOpen(1);
  EXPECT_EQ(fake.CountCalls("octc_cmd_free_dev_info"), 1);
  StreamOpened(1, stream);
  LiveMedia(1, stream, Media());
  ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECTED));
  int32_t type = -1;
  EXPECT_EQ(QCSDK_GetDeviceInfo(n, &type), 1);
  EXPECT_EQ(type, 3);  // device type 4 is an NVR
}

TEST_F(OctFixture, RefusedConnectEndsEveryChannelOfTheConnection) {
  const std::pair<int32_t, int32_t> cases[] = {{OCTC_ERR_AUTH, QCSDK_EVENT_AUTH_FAILED},
                                               {OCTC_ERR_CLIENT_LIMIT, QCSDK_EVENT_CLIENT_LIMIT},
                                               {OCTC_ERR_NO_CHANNEL, QCSDK_EVENT_NO_CHANNEL},
                                               {OCTC_ERR_UNREACHABLE, QCSDK_EVENT_CONNECT_FAILED}};
  int32_t conn = 0;
  for (const auto& [result, event] : cases) {
    SCOPED_TRACE(result);
    const int32_t a = Connect();
    const int32_t b = Connect();
    ASSERT_GE(b, 0);
    ++conn;
    EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), conn);
    ConnResult(conn, result, nullptr);
    EXPECT_EQ(host.Count(event), 2);  // both channels, both still waiting
    EXPECT_EQ(FindChannel(a), nullptr);
    EXPECT_EQ(FindChannel(b), nullptr);
    // Without channels the failed connection leaves the table; its handle
    // is the library's to close.
    ASSERT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
  }
  EXPECT_EQ(fake.CountCalls("octc_stream_open"), 0);
  EXPECT_EQ(fake.CountCalls("octc_close_conn"), 0);
}

TEST_F(OctFixture, ConnectCallRefusedByTheLibraryFailsTheConnect) {
  fake.SetResultByFirstArg("octc_connect_by_hostname", [](int64_t) { return -2; });
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(OctConnectionCount(), 0u);
  EXPECT_EQ(host.Events().size(), 0u);
}

TEST_F(OctFixture, LastChannelLeavingRetiresTheConnection) {
  const auto [a, streamA] = ConnectLive();
  // A channel joining a ready connection gets its stream within a step.
  const int32_t b = Connect();
  const int32_t streamB = WaitStreamOpen(2);
  StreamOpened(1, streamB);
  LiveMedia(1, streamB, Media());
  ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECTED, 2));
  // A third whose open result has not arrived yet.
  const int32_t c = Connect();
  const int32_t streamC = WaitStreamOpen(3);

  EXPECT_EQ(QCSDK_Disconnect(a), 1);
  EXPECT_EQ(QCSDK_Disconnect(c), 1);
  EXPECT_THAT(CallsOf("octc_stream_close"),
              ElementsAre("octc_stream_close(1, " + std::to_string(streamA) + ")",
                          "octc_stream_close(1, " + std::to_string(streamC) + ")"));
  EXPECT_EQ(host.Count(QCSDK_EVENT_DISCONNECTED), 2);
  EXPECT_EQ(FindConnection(1) != nullptr, true);
  EXPECT_EQ(fake.CountCalls("octc_close_conn"), 0);

  EXPECT_EQ(QCSDK_Disconnect(b), 1);
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_close_conn") == 1; }));
  EXPECT_THAT(CallsOf("octc_close_conn"), ElementsAre("octc_close_conn(1)"));
  EXPECT_EQ(FindConnection(1), nullptr);
  // A later connect to the same device makes a new connection.
  EXPECT_GE(Connect(), 0);
  EXPECT_EQ(fake.CountCalls("octc_connect_by_hostname"), 2);
}

TEST_F(OctFixture, ClosedConnectionEndsConnectedAndConnectingChannels) {
  const auto [a, streamA] = ConnectLive();
  const int32_t b = Connect();
  WaitStreamOpen(2);  // b's stream is opening: b is still connecting
  Fire([&] { cb().conn(1, OCTC_CONN_CLOSED, 0, OCTC_ERR_LINK_LOST, 0, 0, 0, nullptr); });
  EXPECT_EQ(host.Count(QCSDK_EVENT_REMOTE_CLOSED), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_CONNECT_FAILED), 1);
  for (const HostEvent& e : host.Events()) {
    if (e.code == QCSDK_EVENT_REMOTE_CLOSED) {
      EXPECT_EQ(e.channel, a);
    }
    if (e.code == QCSDK_EVENT_CONNECT_FAILED) {
      EXPECT_EQ(e.channel, b);
    }
  }
  EXPECT_EQ(FindChannel(a), nullptr);
  EXPECT_EQ(FindChannel(b), nullptr);
  ASSERT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
  EXPECT_EQ(fake.CountCalls("octc_close_conn"), 0);
}

TEST_F(OctFixture, StreamClosedByTheDeviceEndsOnlyItsChannel) {
  const auto [a, streamA] = ConnectLive();
  const int32_t b = Connect();
  const int32_t streamB = WaitStreamOpen(2);
  StreamOpened(1, streamB);
  LiveMedia(1, streamB, Media());
  ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECTED, 2));
  Fire([&] { cb().streamState(1, streamA, OCTC_STATE_CLOSED, 0); });
  EXPECT_EQ(host.Count(QCSDK_EVENT_REMOTE_CLOSED), 1);
  EXPECT_EQ(FindChannel(a), nullptr);
  ASSERT_NE(FindChannel(b), nullptr);
  // Reports for the closed stream reach nobody now.
  Fire([&] { cb().streamState(1, streamA, OCTC_STATE_CLOSED, 0); });
  EXPECT_EQ(host.Count(QCSDK_EVENT_REMOTE_CLOSED), 1);
}

TEST_F(OctFixture, FailedStreamOpenEndsOnlyThatChannel) {
  const auto [a, streamA] = ConnectLive();
  fake.SetResultByFirstArg("octc_stream_open", [](int64_t) { return -1; });
  const int32_t b = Connect();
  ASSERT_TRUE(host.WaitFor(QCSDK_EVENT_CONNECT_FAILED));
  // The worker raises the event, then the channel leaves the registry.
  EXPECT_TRUE(WaitUntil([&] { return FindChannel(b) == nullptr; }));
  EXPECT_NE(FindChannel(a), nullptr);
  // The failed open is not entered, so the connection retires with a.
  EXPECT_EQ(QCSDK_Disconnect(a), 1);
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_close_conn") == 1; }));
}

TEST_F(OctFixture, WorkersStoppedInTimeLogNothing) {
  LogCapture log;
  StopOctWorkers();
  ASSERT_TRUE(StartOctWorkers());
  StopOctWorkers();
  EXPECT_FALSE(log.Contains("worker thread timeout"));
  EXPECT_EQ(OctWorkersAlive(), 0);
  ASSERT_TRUE(StartOctWorkers());
}

TEST_F(OctFixture, WorkerStuckInTheLibraryIsLoggedAndAbandoned) {
  std::atomic<bool> release{false};
  std::atomic<std::size_t> connStack{0}, disconnStack{0};
  // Blocks the calling worker until released, after noting its stack size.
  auto block = [&release](std::atomic<std::size_t>& stack) {
    return [&release, &stack](int64_t) -> int64_t {
      pthread_attr_t attr;
      std::size_t size = 0;
      pthread_getattr_np(pthread_self(), &attr);
      pthread_attr_getstacksize(&attr, &size);
      pthread_attr_destroy(&attr);
      stack = size;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return -1;
    };
  };
  fake.SetResultByFirstArg("octc_close_conn", block(disconnStack));
  fake.SetResultByFirstArg("octc_cmd_get_dev_info", block(connStack));
  // Connection 1 retires: the disconn worker blocks closing it.
  const int32_t a = Connect();
  OctDevInfo info{};
  ConnResult(1, 0, &info);
  WaitStreamOpen(1);
  EXPECT_EQ(QCSDK_Disconnect(a), 1);
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_close_conn") == 1; }));
  // Connection 2 has no device information: the conn worker blocks fetching
  // it. Connection 3, next in its list, becomes ready meanwhile with a
  // channel whose stream cannot be opened.
  Connect("127.0.0.1", 6001);
  Connect("127.0.0.1", 6002);
  ConnResult(2, 0, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return fake.CountCalls("octc_cmd_get_dev_info") == 1; }));
  ConnResult(3, 0, &info);
  fake.SetResultByFirstArg("octc_stream_open", [](int64_t) { return -1; });

  LogCapture log;
  QCSDK_ReleaseSDK();
  EXPECT_TRUE(log.Contains("wait conn worker thread timeout"));
  EXPECT_TRUE(log.Contains("wait disconn worker thread timeout"));
  release = true;
  ASSERT_TRUE(WaitUntil([] { return OctWorkersAlive() == 0; }));
  // The abandoned worker stepped nothing further: no report after release.
  EXPECT_EQ(fake.CountCalls("octc_stream_open"), 1);
  EXPECT_EQ(host.Count(QCSDK_EVENT_CONNECT_FAILED), 0);
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer enlarges every thread's stack for its own use.
  EXPECT_GE(connStack, 524288u);
  EXPECT_GE(disconnStack, 524288u);
#else
  EXPECT_EQ(connStack, 524288u);
  EXPECT_EQ(disconnStack, 524288u);
#endif
}

}  // namespace
}  // namespace qcsdk::test
