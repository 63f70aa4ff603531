// RPC response texts into the result structure of any method: the request
// goes out, the input comes back as the transport's answer and is parsed
// and read into the method's result as a call from the host would.
// Input: [u16 method index, modulo the catalogue][response text].
#include <cstring>
#include <vector>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"
#include "grpc/grpc_stubs.h"
#include "qcsdk/base/bytes.h"

using namespace qcsdk;

namespace {

const uint8_t* g_answer = nullptr;
size_t g_answerSize = 0;

// Hands the answer over once; a second read finds nothing.
int32_t Recv(GrpcContext*, char* buffer, int32_t capacity, int32_t*) {
  const int32_t n = static_cast<int32_t>(std::min<size_t>(g_answerSize, capacity));
  if (n > 0) std::memcpy(buffer, g_answer, static_cast<size_t>(n));
  g_answerSize = 0;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const grpc::MethodDesc& method = grpc::kMethods[LoadLe16(data) % grpc::kMethodCount];
  g_answer = data + 2;
  g_answerSize = size - 2;
  GrpcContext* context = grpc_context_create(
      nullptr, [](GrpcContext*, const char*, int32_t length) { return length; }, &Recv);
  if (context == nullptr) return 0;
  // Zero parameters: null strings and empty arrays.
  std::vector<uint64_t> param(method.param ? method.param->size / 8 + 1 : 1);
  std::vector<uint64_t> result(method.result ? method.result->size / 8 + 1 : 1);
  grpc::stubs::Call(grpc::ToQvbu(context), method, param.data(), result.data());
  grpc_context_destroy(context);
  return 0;
}
