// The envelope around every RPC call: "sentcnt", the "user" digest, sending
// the request and receiving, matching and checking the response.
#pragma once

#include <cstdint>

#include "grpc/grpc_context.h"

namespace qcsdk {

constexpr int32_t kGrpcParseError = -32700;
constexpr int32_t kGrpcNotImplemented = -32001;

// Stamps "sentcnt" (after incrementing the counter) and, with a user name,
// the "user" block onto the request tree, prints it and hands it to the
// send function. The send function's count, or -1 without a request tree.
int32_t grpc_send_request(GrpcContext* context);

// Receives until a response carrying the request's "sentcnt" arrives and
// takes its "error" out into errorcode/errmsg. 0 on a matching response,
// the receive function's result (< 1) when it fails, -1 without a receive
// function, kGrpcParseError when the text is not JSON.
int32_t grpc_recv_response(GrpcContext* context);

// 32 lowercase hexadecimal digits of MD5(user + method + password); the
// method is left out when null.
void grpc_user_digest(const char* user, const char* method, const char* password, char (&hex)[33]);

}  // namespace qcsdk
