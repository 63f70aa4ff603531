// Notices and RPC over OCT with the simulator: user data both ways, the
// device's recording state, and RPC calls answered by its state store.
#include <qcsdk/qcsdk_grpc.h>

#include <algorithm>
#include <atomic>

#include "oct_sim/oct_sim_fixture.h"

namespace qcsdk::test {
namespace {

using UserData = std::pair<int32_t, std::string>;

std::mutex g_userMutex;
std::vector<UserData> g_userData;

void OnUserData(int32_t channel, const uint8_t* data, int32_t length) {
  std::lock_guard<std::mutex> guard(g_userMutex);
  g_userData.emplace_back(
      channel, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
}

std::vector<UserData> UserDataSeen() {
  std::lock_guard<std::mutex> guard(g_userMutex);
  std::vector<UserData> out = g_userData;
  std::sort(out.begin(), out.end());
  return out;
}

// Sends user data from a channel and waits until it has come back: every
// notice the session carried before it has been handled by then. (Channel
// number 0 is also the address "every channel": its own data comes back to
// every channel of the session, so the mark is sent from another number.)
bool Barrier(int32_t channel, const std::string& mark) {
  if (QCSDK_SendUserData(channel, mark.data(), static_cast<int32_t>(mark.size())) != 1) {
    return false;
  }
  return WaitUntil([&] {
    const auto seen = UserDataSeen();
    return std::find(seen.begin(), seen.end(), UserData{channel, mark}) != seen.end();
  });
}

// The recording states event 17 reported to a channel, in order.
std::vector<intptr_t> States(const std::vector<HostEvent>& events) {
  std::vector<intptr_t> out;
  for (const HostEvent& e : events) out.push_back(e.data);
  return out;
}

TEST_F(OctSimTest, UserDataAndRecordingStateReachTheRightChannels) {
  {
    std::lock_guard<std::mutex> guard(g_userMutex);
    g_userData.clear();
  }
  QCSDK_RegisterUserDataCallback(&OnUserData);
  const size_t d = Add("channels=2");
  const int32_t a = ConnectLive(d, 1);
  const int32_t b = ConnectLive(d, 2);
  ASSERT_EQ(Oct(d).client_count(), 1u);

  // A channel's own data comes back to it alone; the device's pushed data
  // reaches every channel of the session once.
  ASSERT_EQ(QCSDK_SendUserData(b, "from b", 6), 1);
  ASSERT_TRUE(WaitUntil([] { return UserDataSeen().size() >= 1; }));
  devices.device(d).PushUserData({'h', 'i'});
  ASSERT_TRUE(Barrier(b, "sync"));
  EXPECT_EQ(UserDataSeen(),
            (std::vector<UserData>{{a, "hi"}, {b, "from b"}, {b, "hi"}, {b, "sync"}}));

  // "record_set" through RPC: the channel watching that device channel is
  // told the new state.
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

  // The SDK's remote-recording export writes a channel's settings back
  // unchanged: device channel 1 has none (not recording), device channel 2
  // those just set.
  ASSERT_EQ(QCSDK_RemoteRecording(a, 1), 1);
  ASSERT_TRUE(WaitEvent(a, QCSDK_EVENT_RECORDING_STATE));
  EXPECT_EQ(States(EventsOf(a, QCSDK_EVENT_RECORDING_STATE)), std::vector<intptr_t>{0});
  ASSERT_EQ(QCSDK_RemoteRecording(b, 1), 1);
  ASSERT_TRUE(WaitEvent(b, QCSDK_EVENT_RECORDING_STATE, 2));

  // A state the device pushes concerns all its channels.
  devices.device(d).PushRecordingState(true);
  ASSERT_TRUE(WaitEvent(a, QCSDK_EVENT_RECORDING_STATE, 2));
  ASSERT_TRUE(WaitEvent(b, QCSDK_EVENT_RECORDING_STATE, 3));
  ASSERT_TRUE(Barrier(b, "sync again"));
  EXPECT_EQ(States(EventsOf(a, QCSDK_EVENT_RECORDING_STATE)), (std::vector<intptr_t>{0, 1}));
  EXPECT_EQ(States(EventsOf(b, QCSDK_EVENT_RECORDING_STATE)), (std::vector<intptr_t>{1, 1, 1}));
  EXPECT_EQ(QCSDK_GRPC_End(b), 1);
}

TEST_F(OctSimTest, RpcCallsAreAnsweredByTheDeviceStateStore) {
  const size_t d = Add();
  const int32_t n = ConnectLive(d);
  ASSERT_EQ(QCSDK_GRPC_Begin(n), 1);
  qvbu_dev_set_info_param set{};
  set.hostname = "gate-cam";
  set.rebootHour = 4;
  int32_t placeholder = -1;
  ASSERT_EQ(QCSDK_GRPC_dev_set_info(n, &set, &placeholder), 1);
  qvbu_dev_get_info_result got{};
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(n, nullptr, &got), 1);
  ASSERT_NE(got.hostname, nullptr);
  EXPECT_STREQ(got.hostname, "gate-cam");
  EXPECT_EQ(got.rebootHour, 4);
  // PTZ commands travel as RPC methods the device's head accepts.
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 2, 1), 1);
  EXPECT_EQ(QCSDK_SendPTZCommand(n, 2, 0), 1);
  const auto calls = devices.device(d).rpc().Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "ptz_move_start"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "ptz_move_stop"), 1);
  EXPECT_EQ(QCSDK_GRPC_End(n), 1);

  // A device that refuses text exchanges: the call fails, the link stays.
  const size_t mute = Add("fault=refuse-text");
  const int32_t m = ConnectLive(mute);
  ASSERT_EQ(QCSDK_GRPC_Begin(m), 1);
  qvbu_dev_get_info_result none{};
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(m, nullptr, &none), 0);
  EXPECT_EQ(QCSDK_SendPTZCommand(m, 2, 1), 0);
  EXPECT_TRUE(WaitFrames(m));
  EXPECT_EQ(QCSDK_GRPC_End(m), 1);
}

// Two host threads make RPC calls at once through two channels of one
// session: each gets its own answers.
TEST_F(OctSimTest, ConcurrentRpcCallsOverOneSessionKeepTheirAnswers) {
  const size_t d = Add("channels=2");
  const int32_t a = ConnectLive(d, 1);
  const int32_t b = ConnectLive(d, 2);
  ASSERT_EQ(QCSDK_GRPC_Begin(a), 1);
  ASSERT_EQ(QCSDK_GRPC_Begin(b), 1);
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
  EXPECT_EQ(QCSDK_GRPC_End(a), 1);
  EXPECT_EQ(QCSDK_GRPC_End(b), 1);
}

}  // namespace
}  // namespace qcsdk::test
