// Notices and RPC over OCT with the simulator: user data both ways, the
// device's recording state, and RPC calls answered by its state store.
#include <qcsdk/qcsdk_grpc.h>

#include <atomic>
#include <thread>

#include "oct_sim/oct_sim_fixture.h"

namespace qcsdk::test {
namespace {

// The recording states event 17 reported to a channel, in order.
std::vector<intptr_t> States(const std::vector<HostEvent>& events) {
  std::vector<intptr_t> out;
  for (const HostEvent& e : events) out.push_back(e.data);
  return out;
}

TEST_F(OctSimTest, UserDataRecordingStateAndRpcReachTheRightChannels) {
  UserDataLog log;
  const size_t d = Add("channels=2");
  const int32_t a = ConnectLive(d, 1);
  const int32_t b = ConnectLive(d, 2);
  ASSERT_EQ(Oct(d).client_count(), 1u);

  // A channel's own data comes back to it alone; the device's pushed data
  // reaches every channel of the session once. (Data sent from channel 0
  // would come back to all: 0 addresses every channel.)
  ASSERT_EQ(QCSDK_SendUserData(b, "from b", 6), 1);
  ASSERT_TRUE(WaitUntil([&] { return log.Sorted().size() == 1; }));
  devices.device(d).PushUserData({'h', 'i'});
  const std::vector<UserDataLog::Entry> expected = {{a, "hi"}, {b, "from b"}, {b, "hi"}};
  ASSERT_TRUE(WaitUntil([&] { return log.Sorted() == expected; }));

  // "record_set" through RPC: the channel watching that device channel is
  // told the new state; the device's stored settings come back.
  ASSERT_EQ(QCSDK_GRPC_Begin(b), 1);
  qvbu_record_set_param_record_params element{};
  element.channelid = 1;  // device channel 2
  element.normal_record = 1;
  element.packettimelen = 10;
  qvbu_record_set_param set{1, &element};
  int32_t placeholder = -1;
  ASSERT_EQ(QCSDK_GRPC_record_set(b, &set, &placeholder), 1);
  ASSERT_TRUE(WaitEvent(b, QCSDK_EVENT_RECORDING_STATE));
  EXPECT_EQ(States(EventsOf(b, QCSDK_EVENT_RECORDING_STATE)), std::vector<intptr_t>{1});
  qvbu_record_get_param get{1};
  qvbu_record_get_result got{};
  ASSERT_EQ(QCSDK_GRPC_record_get(b, &get, &got), 1);
  ASSERT_EQ(got.record_params_count, 1);
  EXPECT_EQ(got.record_params[0].packettimelen, 10);

  // The SDK's remote-recording export writes a channel's settings back
  // unchanged: device channel 1 has none (not recording), device channel 2
  // those just set.
  ASSERT_EQ(QCSDK_RemoteRecording(a, 1), 1);
  ASSERT_TRUE(WaitEvent(a, QCSDK_EVENT_RECORDING_STATE));
  EXPECT_EQ(States(EventsOf(a, QCSDK_EVENT_RECORDING_STATE)), std::vector<intptr_t>{0});
  ASSERT_EQ(QCSDK_RemoteRecording(b, 1), 1);
  ASSERT_TRUE(WaitEvent(b, QCSDK_EVENT_RECORDING_STATE, 2));
  EXPECT_EQ(States(EventsOf(b, QCSDK_EVENT_RECORDING_STATE)), (std::vector<intptr_t>{1, 1}));

  // A state the device pushes concerns all its channels.
  devices.device(d).PushRecordingState(true);
  ASSERT_TRUE(WaitEvent(a, QCSDK_EVENT_RECORDING_STATE, 2));
  ASSERT_TRUE(WaitEvent(b, QCSDK_EVENT_RECORDING_STATE, 3));
  EXPECT_EQ(States(EventsOf(a, QCSDK_EVENT_RECORDING_STATE)), (std::vector<intptr_t>{0, 1}));
  // PTZ commands travel as RPC methods the device's head accepts.
  EXPECT_EQ(QCSDK_SendPTZCommand(a, 2, 1), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(a, 2, 0), 1);
  const auto calls = devices.device(d).rpc().Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "ptz_move_start"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "ptz_move_stop"), 1);
  EXPECT_EQ(QCSDK_GRPC_End(b), 1);
}

TEST_F(OctSimTest, RpcFailsWithoutHurtingTheLinkWhenTheDeviceRefusesText) {
  const int32_t m = ConnectLive(Add("fault=refuse-text"));
  qvbu_dev_get_info_result none{};
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(m, nullptr, &none), 0);
  EXPECT_EQ(QCSDK_SendPTZCommand(m, 2, 1), 0);
  EXPECT_TRUE(WaitFrames(m));
}

// Two host threads make RPC calls at once through two channels of one
// session: each gets its own answers.
TEST_F(OctSimTest, ConcurrentRpcCallsOverOneSessionKeepTheirAnswers) {
  const size_t d = Add("channels=2");
  const int32_t a = ConnectLive(d, 1);
  const int32_t b = ConnectLive(d, 2);
  std::atomic<int> bad{0};
  auto run = [&](int32_t n, int32_t id) {
    for (int i = 0; i < 50; ++i) {
      qvbu_record_get_param get{id};
      qvbu_record_get_result r{};
      if (QCSDK_GRPC_record_get(n, &get, &r) != 1 || r.record_params_count != 1 ||
          r.record_params[0].channelid != id) {
        ++bad;
      }
    }
  };
  std::thread t1(run, a, 0), t2(run, b, 1);
  t1.join();
  t2.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace qcsdk::test
