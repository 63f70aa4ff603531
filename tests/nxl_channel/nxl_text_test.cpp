// The RPC text exchange over Nxl: opening it, sending requests and taking
// answers within the time budget.
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "nxl_fixture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using NxlTextTest = NxlFixture;

// While set, an allocation of exactly this many bytes fails.
constexpr std::size_t kFailingSize = 77777;
std::atomic<std::size_t> g_failingSize{0};

void Text(const FakeLibraries::NxlCallbacks& cb, int32_t n, uint8_t type, const std::string& text) {
  cb.text(n + 1, type, reinterpret_cast<const uint8_t*>(text.data()),
          static_cast<int32_t>(text.size()));
}

TEST_F(NxlTextTest, BeginNeedsTheDevicesRpcSupportAndAcceptance) {
  const int32_t n = ConnectLive();
  EXPECT_EQ(QCSDK_GRPC_Begin(n), 0);  // no RPC support byte
  WholeRecord(n, 2, 1);
  fake.ClearCalls();
  std::thread device([&] {
    while (Sent().empty()) std::this_thread::yield();
    Text(cb(), n, 82, "");  // accepted
  });
  EXPECT_EQ(QCSDK_GRPC_Begin(n), 1);
  device.join();
  EXPECT_THAT(Sent(), ElementsAre("80"));
  EXPECT_EQ(QCSDK_GRPC_End(n), 1);
  EXPECT_EQ(Sent().back(), "83");

  // Another channel whose device refuses.
  const int32_t m = ConnectLive();
  WholeRecord(m, 2, 1);
  fake.ClearCalls();
  std::thread refuse([&] {
    while (Sent().empty()) std::this_thread::yield();
    Text(cb(), m, 83, "");
  });
  EXPECT_EQ(QCSDK_GRPC_Begin(m), 0);
  refuse.join();
}

TEST_F(NxlTextTest, RequestsAndAnswers) {
  const int32_t n = ConnectLive();
  WholeRecord(n, 2, 1);
  auto ch = Nxl(n);
  // Nothing awaited: -1 at once.
  char buffer[64];
  int32_t elapsed = 0;
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 64, &elapsed), -1);
  // Text messages are ignored while the exchange is closed.
  Fire([&] { Text(cb(), n, 81, "grpc:{\"early\":1}"); });
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 64, &elapsed), -1);

  std::thread device([&] {
    while (Sent().empty()) std::this_thread::yield();
    Text(cb(), n, 82, "");
  });
  ASSERT_EQ(QCSDK_GRPC_Begin(n), 1);
  device.join();
  fake.ClearCalls();
  EXPECT_EQ(ch->SendGrpcRequest(nullptr, "{\"method\":\"x\"}", 14), 14);
  EXPECT_THAT(Sent(), ElementsAre("81:grpc:{\"method\":\"x\"}"));
  Fire([&] {
    Text(cb(), n, 81, "grpc:");  // exactly the prefix: not an answer
    Text(cb(), n, 81, "grpc:0123456789abcdefghijklmno");
  });
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 10, &elapsed), 10);  // cut to the buffer
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 10, &elapsed), -1);  // delivered once

  // An answer arriving while the caller waits wakes it.
  ch->SendGrpcRequest(nullptr, "{}", 2);
  std::thread late([&] {
    os::Sleep(30);
    Text(cb(), n, 81, "grpc:{\"ok\":true}");
  });
  elapsed = 0;
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 64, &elapsed), 11);
  late.join();
  EXPECT_GE(elapsed, 0);
  EXPECT_LT(elapsed, 5000);

  // An answer that cannot be buffered is dropped; the library's thread
  // lives on. A request whose budget is spent times out at once.
  ch->SendGrpcRequest(nullptr, "{}", 2);
  const std::string huge = "grpc:" + std::string(kFailingSize, 'x');
  g_failingSize = kFailingSize;
  Fire([&] { Text(cb(), n, 81, huge); });
  g_failingSize = 0;
  elapsed = 5000;
  const uint64_t start = os::TickCount64();
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 64, &elapsed), -2);
  EXPECT_LT(os::TickCount64() - start, 1000u);
  // A partly spent budget waits only for the rest.
  elapsed = 4900;
  EXPECT_EQ(ch->RecvGrpcResponse(nullptr, buffer, 64, &elapsed), -2);
  EXPECT_GE(os::TickCount64() - start, 100u);
}

TEST_F(NxlTextTest, SilentDeviceTimesOut) {
  const int32_t n = ConnectLive();
  WholeRecord(n, 2, 1);
  const uint64_t start = os::TickCount64();
  EXPECT_EQ(QCSDK_GRPC_Begin(n), 0);
  EXPECT_GE(os::TickCount64() - start, 5000u);
}

}  // namespace
}  // namespace qcsdk::test

// This test program's allocation functions: malloc and free, failing the
// size above while it is set.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (size == qcsdk::test::g_failingSize.load()) throw std::bad_alloc();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop
