// Every method of the catalogue, with random request and result
// structures: client request stub -> server parser -> server writer ->
// client result stub, and the structures must come back as sent.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <random>
#include <string>

#include "grpc/grpc_envelope.h"
#include "grpc/grpc_marshal.h"
#include "grpc/qvbu_stub_table.h"
#include "rpc_test_support.h"

namespace qcsdk::test {
namespace {

constexpr int kRounds = 8;

// The device side of one exchange: parses the request with the method's
// server stub, answers with the given result through its writer.
struct Device {
  ScriptedTransport server;
  const grpc::StubEntry* entry = nullptr;
  const grpc::MethodDesc* method = nullptr;
  void* received = nullptr;      // the parsed request
  const void* answer = nullptr;  // the result to send back
  std::string methodSeen;

  void Serve(ScriptedTransport& client, const std::string& text) {
    JsonPtr request(cJSON_Parse(text.c_str()));
    ASSERT_NE(nullptr, request) << text;
    const cJSON* name = cJSON_GetObjectItem(request.get(), "method");
    methodSeen = cJSON_IsString(name) ? name->valuestring : "";
    entry->parse_request(server.Qvbu(), request.get(), received);
    JsonPtr response(cJSON_CreateObject());
    cJSON_AddNumberToObject(response.get(), "sentcnt",
                            cJSON_GetObjectItem(request.get(), "sentcnt")->valuedouble);
    entry->generate_response(server.Qvbu(), response.get(), const_cast<void*>(answer));
    client.responses.push_back(PrintJson(response.get()));
  }
};

TEST(GrpcRoundTrip, EveryMethodCarriesItsStructuresBothWays) {
  ASSERT_EQ(242u, grpc::kStubTableSize);
  for (std::size_t m = 0; m < grpc::kStubTableSize; ++m) {
    const grpc::StubEntry& entry = grpc::kStubTable[m];
    const grpc::MethodDesc& method = grpc::kMethods[m];
    SCOPED_TRACE(method.name);
    for (int round = 0; round < kRounds; ++round) {
      uint32_t seed = static_cast<uint32_t>(m * 1000 + static_cast<std::size_t>(round));
      SCOPED_TRACE("seed " + std::to_string(seed));
      RandomBuilder random(seed);
      ScriptedTransport client;
      Device device;
      device.entry = &entry;
      device.method = &method;
      client.onSend = [&](const std::string& text) { device.Serve(client, text); };

      void* param = nullptr;
      if (method.param != nullptr) {
        param = random.Block(method.param->size);
        random.Fill(*method.param, param);
        device.received = random.Block(method.param->size);
      }
      void* answer = nullptr;
      void* result = nullptr;
      if (method.result != nullptr) {
        answer = random.Block(method.result->size);
        random.Fill(*method.result, answer);
        result = random.Block(method.result->size);
      } else {
        answer = random.Block(sizeof(int32_t));
        result = random.Block(sizeof(int32_t));
        *static_cast<int32_t*>(result) = 5;
      }
      device.answer = answer;

      // Odd rounds go through the stubs one by one, even ones through the
      // whole-call stub.
      if (round % 2 == 1) {
        ASSERT_EQ(0, entry.request(client.Qvbu(), param));
        ASSERT_EQ(0, grpc_recv_response(client.Context()));
        ASSERT_EQ(0, entry.response(client.Qvbu(), result));
      } else {
        ASSERT_EQ(0, entry.call(client.Qvbu(), param, result));
      }
      EXPECT_EQ(method.name, device.methodSeen);
      if (method.param != nullptr) {
        ExpectRoundTrip(*method.param, param, device.received, "param");
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

TEST(GrpcRoundTrip, EveryMethodReadsDefaultsFromAnEmptyResult) {
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

// A JSON value of a random type; under a descriptor it sometimes follows the
// member names, so that readers meet right and wrong types at every depth.
cJSON* RandomValue(std::mt19937& rng, const grpc::ObjectDesc* desc, int depth) {
  switch (rng() % (depth > 3 ? 5 : 8)) {
    case 0:
      return cJSON_CreateNumber(static_cast<double>(static_cast<int32_t>(rng())) * 1.5);
    case 1:
      return cJSON_CreateString("s");
    case 2:
      return cJSON_CreateBool(rng() % 2);
    case 3:
      return cJSON_CreateNull();
    case 4:
      return cJSON_CreateNumber(1e300);
    case 5: {
      cJSON* array = cJSON_CreateArray();
      for (uint32_t i = rng() % 5; i > 0; --i) {
        cJSON_AddItemToArray(array, RandomValue(rng, desc, depth + 1));
      }
      return array;
    }
    default: {
      cJSON* object = cJSON_CreateObject();
      if (desc == nullptr) return object;
      for (uint32_t i = 0; i < desc->field_count; ++i) {
        if (rng() % 4 == 0) continue;
        cJSON_AddItemToObject(object, desc->fields[i].name,
                              RandomValue(rng, desc->fields[i].nested, depth + 1));
      }
      return object;
    }
  }
}

// Counts are never negative and a positive count always has its elements.
void ExpectConsistent(const grpc::ObjectDesc& desc, const void* base, const std::string& path) {
  for (uint32_t i = 0; i < desc.field_count; ++i) {
    grpc::FieldRef ref(desc.fields[i], const_cast<void*>(base));
    std::string where = path + "." + desc.fields[i].name;
    switch (desc.fields[i].kind) {
      case grpc::FieldKind::kBool:
        EXPECT_TRUE(ref.Int() == 0 || ref.Int() == 1) << where;
        break;
      case grpc::FieldKind::kString:
        if (ref.String() != nullptr) {
          EXPECT_STREQ("s", ref.String()) << where;
        }
        break;
      case grpc::FieldKind::kObject:
        ExpectConsistent(*desc.fields[i].nested, ref.Object(), where);
        break;
      case grpc::FieldKind::kNumberArray:
      case grpc::FieldKind::kStringArray:
      case grpc::FieldKind::kObjectArray:
        ASSERT_GE(ref.Count(), 0) << where;
        ASSERT_EQ(ref.Count() == 0, ref.Elements() == nullptr) << where;
        if (desc.fields[i].kind == grpc::FieldKind::kObjectArray) {
          for (int32_t e = 0; e < ref.Count(); ++e) {
            ExpectConsistent(*desc.fields[i].nested, ref.Element(e), where);
          }
        }
        break;
      default:
        break;
    }
  }
}

TEST(GrpcRoundTrip, EveryMethodSurvivesWronglyTypedResults) {
  std::mt19937 rng(2024);
  for (std::size_t m = 0; m < grpc::kStubTableSize; ++m) {
    const grpc::MethodDesc& method = grpc::kMethods[m];
    if (method.result == nullptr) continue;
    SCOPED_TRACE(method.name);
    ScriptedTransport client;
    for (int round = 0; round < 20; ++round) {
      JsonPtr response(cJSON_CreateObject());
      cJSON_AddNumberToObject(response.get(), "sentcnt", ++client.Context()->sentcnt);
      cJSON_AddItemToObject(response.get(), "result", RandomValue(rng, method.result, 0));
      client.responses.push_back(PrintJson(response.get()));
      ASSERT_EQ(0, grpc_recv_response(client.Context()));
      RandomBuilder random(static_cast<uint32_t>(round));
      void* result = random.Block(method.result->size);
      ASSERT_EQ(0, grpc::kStubTable[m].response(client.Qvbu(), result));
      ExpectConsistent(*method.result, result, "result");
    }
  }
}

}  // namespace
}  // namespace qcsdk::test
