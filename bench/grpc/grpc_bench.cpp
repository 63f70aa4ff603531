// Cost of the descriptor-driven marshaller and of a whole client call
// (request, envelope, parse, result) against an in-process responder.
#include <benchmark/benchmark.h>
#include <cjson/cJSON.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstring>
#include <string>
#include <vector>

#include "grpc/grpc_context.h"
#include "grpc/grpc_envelope.h"
#include "grpc/grpc_stubs.h"

namespace {

using qcsdk::GrpcContext;

// A result of alarmin_get_all_param with n alarm inputs, each with two
// alarm outputs and a weekly schedule of seven windows.
struct AlarmTable {
  explicit AlarmTable(int n) : all(static_cast<std::size_t>(n)) {
    outs = {{1, "relay", 1}, {2, "buzzer", 0}};
    for (int d = 0; d < 7; ++d) windows.push_back({"mon", d, 0, d + 1, 30});
    for (auto& a : all) {
      std::memset(&a, 0, sizeof a);
      a.almgroup_id = 1;
      a.channelid = 2;
      a.bEnable = 1;
      a.alarmout_count = 2;
      a.alarmout = outs.data();
      a.task.maxTime = 10;
      a.task.time_count = 7;
      a.task.time = windows.data();
    }
    result.all_count = n;
    result.all = all.data();
  }
  std::vector<qvbu_shape_alarmout> outs;
  std::vector<qvbu_shape_time_window> windows;
  std::vector<qvbu_shape_alarmin_all> all;
  qvbu_alarmin_get_all_param_result result{};
};

// Answers every request with a prepared response carrying its "sentcnt".
struct Responder {
  std::string body;  // the members after "sentcnt"
  std::string pending;
  static int32_t Send(GrpcContext* c, const char*, int32_t length) {
    auto* self = static_cast<Responder*>(c->owner);
    self->pending = "{\"sentcnt\":" + std::to_string(c->sentcnt) + "," + self->body + "}";
    return length;
  }
  static int32_t Recv(GrpcContext* c, char* buffer, int32_t capacity, int32_t*) {
    auto* self = static_cast<Responder*>(c->owner);
    if (self->pending.empty() || self->pending.size() > static_cast<std::size_t>(capacity)) {
      return -1;
    }
    std::memcpy(buffer, self->pending.data(), self->pending.size());
    int32_t n = static_cast<int32_t>(self->pending.size());
    self->pending.clear();
    return n;
  }
};

std::string ResultBody(const AlarmTable& table) {
  GrpcContext* server = qcsdk::grpc_context_create(nullptr, nullptr, nullptr);
  cJSON* root = cJSON_CreateObject();
  SERVER_GENERATE_RESP_qvbu_alarmin_get_all_param(
      qcsdk::grpc::ToQvbu(server), root,
      const_cast<qvbu_alarmin_get_all_param_result*>(&table.result));
  char* text = cJSON_PrintUnformatted(root);
  std::string body = std::string(text + 1, std::strlen(text) - 2);  // without the braces
  cJSON_free(text);
  cJSON_Delete(root);
  qcsdk::grpc_context_destroy(server);
  return body;
}

void BM_WriteResult(benchmark::State& state) {
  AlarmTable table(static_cast<int>(state.range(0)));
  GrpcContext* server = qcsdk::grpc_context_create(nullptr, nullptr, nullptr);
  for (auto _ : state) {
    cJSON* root = cJSON_CreateObject();
    SERVER_GENERATE_RESP_qvbu_alarmin_get_all_param(qcsdk::grpc::ToQvbu(server), root,
                                                    &table.result);
    char* text = cJSON_PrintUnformatted(root);
    benchmark::DoNotOptimize(text);
    cJSON_free(text);
    cJSON_Delete(root);
  }
  qcsdk::grpc_context_destroy(server);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteResult)->Arg(1)->Arg(16)->Arg(128);

void BM_WholeCall(benchmark::State& state) {
  AlarmTable table(static_cast<int>(state.range(0)));
  Responder responder;
  responder.body = ResultBody(table);
  // A fresh context per batch keeps the arena from growing without bound.
  constexpr int kBatch = 256;
  int inBatch = kBatch;
  GrpcContext* client = nullptr;
  qvbu_alarmin_get_all_param_param param = {1};
  qvbu_alarmin_get_all_param_result result;
  for (auto _ : state) {
    if (inBatch == kBatch) {
      state.PauseTiming();
      qcsdk::grpc_context_destroy(client);
      client = qcsdk::grpc_context_create(&responder, &Responder::Send, &Responder::Recv);
      qcsdk::grpc_set_credentials(client, "admin", "password");
      inBatch = 0;
      state.ResumeTiming();
    }
    ++inBatch;
    if (CLIENT_qvbu_alarmin_get_all_param(qcsdk::grpc::ToQvbu(client), &param, &result) != 0) {
      state.SkipWithError("call failed");
      break;
    }
    benchmark::DoNotOptimize(result.all);
  }
  qcsdk::grpc_context_destroy(client);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(responder.body.size()));
}
BENCHMARK(BM_WholeCall)->Arg(0)->Arg(16)->Arg(128);

}  // namespace

BENCHMARK_MAIN();
