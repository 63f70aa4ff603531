// The QCSDK_GRPC_<method> exports on an OCT channel whose device side (the
// scripted library's exchange) runs the generated server stubs.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"
#include "grpc/qvbu_stub_table.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/facade/registry.h"
#include "rpc_test_support.h"
#include "support/fake_libraries.h"

namespace qcsdk::test {
namespace {

class GrpcExports : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    n = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", 6000, 1, 0, "operator", "secret", 0,
                       nullptr);
    ASSERT_GE(n, 0);
    fake.SetOctConfigHandler([this](const std::string& text) {
      const int now = ++inFlight;
      for (int seen = maxInFlight; now > seen && !maxInFlight.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::yield();
      std::lock_guard<std::mutex> guard(mutex);
      requests.push_back(text);
      --inFlight;
      return Serve(server, text, nullptr, answer, error);
    });
  }
  void TearDown() override { QCSDK_ReleaseSDK(); }

  FakeLibraries fake;
  int32_t n = -1;
  std::mutex mutex;
  ScriptedTransport server;      // the server stubs' arena
  std::string error;             // "error" member to add, if not empty
  const void* answer = nullptr;  // result structure of the answers
  std::vector<std::string> requests;
  std::atomic<int> inFlight{0}, maxInFlight{0};
};

TEST_F(GrpcExports, FailWithoutAChannel) {
  qvbu_dev_get_info_result r;
  for (int32_t channel : {-1, 511, 512}) {
    EXPECT_EQ(0, QCSDK_GRPC_dev_get_info(channel, nullptr, &r)) << channel;
    EXPECT_EQ(0, QCSDK_GRPC_Begin(channel)) << channel;
    EXPECT_EQ(0, QCSDK_GRPC_End(channel)) << channel;
  }
  EXPECT_TRUE(requests.empty());
}

TEST_F(GrpcExports, SucceedWithTheDevicesResultAndCredentials) {
  qvbu_dev_get_info_result sent = {1, "host", "cam", "mon", 3, "en"};
  answer = &sent;
  qvbu_dev_get_info_result r;
  ASSERT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &r));
  EXPECT_EQ(1, r.bDiscoverable);
  EXPECT_STREQ("host", r.hostname);
  EXPECT_STREQ("en", r.syslanguage);
  EXPECT_EQ(3, r.rebootHour);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(0u, requests[0].find("{\"method\":\"dev_get_info\",\"sentcnt\":1,\"user\":{\"name\":"
                                 "\"operator\",\"digest\":\""));
  EXPECT_EQ(std::string::npos, requests[0].find("secret"));
  // Strings handed out stay valid across later calls on the channel.
  const char* host = r.hostname;
  qvbu_dev_get_info_result again;
  ASSERT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &again));
  EXPECT_STREQ("host", host);
}

TEST_F(GrpcExports, DeviceErrorsFailTheCallAndPlaceholdersAreCleared) {
  qvbu_iplist_limit_type_get_result sent = {2};
  answer = &sent;
  const struct {
    const char* error;
    int32_t ok, limittype, code;
    const char* message;
  } rows[] = {{R"({"errorcode":17,"message":"denied"})", 0, 0, 17, "denied"},
              {R"({"errcode":-5})", 0, 0, -5, ""},
              {R"({"errorcode":0})", 1, 2, 0, ""},
              {"", 1, 2, 0, ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error);
    error = row.error;
    qvbu_iplist_limit_type_get_result r = {9};
    EXPECT_EQ(row.ok, QCSDK_GRPC_iplist_limit_type_get(n, nullptr, &r));
    EXPECT_EQ(row.limittype, r.limittype);  // a result that came with an error is not read
    EXPECT_EQ(row.code, FindChannel(n)->Grpc()->errorcode);
    EXPECT_STREQ(row.message, FindChannel(n)->Grpc()->errmsg);
    int32_t placeholder = 42;
    EXPECT_EQ(row.ok, QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder));
    EXPECT_EQ(0, placeholder);
  }
  // A method with request members and no request structure fails unsent;
  // so does a call whose exchange fails.
  int32_t placeholder = 42;
  const std::size_t sent_before = requests.size();
  EXPECT_EQ(0, QCSDK_GRPC_account_add_user(n, nullptr, &placeholder));
  EXPECT_EQ(sent_before, requests.size());
  fake.SetResult("octc_cmd_remote_config", -1);
  EXPECT_EQ(0, QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder));
}

TEST_F(GrpcExports, CallsOnOneChannelAreSerialised) {
  qvbu_iplist_limit_type_get_result sent = {6};
  answer = &sent;
  constexpr int kThreads = 4, kCalls = 50;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (int c = 0; c < kCalls; ++c) {
        qvbu_iplist_limit_type_get_result r;
        if (QCSDK_GRPC_iplist_limit_type_get(n, nullptr, &r) == 1 && r.limittype == 6) ++ok;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(kThreads * kCalls, ok.load());
  EXPECT_EQ(1, maxInFlight.load());
  EXPECT_EQ(static_cast<uint32_t>(kThreads * kCalls), FindChannel(n)->Grpc()->sentcnt);
}

}  // namespace
}  // namespace qcsdk::test
