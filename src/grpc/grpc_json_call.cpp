// Calling an RPC method by its name with JSON text, and describing a
// method's members: the catalogue's descriptors turn the text into the
// method's structures and back, so tools reach every method without code of
// their own per method.
#include <cjson/cJSON.h>
#include <qcsdk/qcsdk.h>

#include <memory>
#include <string>
#include <vector>

#include "grpc/grpc_envelope.h"
#include "grpc/grpc_marshal.h"
#include "grpc/grpc_stubs.h"
#include "qcsdk/facade/export_frame.h"

namespace qcsdk::grpc {
namespace {

struct JsonDelete {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDelete>;

// The members of a structure as a JSON object of type words.
cJSON* Shape(const ObjectDesc& desc) {
  cJSON* object = cJSON_CreateObject();
  for (uint32_t i = 0; i < desc.field_count; ++i) {
    const FieldDesc& field = desc.fields[i];
    cJSON* item = nullptr;
    switch (field.kind) {
      case FieldKind::kNumber: item = cJSON_CreateString("number"); break;
      case FieldKind::kBool: item = cJSON_CreateString("bool"); break;
      case FieldKind::kString: item = cJSON_CreateString("string"); break;
      case FieldKind::kObject: item = Shape(*field.nested); break;
      case FieldKind::kNumberArray:
      case FieldKind::kStringArray:
      case FieldKind::kObjectArray:
        item = cJSON_CreateArray();
        cJSON_AddItemToArray(item, field.kind == FieldKind::kObjectArray ? Shape(*field.nested)
                                   : field.kind == FieldKind::kNumberArray
                                       ? cJSON_CreateString("number")
                                       : cJSON_CreateString("string"));
        break;
    }
    cJSON_AddItemToObject(object, field.name, item);
  }
  return object;
}

std::string Describe(const MethodDesc& method) {
  JsonPtr root(cJSON_CreateObject());
  cJSON_AddStringToObject(root.get(), "method", method.name);
  cJSON_AddItemToObject(root.get(), "param",
                        method.param != nullptr ? Shape(*method.param) : cJSON_CreateNull());
  cJSON_AddItemToObject(root.get(), "result",
                        method.result != nullptr ? Shape(*method.result) : cJSON_CreateNull());
  std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(root.get()), cJSON_free);
  return text ? text.get() : "";
}

// Zeroed storage for one structure, aligned for its pointers.
std::vector<uint64_t> Block(const ObjectDesc* desc) {
  const std::size_t size = desc != nullptr ? desc->size : sizeof(int32_t);
  return std::vector<uint64_t>((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
}

// Prints `json` into the context's arena: the text lives as results do.
const char* ArenaText(GrpcContext* context, const cJSON* json) {
  std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(json), cJSON_free);
  return text ? grpc_strdup(context, text.get()) : nullptr;
}

}  // namespace
}  // namespace qcsdk::grpc

using namespace qcsdk;
using namespace qcsdk::grpc;

QCSDK_API const char* QCSDK_CALL QCSDK_GRPC_DescribeMethod(int32_t index) {
  // Built once, kept for the life of the process.
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < kMethodCount; ++i) out.push_back(Describe(kMethods[i]));
    return out;
  }();
  if (index < 0 || static_cast<std::size_t>(index) >= texts.size()) return nullptr;
  return texts[static_cast<std::size_t>(index)].c_str();
}

QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_Call(int32_t channel, const char* szMethod,
                                             const char* szParams, const char** ppText) {
  if (ppText != nullptr) *ppText = nullptr;
  const int32_t index = FindMethod(szMethod);
  if (index < 0) return -1;
  const MethodDesc& method = kMethods[index];
  JsonPtr params(szParams != nullptr && *szParams != '\0' ? cJSON_Parse(szParams)
                                                          : cJSON_CreateObject());
  if (!cJSON_IsObject(params.get())) return -2;
  return WithChannel(channel, 0, [&](Channel& ch) -> int32_t {
    GrpcContext* context = ch.Grpc();
    if (context == nullptr) return 0;
    GrpcCallLock lock(context);
    std::vector<uint64_t> param = Block(method.param), result = Block(method.result);
    if (method.param != nullptr) ReadMembers(context, params.get(), *method.param, param.data());
    qvbu_context* c = ToQvbu(context);
    // A failed step says what failed; a device's error comes with its message.
    const char* failure = "the request could not be sent";
    int32_t code = stubs::Request(c, method, param.data());
    if (code == 0) {
      code = grpc_recv_response(context);
      failure = code == kGrpcParseError ? "the answer is not JSON" : "no answer from the device";
    }
    if (code == 0) {
      code = stubs::Response(c, method, result.data());
      failure = context->errmsg;
    }
    JsonPtr text(cJSON_CreateObject());
    if (code == 0) {
      if (method.result != nullptr) WriteMembers(text.get(), *method.result, result.data());
    } else {
      cJSON_AddNumberToObject(text.get(), "code", code);
      cJSON_AddStringToObject(text.get(), "message", failure);
    }
    if (ppText != nullptr) *ppText = ArenaText(context, text.get());
    return code == 0 ? 1 : -3;
  });
}
