#include "grpc/grpc_stubs.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "grpc/grpc_envelope.h"
#include "grpc/grpc_marshal.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/facade/export_frame.h"

namespace qcsdk::grpc {

int32_t FindMethod(const char* name) {
  if (name == nullptr) return -1;
  for (std::size_t i = 0; i < kMethodCount; ++i) {
    if (std::strcmp(kMethods[i].name, name) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

namespace stubs {
namespace {

// Source path the default handlers name in their line.
constexpr const char* kUserdefPath = "..\\..\\..\\src\\grpc\\qvbu_s_userdef";

int32_t CallUnlocked(GrpcContext* context, const MethodDesc& method, const void* param,
                     void* result) {
  qvbu_context* c = ToQvbu(context);
  int32_t code = Request(c, method, param);
  if (code == 0) code = grpc_recv_response(context);
  if (code == 0) code = Response(c, method, result);
  return code;
}

}  // namespace

int32_t Request(qvbu_context* c, const MethodDesc& method, const void* param) {
  GrpcContext* context = FromQvbu(c);
  if (context == nullptr) return -1;
  cJSON_Delete(context->json);
  context->json = cJSON_CreateObject();
  if (context->json != nullptr) {
    cJSON_AddStringToObject(context->json, "method", method.name);
    if (method.param != nullptr) {
      if (param == nullptr) return -1;
      cJSON* object = cJSON_AddObjectToObject(context->json, "param");
      WriteMembers(object, *method.param, param);
    }
  }
  return grpc_send_request(context) < 0 ? -1 : 0;
}

int32_t Response(qvbu_context* c, const MethodDesc& method, void* result) {
  GrpcContext* context = FromQvbu(c);
  if (context == nullptr) return -1;
  if (method.result == nullptr) {
    if (result != nullptr) *static_cast<int32_t*>(result) = 0;
    return context->errorcode;
  }
  if (result != nullptr) std::memset(result, 0, method.result->size);
  if (context->errorcode != 0) return context->errorcode;
  // Only a missing "result" leaves the result all zeros.
  const cJSON* object = cJSON_GetObjectItem(context->json, "result");
  if (result == nullptr || object == nullptr) return 0;
  ReadMembers(context, object, *method.result, result);
  return 0;
}

int32_t Call(qvbu_context* c, const MethodDesc& method, const void* param, void* result) {
  GrpcContext* context = FromQvbu(c);
  GrpcCallLock lock(context);
  return CallUnlocked(context, method, param, result);
}

void ParseRequest(qvbu_context* c, const MethodDesc& method, const cJSON* root, void* param) {
  if (method.param == nullptr || root == nullptr || param == nullptr) return;
  const cJSON* object = cJSON_GetObjectItem(root, "param");
  if (!cJSON_IsObject(object)) return;
  ReadMembers(FromQvbu(c), object, *method.param, param);
}

void GenerateResponse(qvbu_context*, const MethodDesc& method, cJSON* root, const void* result) {
  if (method.result == nullptr || root == nullptr) return;
  cJSON* object = cJSON_AddObjectToObject(root, "result");
  if (result != nullptr) WriteMembers(object, *method.result, result);
}

int32_t DefaultHandler(qvbu_context* c, const MethodDesc& method) {
  GrpcContext* context = FromQvbu(c);
  if (method.param != nullptr && context != nullptr) {
    std::vector<uint64_t> param((method.param->size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    ParseRequest(c, method, context->json, param.data());
  }
  char name[160];
  std::snprintf(name, sizeof name, "USERDEF_qvbu_%s", method.name);
  std::printf("NOT_FINISHED %s:%s =>%4d: called\n", kUserdefPath, name, method.userdef_line);
  std::fflush(stdout);
  if (context != nullptr) {
    context->errorcode = kGrpcNotImplemented;
    std::snprintf(context->errmsg, sizeof context->errmsg, "%s", "Method not implemented");
  }
  return kGrpcNotImplemented;
}

int32_t Export(int32_t channel, const MethodDesc& method, const void* param, void* result) {
  return WithChannel(channel, 0, [&](Channel& ch) -> int32_t {
    GrpcContext* context = ch.Grpc();
    if (context == nullptr) return 0;
    GrpcCallLock lock(context);
    return CallUnlocked(context, method, param, result) == 0 ? 1 : 0;
  });
}

}  // namespace stubs
}  // namespace qcsdk::grpc
