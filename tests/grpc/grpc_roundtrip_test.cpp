// Every method of the catalogue, with random request and result
// structures, through its client stubs (one by one and as a whole call)
// and through its export on an OCT channel: the device side parses the
// request with the method's server stub and answers through its writer,
// and both structures must arrive as sent.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <string>

#include "grpc/grpc_envelope.h"
#include "grpc/qvbu_stub_table.h"
#include "rpc_test_support.h"
#include "support/fake_libraries.h"

namespace qcsdk::test {
namespace {

constexpr int kRounds = 6;

class GrpcRoundTrip : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    channel =
        QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", 6000, 1, 0, "admin", "pw", 0, nullptr);
    ASSERT_GE(channel, 0);
  }
  void TearDown() override { QCSDK_ReleaseSDK(); }

  FakeLibraries fake;
  int32_t channel = -1;
};

TEST_F(GrpcRoundTrip, EveryMethodCarriesItsStructuresBothWays) {
  ASSERT_EQ(242u, grpc::kStubTableSize);
  for (std::size_t m = 0; m < grpc::kStubTableSize; ++m) {
    const grpc::StubEntry& entry = grpc::kStubTable[m];
    const grpc::MethodDesc& method = grpc::kMethods[m];
    SCOPED_TRACE(method.name);
    for (int round = 0; round < kRounds; ++round) {
      const uint32_t seed = static_cast<uint32_t>(m * 1000 + static_cast<std::size_t>(round));
      SCOPED_TRACE("seed " + std::to_string(seed));
      RandomBuilder random(seed);
      void* param = nullptr;
      void* received = nullptr;
      if (method.param != nullptr) {
        param = random.Block(method.param->size);
        random.Fill(*method.param, param);
        received = random.Block(method.param->size);
      }
      const std::size_t resultSize = method.result ? method.result->size : sizeof(int32_t);
      void* answer = random.Block(resultSize);
      void* result = random.Block(resultSize);
      if (method.result != nullptr) random.Fill(*method.result, answer);
      *static_cast<int32_t*>(result) = 5;

      ScriptedTransport client, server;
      std::string seen;
      auto serve = [&](const std::string& text) {
        seen = text;
        return Serve(server, text, received, method.result ? answer : nullptr);
      };
      client.onSend = [&](const std::string& text) { client.responses.push_back(serve(text)); };
      fake.SetOctConfigHandler(serve);
      if (round % 3 == 0) {
        ASSERT_EQ(0, entry.call(client.Qvbu(), param, result));
      } else if (round % 3 == 1) {
        ASSERT_EQ(0, entry.request(client.Qvbu(), param));
        ASSERT_EQ(0, grpc_recv_response(client.Context()));
        ASSERT_EQ(0, entry.response(client.Qvbu(), result));
      } else {
        ASSERT_EQ(1, entry.export_call(channel, param, result));
      }
      EXPECT_EQ(0u, seen.find(std::string("{\"method\":\"") + method.name + "\"")) << seen;
      if (method.param != nullptr) {
        ExpectRoundTrip(*method.param, param, received, "param");
      }
      if (method.result != nullptr) {
        ExpectRoundTrip(*method.result, answer, result, "result");
      } else {
        EXPECT_EQ(0, *static_cast<int32_t*>(result));
      }
      if (testing::Test::HasFailure()) return;
    }
  }
}

TEST(GrpcResults, EveryMethodReadsDefaultsFromAnEmptyResult) {
  for (std::size_t m = 0; m < grpc::kStubTableSize; ++m) {
    const grpc::MethodDesc& method = grpc::kMethods[m];
    if (method.result == nullptr) continue;
    SCOPED_TRACE(method.name);
    ScriptedTransport client;
    client.Context()->sentcnt = 1;
    client.responses.push_back("{\"sentcnt\":1,\"result\":{}}");
    ASSERT_EQ(0, grpc_recv_response(client.Context()));
    RandomBuilder random(static_cast<uint32_t>(m));
    void* result = random.Block(method.result->size);
    random.Fill(*method.result, result);  // stale values must all go
    ASSERT_EQ(0, grpc::kStubTable[m].response(client.Qvbu(), result));
    ExpectDefaults(*method.result, result, "result");
  }
}

}  // namespace
}  // namespace qcsdk::test
