#include "rpc_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "grpc/grpc_marshal.h"
#include "grpc/qvbu_stub_table.h"

namespace qcsdk::test {

using grpc::FieldKind;
using grpc::FieldRef;
using grpc::ObjectDesc;

std::string PrintJson(const cJSON* json) {
  char* text = cJSON_PrintUnformatted(json);
  std::string out = text != nullptr ? text : "";
  cJSON_free(text);
  return out;
}

ScriptedTransport::ScriptedTransport()
    : m_context(grpc_context_create(this, &ScriptedTransport::Send, &ScriptedTransport::Recv),
                &grpc_context_destroy) {}

std::string Serve(ScriptedTransport& server, const std::string& request, void* parsed,
                  const void* answer, const std::string& error) {
  JsonPtr root(cJSON_Parse(request.c_str()));
  const cJSON* method = cJSON_GetObjectItem(root.get(), "method");
  const int32_t index = grpc::FindMethod(cJSON_IsString(method) ? method->valuestring : "");
  EXPECT_GE(index, 0) << request;
  JsonPtr response(cJSON_CreateObject());
  cJSON_AddItemToObject(response.get(), "sentcnt",
                        cJSON_Duplicate(cJSON_GetObjectItem(root.get(), "sentcnt"), 1));
  if (!error.empty()) cJSON_AddItemToObject(response.get(), "error", cJSON_Parse(error.c_str()));
  if (index >= 0) {
    const grpc::StubEntry& entry = grpc::kStubTable[index];
    if (parsed != nullptr) entry.parse_request(server.Qvbu(), root.get(), parsed);
    if (answer != nullptr)
      entry.generate_response(server.Qvbu(), response.get(), const_cast<void*>(answer));
  }
  return PrintJson(response.get());
}

int32_t ScriptedTransport::Send(GrpcContext* context, const char* text, int32_t length) {
  auto* self = static_cast<ScriptedTransport*>(context->owner);
  self->sent.emplace_back(text, static_cast<std::size_t>(length));
  if (self->onSend) self->onSend(self->sent.back());
  return self->sendResult == -100 ? length : self->sendResult;
}

int32_t ScriptedTransport::Recv(GrpcContext* context, char* buffer, int32_t capacity,
                                int32_t* elapsed) {
  auto* self = static_cast<ScriptedTransport*>(context->owner);
  self->elapsedAtCall.push_back(*elapsed);
  *elapsed += self->stepMs;
  if (*elapsed > self->budgetMs) return -2;
  if (self->responses.empty()) return -1;
  std::string text = std::move(self->responses.front());
  self->responses.pop_front();
  // Copies only what fits, as a transport must.
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity));
  std::memcpy(buffer, text.data(), n);
  return self->claimedLength >= 0 ? self->claimedLength : static_cast<int32_t>(n);
}

void* RandomBuilder::Block(std::size_t n) {
  m_blocks.emplace_back((n + 7) / 8 + 1, 0);
  return m_blocks.back().data();
}

int32_t RandomBuilder::Int() {
  static const int32_t kEdges[] = {-1, 0, INT32_MAX, INT32_MIN};
  const uint32_t pick = m_rng() % 6;
  return pick < std::size(kEdges) ? kEdges[pick] : static_cast<int32_t>(m_rng());
}

const char* RandomBuilder::Text() {
  static const char* const kPieces[] = {
      "", "a", "Grüße", "q\"uote", "back\\slash", "line\nbreak", "tab\t", "0", "{\"x\":1}"};
  const char* piece = kPieces[m_rng() % std::size(kPieces)];
  m_strings.push_back(piece + std::to_string(m_rng() % 1000));
  return m_strings.back().c_str();
}

void RandomBuilder::Fill(const ObjectDesc& desc, void* base) {
  for (uint32_t i = 0; i < desc.field_count; ++i) {
    FieldRef ref(desc.fields[i], base);
    const grpc::FieldDesc& f = ref.Desc();
    switch (f.kind) {
      case FieldKind::kNumber: ref.Int() = Int(); break;
      // Any non-zero value must be sent as true.
      case FieldKind::kBool:
        ref.Int() = m_rng() % 2 == 0 ? 0 : static_cast<int32_t>(m_rng() | 1);
        break;
      case FieldKind::kString: ref.String() = m_rng() % 5 == 0 ? nullptr : Text(); break;
      case FieldKind::kObject: Fill(*f.nested, ref.Object()); break;
      case FieldKind::kNumberArray:
      case FieldKind::kStringArray:
      case FieldKind::kObjectArray: {
        const int32_t count = ref.Count() = static_cast<int32_t>(m_rng() % 4);
        if (m_rng() % 6 == 0) {
          ref.Elements() = nullptr;  // a count without elements sends nothing
          break;
        }
        ref.Elements() = Block(static_cast<std::size_t>(count) * f.element_size + 1);
        for (int32_t e = 0; e < count; ++e) {
          void* element = ref.Element(e);
          if (f.kind == FieldKind::kNumberArray)
            *static_cast<int32_t*>(element) = Int();
          else if (f.kind == FieldKind::kStringArray)
            *static_cast<const char**>(element) = m_rng() % 4 == 0 ? nullptr : Text();
          else
            Fill(*f.nested, element);
        }
        break;
      }
    }
  }
}

std::string Dump(const ObjectDesc& desc, const void* base, DumpAs as) {
  const auto quoted = [](const char* text) {
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
  };
  const bool fixed = as == DumpAs::kDefaults || as == DumpAs::kZeros;
  std::string out = "{";
  for (uint32_t i = 0; i < desc.field_count; ++i) {
    const grpc::FieldDesc& f = desc.fields[i];
    FieldRef r(f, const_cast<void*>(base));
    out += std::string(f.name) + ":";
    switch (f.kind) {
      case FieldKind::kNumber:
        out += std::to_string(!fixed ? r.Int() : as == DumpAs::kDefaults ? -1 : 0);
        break;
      case FieldKind::kBool:
        out += std::to_string(fixed ? 0 : as == DumpAs::kSent ? r.Int() != 0 : r.Int());
        break;
      case FieldKind::kString: out += quoted(fixed ? nullptr : r.String()); break;
      case FieldKind::kObject:
        out += Dump(*f.nested, r.Object(), as == DumpAs::kDefaults ? DumpAs::kZeros : as);
        break;
      default:
        // Received arrays have elements exactly when they have a count.
        if (as == DumpAs::kReceived && (r.Count() == 0) != (r.Elements() == nullptr))
          out += "(count " + std::to_string(r.Count()) + " with elements " +
                 (r.Elements() == nullptr ? "null)" : "set)");
        out += "[";
        for (int32_t e = 0; !fixed && r.Elements() != nullptr && e < r.Count(); ++e) {
          const void* x = r.Element(e);
          if (f.kind == FieldKind::kNumberArray) {
            out += std::to_string(*static_cast<const int32_t*>(x));
          } else if (f.kind == FieldKind::kObjectArray) {
            out += Dump(*f.nested, x, as);
          } else if (*static_cast<const char* const*>(x) != nullptr || as != DumpAs::kSent) {
            out += quoted(*static_cast<const char* const*>(x));
          } else {
            continue;  // null entries are not sent
          }
          out += ",";
        }
        out += "]";
    }
    out += " ";
  }
  return out + "}";
}

}  // namespace qcsdk::test
