#include "grpc/grpc_envelope.h"

#include <digest/digest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "log/log.h"
#include "platform/os.h"

namespace qcsdk {
namespace {

struct CJsonTextFree {
  void operator()(char* text) const { cJSON_free(text); }
};

// The diagnostics go straight to standard output, flushed so that they keep
// their order with the host's own output; to the host's log callback instead
// when it has set one.
__attribute__((format(printf, 1, 2))) void Diagnostic(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  const bool feed = !text.empty() && text.back() == '\n';
  if (feed) text.pop_back();
  if (log::ToHost(log::kError, "grpc_envelope", text.c_str())) return;
  std::printf(feed ? "%s\n" : "%s", text.c_str());  // the text as it was given
  std::fflush(stdout);
}

void SetMember(cJSON* root, const char* name, cJSON* item) {
  if (item == nullptr) return;
  if (cJSON_GetObjectItem(root, name) != nullptr) {
    cJSON_ReplaceItemInObject(root, name, item);
  } else {
    cJSON_AddItemToObject(root, name, item);
  }
}

void SetError(GrpcContext* context, const cJSON* error) {
  const cJSON* message = cJSON_GetObjectItem(error, "message");
  if (cJSON_IsString(message) && message->valuestring != nullptr) {
    std::strncpy(context->errmsg, message->valuestring, sizeof context->errmsg - 1);
    context->errmsg[sizeof context->errmsg - 1] = '\0';
  }
  const cJSON* errorcode = cJSON_GetObjectItem(error, "errorcode");
  const cJSON* errcode = cJSON_GetObjectItem(error, "errcode");
  int32_t code = cJSON_IsNumber(errorcode) ? errorcode->valueint : -1;
  if (code == -1 && cJSON_IsNumber(errcode)) code = errcode->valueint;
  context->errorcode = code;
}

}  // namespace

void grpc_user_digest(const char* user, const char* method, const char* password, char (&hex)[33]) {
  const auto text = [](const char* piece) {
    return piece != nullptr ? std::string_view(piece) : std::string_view();
  };
  digest::Md5Digest sum{};
  // A failure leaves the all-zero digest, which no device accepts.
  if (!digest::Md5({text(user), text(method), text(password)}, &sum)) sum.fill(0);
  for (std::size_t i = 0; i < sum.size(); ++i) std::snprintf(hex + 2 * i, 3, "%02x", sum[i]);
  hex[32] = '\0';
}

int32_t grpc_send_request(GrpcContext* context) {
  if (context == nullptr) return -1;
  const cJSON* method = cJSON_GetObjectItem(context->json, "method");
  const char* methodName =
      cJSON_IsString(method) && method->valuestring != nullptr ? method->valuestring : nullptr;
  ++context->sentcnt;
  cJSON* root = context->json;
  if (root == nullptr) return -1;

  SetMember(root, "sentcnt", cJSON_CreateNumber(static_cast<double>(context->sentcnt)));
  if (context->username[0] != '\0') {
    char digest[33];
    grpc_user_digest(context->username, methodName, context->password, digest);
    cJSON* user = cJSON_CreateObject();
    if (user != nullptr) {
      cJSON_AddStringToObject(user, "name", context->username);
      cJSON_AddStringToObject(user, "digest", digest);
      SetMember(root, "user", user);
    }
  }

  std::unique_ptr<char, CJsonTextFree> text(cJSON_PrintUnformatted(root));
  int32_t length = text ? static_cast<int32_t>(std::strlen(text.get())) : 0;
  int32_t count = 0;
  if (context->send_func == nullptr) {
    Diagnostic("send error: send func not setted\n");
  } else {
    count = context->send_func(context, text ? text.get() : "", length);
  }
  int error = errno;
  text.reset();
  if (count != length) {
    char buffer[128];
    Diagnostic("send error  : %s, ret: %d, tosend: %d\n",
               os::ErrorText(error, buffer, sizeof buffer), count, length);
  }
  return count;
}

int32_t grpc_recv_response(GrpcContext* context) {
  if (context == nullptr) return -1;
  int32_t elapsed = 0;
  for (;;) {
    if (context->recv_func == nullptr) {
      Diagnostic("recv error: recv func not setted\n");
      return -1;
    }
    int32_t n = context->recv_func(context, context->recvbuf, kGrpcRecvCapacity, &elapsed);
    if (n < 1) return n;
    // A transport can only have copied the capacity; never read past it.
    if (n > kGrpcRecvCapacity) n = kGrpcRecvCapacity;
    context->recvbuf[n] = '\0';

    cJSON_Delete(context->json);
    context->json = nullptr;
    const char* start = context->recvbuf;
    const char* end = context->recvbuf + n;
    while (start < end && static_cast<unsigned char>(*start) <= 32) ++start;
    context->json = cJSON_ParseWithLength(start, static_cast<std::size_t>(end - start));
    if (context->json == nullptr) {
      Diagnostic("ERROR: Failed parse json: %s\n", context->recvbuf);
      return kGrpcParseError;
    }

    const cJSON* sentcnt = cJSON_GetObjectItem(context->json, "sentcnt");
    double got = cJSON_IsNumber(sentcnt) ? sentcnt->valuedouble : -1.0;
    if (got != static_cast<double>(context->sentcnt)) {
      cJSON_Delete(context->json);
      context->json = nullptr;
      continue;  // the elapsed counter carries on: one budget for all attempts
    }

    context->errorcode = 0;
    context->errmsg[0] = '\0';
    const cJSON* error = cJSON_GetObjectItem(context->json, "error");
    if (error != nullptr) SetError(context, error);
    return 0;
  }
}

}  // namespace qcsdk
