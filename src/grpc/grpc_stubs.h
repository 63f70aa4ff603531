// The generic bodies of the generated stubs: every CLIENT_*, SERVER_*,
// USERDEF_* and QCSDK_GRPC_* function hands its method descriptor here.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"

// The public header's opaque name for a GrpcContext.
struct qvbu_context;

namespace qcsdk::grpc {

inline GrpcContext* FromQvbu(qvbu_context* context) {
  return reinterpret_cast<GrpcContext*>(context);
}
inline qvbu_context* ToQvbu(GrpcContext* context) {
  return reinterpret_cast<qvbu_context*>(context);
}

// One entry of the server method table: name, default handler, a zero word.
struct ServerMethod {
  const char* name;
  int32_t (*handler)(qvbu_context* context);
  int32_t reserved;
};
// kMethodCount entries in catalogue order, then an entry of zeros.
extern const ServerMethod kServerMethods[];

namespace stubs {

// CLIENT_REQ_*: a new request tree with "method" (and "param"), sent.
// 0, or -1 when sending failed or a method with request members got no
// param structure.
int32_t Request(qvbu_context* context, const MethodDesc& method, const void* param);
// CLIENT_RESP_*: zeroes the result (or the placeholder), then the device's
// error code, or 0 with the result members read.
int32_t Response(qvbu_context* context, const MethodDesc& method, void* result);
// CLIENT_*: request, receive, result; the first non-zero code.
int32_t Call(qvbu_context* context, const MethodDesc& method, const void* param, void* result);
// SERVER_PARSE_REQ_*: reads root's "param" into param (not cleared first).
void ParseRequest(qvbu_context* context, const MethodDesc& method, const cJSON* root, void* param);
// SERVER_GENERATE_RESP_*: adds "result" with the result's members to root.
void GenerateResponse(qvbu_context* context, const MethodDesc& method, cJSON* root,
                      const void* result);
// USERDEF_*: parses the request, prints the not-finished line and answers
// -32001 "Method not implemented".
int32_t DefaultHandler(qvbu_context* context, const MethodDesc& method);
// QCSDK_GRPC_*: the whole call on a channel's context under its call lock;
// 1 only when every step gave 0.
int32_t Export(int32_t channel, const MethodDesc& method, const void* param, void* result);

}  // namespace stubs
}  // namespace qcsdk::grpc
