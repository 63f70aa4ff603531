// Every method with random structures through its client stubs and its export on an OCT channel
// whose scripted exchange runs the server stubs; results on device errors; serialisation.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include "grpc/grpc_envelope.h"
#include "grpc/qvbu_stub_table.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/channel/registry.h"
#include "rpc_test_support.h"
#include "support/fake_libraries.h"
#include "support/table_file.h"

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
      if (++inFlight > 1) overlapped = true;
      std::this_thread::yield();
      std::lock_guard<std::mutex> guard(mutex);
      requests.push_back(text);
      --inFlight;
      return Serve(server, text, received, answer, error);
    });
  }
  void TearDown() override { QCSDK_ReleaseSDK(); }

  FakeLibraries fake;
  int32_t n = -1;
  std::mutex mutex;
  ScriptedTransport server;      // the server stubs' arena
  std::string error;             // "error" member to add, if not empty
  void* received = nullptr;      // where the device parses the request
  const void* answer = nullptr;  // result structure of the answers
  std::vector<std::string> requests;
  std::atomic<int> inFlight{0};
  std::atomic<bool> overlapped{false};  // two exchanges were in flight at once
};

TEST_F(GrpcExports, EveryMethodCarriesItsStructuresBothWays) {
  for (std::size_t m = 0; m < grpc::kStubTableSize; ++m) {
    const grpc::StubEntry& entry = grpc::kStubTable[m];
    const grpc::MethodDesc& method = grpc::kMethods[m];
    for (int round = 0; round < 6; ++round) {
      const uint32_t seed = static_cast<uint32_t>(m * 1000 + static_cast<std::size_t>(round));
      SCOPED_TRACE(std::string(method.name) + " seed " + std::to_string(seed));
      RandomBuilder random(seed);
      void* param = nullptr;
      received = nullptr;
      if (method.param != nullptr) {
        param = random.Block(method.param->size);
        random.Fill(*method.param, param);
        received = random.Block(method.param->size);
      }
      const std::size_t resultSize = method.result ? method.result->size : sizeof(int32_t);
      void* sent = random.Block(resultSize);
      void* result = random.Block(resultSize);
      if (method.result != nullptr) random.Fill(*method.result, sent);
      *static_cast<int32_t*>(result) = 5;
      answer = method.result ? sent : nullptr;
      // By the whole call, by its steps one by one, and by the export.
      ScriptedTransport client;
      client.onSend = [&](const std::string& text) {
        client.responses.push_back(Serve(server, text, received, answer));
        requests.push_back(text);
      };
      if (round % 3 == 0) {
        ASSERT_EQ(0, entry.call(client.Qvbu(), param, result));
      } else if (round % 3 == 1) {
        ASSERT_EQ(0, entry.request(client.Qvbu(), param));
        ASSERT_EQ(0, grpc_recv_response(client.Context()));
        ASSERT_EQ(0, entry.response(client.Qvbu(), result));
      } else {
        ASSERT_EQ(1, entry.export_call(n, param, result));
      }
      EXPECT_EQ(0u, requests.back().find(std::string("{\"method\":\"") + method.name + "\""));
      if (method.param != nullptr) {
        EXPECT_EQ(Dump(*method.param, param, DumpAs::kSent), Dump(*method.param, received));
      }
      if (method.result != nullptr) {
        EXPECT_EQ(Dump(*method.result, sent, DumpAs::kSent), Dump(*method.result, result));
      } else {
        EXPECT_EQ(0, *static_cast<int32_t*>(result));
      }
      if (testing::Test::HasFailure()) return;
    }
    // An empty result gives every member its default, whatever was there.
    if (method.result == nullptr) continue;
    ScriptedTransport client;
    client.Context()->sentcnt = 1;
    client.responses.push_back(R"({"sentcnt":1,"result":{}})");
    ASSERT_EQ(0, grpc_recv_response(client.Context()));
    RandomBuilder random(static_cast<uint32_t>(m));
    void* result = random.Block(method.result->size);
    random.Fill(*method.result, result);
    ASSERT_EQ(0, entry.response(client.Qvbu(), result));
    EXPECT_EQ(Dump(*method.result, result, DumpAs::kDefaults), Dump(*method.result, result))
        << method.name;
  }
}

TEST_F(GrpcExports, DeviceErrorsCredentialsAndChannels) {
  qvbu_iplist_limit_type_get_result sent = {2};
  answer = &sent;
  for (const TableRow& row : Table("grpc/device_errors.md")) {
    SCOPED_TRACE(row.Where());
    error = row.Text("error member");
    qvbu_iplist_limit_type_get_result r = {9};
    EXPECT_EQ(row.Int("result"), QCSDK_GRPC_iplist_limit_type_get(n, nullptr, &r));
    EXPECT_EQ(row.Int("limittype"), r.limittype);  // a result that came with an error is not read
    EXPECT_EQ(row.Int("error code"), FindChannel(n)->Grpc()->errorcode);
    EXPECT_EQ(row.Text("message"), FindChannel(n)->Grpc()->errmsg);
    int32_t placeholder = 42;
    EXPECT_EQ(row.Int("result"), QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder));
    EXPECT_EQ(0, placeholder);
    // By name: the same answer as JSON text, or the device's error.
    const char* text = nullptr;
    const bool ok = row.Int("result") == 1;
    EXPECT_EQ(ok ? 1 : -3, QCSDK_GRPC_Call(n, "iplist_limit_type_get", nullptr, &text));
    EXPECT_STREQ(ok ? R"({"limittype":2})"
                    : (R"({"code":)" + row.Text("error code") + R"(,"message":")" +
                       row.Text("message") + R"("})")
                          .c_str(),
                 text);
  }
  const char* text = "";
  EXPECT_EQ(-1, QCSDK_GRPC_Call(n, "no_such_method", nullptr, &text));
  EXPECT_EQ(-2, QCSDK_GRPC_Call(n, "iplist_clear", "[1]", &text));
  EXPECT_EQ(0, QCSDK_GRPC_Call(512, "iplist_clear", nullptr, &text));
  EXPECT_EQ(nullptr, text);
  // The channel's credentials sign each request; the password stays home.
  EXPECT_EQ(0u, requests[0].find(R"({"method":"iplist_limit_type_get","sentcnt":1,"user":)"
                                 R"({"name":"operator","digest":")"));
  EXPECT_EQ(std::string::npos, requests[0].find("secret"));
  // Unsent: no request structure for a method with members; no such channel. Failed exchanges fail.
  int32_t placeholder = 42;
  const std::size_t before = requests.size();
  EXPECT_EQ(0, QCSDK_GRPC_account_add_user(n, nullptr, &placeholder));
  for (int32_t channel : {-1, 511, 512})
    EXPECT_EQ(0, QCSDK_GRPC_iplist_clear(channel, nullptr, &placeholder)) << channel;
  EXPECT_EQ(before, requests.size());
  fake.SetResult("octc_cmd_remote_config", -1);
  EXPECT_EQ(0, QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder));
}

TEST_F(GrpcExports, CallsOnOneChannelAreSerialisedAndTheirResultsFreedOnRequest) {
  qvbu_dev_get_info_result sent = {1, "host", "cam", "mon", 3, "en"};
  answer = &sent;
  qvbu_dev_get_info_result first;
  ASSERT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &first));
  constexpr int kThreads = 4, kCalls = 50;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (int c = 0; c < kCalls; ++c) {
        qvbu_dev_get_info_result r;
        if (QCSDK_GRPC_dev_get_info(n, nullptr, &r) == 1 && r.rebootHour == 3 &&
            std::string(r.hostname) == "host")
          ++ok;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(kThreads * kCalls, ok.load());
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(static_cast<uint32_t>(kThreads * kCalls + 1), FindChannel(n)->Grpc()->sentcnt);
  EXPECT_STREQ("host", first.hostname);  // strings live as long as the channel
  // ... or until the host frees them, also while calls run on another thread.
  std::thread freeing(QCSDK_GRPC_FreeResults, n);
  for (int c = 0; c < kCalls; ++c) EXPECT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &first));
  freeing.join();
  EXPECT_EQ(1, QCSDK_GRPC_FreeResults(n));
  EXPECT_EQ(nullptr, FindChannel(n)->Grpc()->arena);
  ASSERT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &first));
  EXPECT_STREQ("host", first.hostname);
}

}  // namespace
}  // namespace qcsdk::test
