// The Nxl text exchange: opening it, RPC answers within their budget, the handshakes' 5 s limits.

#include <qcsdk/qcsdk_grpc.h>

#include "nxl_fixture.h"
#include "support/log_capture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using NxlTextTest = NxlFixture;
using Clock = std::chrono::steady_clock;

TEST_F(NxlTextTest, OpeningNeedsRpcSupportAndAnswersAreTakenOnceWithinTheBudget) {
  const int32_t n = ConnectLive();
  auto ch = std::dynamic_pointer_cast<NxlChannel>(FindChannel(n));
  char buffer[64];
  int32_t elapsed = 0;
  const auto recv = [&](int32_t size, int32_t spent) {
    elapsed = spent;
    return ch->RecvGrpcResponse(nullptr, buffer, size, &elapsed);
  };
  fake.ClearCalls();
  EXPECT_EQ(QCSDK_GRPC_Begin(n), 0);  // no RPC-support byte: nothing sent
  EXPECT_TRUE(Sent().empty());
  WholeRecord(n, 2, 1);
  EXPECT_EQ(recv(64, 0), -1);  // nothing awaited
  {
    // Before QCSDK_GRPC_Begin a call fails at once, sends nothing and the log says why.
    LogCapture log;
    int32_t placeholder = 42;
    EXPECT_EQ(QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder), 0);
    EXPECT_EQ(ch->SendGrpcRequest(nullptr, "{}", 2), -1);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(log.Contains("RPC call without QCSDK_GRPC_Begin fails")) << log.Lines().size();
  }
  // Text is ignored while the exchange is closed.
  Text(n, 81, "grpc:{\"early\":1}");
  EXPECT_EQ(recv(64, 0), -1);

  ASSERT_EQ(AnsweredCall(n, 82, [&] { return QCSDK_GRPC_Begin(n); }), 1);
  EXPECT_THAT(Sent(), ElementsAre("80"));
  fake.ClearCalls();
  EXPECT_EQ(ch->SendGrpcRequest(nullptr, "{\"method\":\"x\"}", 14), 14);
  EXPECT_THAT(Sent(), ElementsAre("81:grpc:{\"method\":\"x\"}"));
  // The bare prefix and another prefix are no answers: still awaited.
  for (const char* text : {"grpc:", "grpx:{}"}) Text(n, 81, text);
  Text(n, 80, "grpc:{}");
  EXPECT_EQ(recv(64, 4990), -2);
  Text(n, 81, "grpc:x");
  EXPECT_EQ(recv(64, 4990), 1);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_GE(elapsed, 4990);

  // A buffer as long as the answer takes it whole, a shorter one cuts it; either way once only.
  const std::string answer = "0123456789abcdefghijklmno";
  for (const int32_t size : {25, 24}) {
    ch->SendGrpcRequest(nullptr, "{}", 2);
    Text(n, 81, "grpc:" + answer);
    EXPECT_EQ(recv(size, 0), size);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(size)), answer.substr(0, size));
    EXPECT_EQ(recv(64, 0), -1);
  }
  // A budget spent to the last millisecond ends the wait, answer or not; a little less takes it.
  ch->SendGrpcRequest(nullptr, "{}", 2);
  Text(n, 81, "grpc:{}");
  EXPECT_EQ(recv(64, 5000), -2);
  EXPECT_EQ(recv(64, 6000), -2);
  EXPECT_EQ(recv(64, 4990), 2);

  // An answer arriving while the caller waits wakes it.
  ch->SendGrpcRequest(nullptr, "{}", 2);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Text(n, 81, "grpc:{\"ok\":true}");
  });
  EXPECT_EQ(recv(64, 0), 11);
  late.join();
  EXPECT_LT(elapsed, 5000);
  // A device that refuses to open the exchange.
  const int32_t m = ConnectLive();
  WholeRecord(m, 2, 1);
  EXPECT_EQ(AnsweredCall(m, 83, [&] { return QCSDK_GRPC_Begin(m); }), 0);
}

TEST_F(NxlTextTest, HandshakesWaitFiveSecondsForTheDevice) {
  // Five channels: RPC openings and configuration handshakes answered late, never, or every 3 s.
  int32_t n[5];
  for (int i = 0; i < 5; ++i) {
    n[i] = ConnectLive();
    WholeRecord(n[i], i < 2 ? 2 : 3, i < 2 ? 1 : 0);
  }
  fake.ClearCalls();
  const auto sentBy = [&](int32_t ch, int32_t type) {
    int count = 0;
    for (const auto& m : fake.NxlSent()) count += m.link == ch + 1 && m.type == type ? 1 : 0;
    return count;
  };
  const auto start = Clock::now();
  std::thread device([&] {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(3000));
    Text(n[4], 82, "");  // each message restarts its wait: 82, 81 of kind 6, then kind 5
    std::this_thread::sleep_until(start + std::chrono::milliseconds(4500));
    for (const int i : {1, 3}) Text(n[i], 82, "");
    for (const uint8_t type : {80, 81, 83}) Text(n[2], type, "grpc:{}");  // none awaited
    // (A handshake that gave up early sends no reply: stop waiting then.)
    const auto limit = start + std::chrono::milliseconds(5000 + ScaledMs(2000));
    while (sentBy(n[3], 81) == 0 && Clock::now() < limit) std::this_thread::yield();
    // The dialog message without a library: kind 5, L = 4.
    Text(n[3], 81, std::string("\x05\0\0\0\x04\0\0\0", 8));
    std::this_thread::sleep_until(start + std::chrono::milliseconds(6000));
    Text(n[4], 81, std::string("\x06\0\0\0\x04\0\0\0", 8));
    std::this_thread::sleep_until(start + std::chrono::milliseconds(9000));
    Text(n[4], 81, std::string("\x05\0\0\0\x04\0\0\0", 8));
  });
  int32_t result[5];
  Clock::duration took[5];
  std::vector<std::thread> hosts;
  for (int i = 0; i < 5; ++i) {
    hosts.emplace_back([&, i] {
      const auto begin = Clock::now();
      result[i] = i < 2 ? QCSDK_GRPC_Begin(n[i]) : QCSDK_RemoteConfig(n[i], 0);
      took[i] = Clock::now() - begin;
    });
  }
  for (auto& t : hosts) t.join();
  device.join();
  EXPECT_THAT(result, ElementsAre(0, 1, 0, 1, 1));
  for (const int silent : {0, 2}) {
    EXPECT_GE(took[silent], std::chrono::milliseconds(4990)) << silent;  // a millisecond tick
    EXPECT_LT(took[silent], std::chrono::milliseconds(5000 + ScaledMs(1000))) << silent;
    EXPECT_EQ(sentBy(n[silent], 80), 1);
  }
}

}  // namespace
}  // namespace qcsdk::test
