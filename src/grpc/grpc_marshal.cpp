#include "grpc/grpc_marshal.h"

#include <cstring>
#include <limits>

namespace qcsdk::grpc {
namespace {

cJSON* NewNumber(int32_t value) {
  return cJSON_CreateNumber(static_cast<double>(value));
}

cJSON* NewObjectOf(const ObjectDesc& desc, const void* base) {
  cJSON* object = cJSON_CreateObject();
  if (object != nullptr) WriteMembers(object, desc, base);
  return object;
}

cJSON* NewArray(const FieldRef& ref) {
  cJSON* array = cJSON_CreateArray();
  if (array == nullptr) return nullptr;
  const FieldDesc& field = ref.Desc();
  for (int32_t i = 0; i < ref.Count(); ++i) {
    void* element = ref.Element(i);
    cJSON* item = nullptr;
    switch (field.kind) {
      case FieldKind::kNumberArray: item = NewNumber(*static_cast<const int32_t*>(element)); break;
      case FieldKind::kStringArray: {
        const char* s = *static_cast<const char* const*>(element);
        if (s == nullptr) continue;
        item = cJSON_CreateString(s);
        break;
      }
      case FieldKind::kObjectArray: item = NewObjectOf(*field.nested, element); break;
      default: break;
    }
    if (item != nullptr) cJSON_AddItemToArray(array, item);
  }
  return array;
}

int32_t ReadNumber(const cJSON* item) {
  return cJSON_IsNumber(item) ? item->valueint : -1;
}

const char* ReadString(GrpcContext* context, const cJSON* item) {
  if (!cJSON_IsString(item) || item->valuestring == nullptr) return nullptr;
  return grpc_strdup(context, item->valuestring);
}

// Reads an array member; the count comes from the items actually present,
// never from anything the sender claims.
void ReadArray(GrpcContext* context, const cJSON* array, const FieldRef& ref) {
  ref.Count() = 0;
  ref.Elements() = nullptr;
  if (!cJSON_IsArray(array)) return;
  const FieldDesc& field = ref.Desc();
  std::size_t count = 0;
  for (const cJSON* item = array->child; item != nullptr; item = item->next) ++count;
  if (count == 0 || field.element_size == 0) return;
  if (count > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
      count > std::numeric_limits<std::size_t>::max() / field.element_size) {
    return;
  }
  std::size_t bytes = count * field.element_size;
  void* block = grpc_alloc(context, bytes);
  if (block == nullptr) return;
  std::memset(block, 0, bytes);
  ref.Elements() = block;
  ref.Count() = static_cast<int32_t>(count);
  int32_t i = 0;
  for (const cJSON* item = array->child; item != nullptr; item = item->next, ++i) {
    void* element = ref.Element(i);
    switch (field.kind) {
      case FieldKind::kNumberArray: *static_cast<int32_t*>(element) = ReadNumber(item); break;
      case FieldKind::kStringArray:
        *static_cast<const char**>(element) = ReadString(context, item);
        break;
      case FieldKind::kObjectArray: ReadMembers(context, item, *field.nested, element); break;
      default: break;
    }
  }
}

}  // namespace

void WriteMembers(cJSON* object, const ObjectDesc& desc, const void* base) {
  if (object == nullptr || base == nullptr) return;
  for (uint32_t i = 0; i < desc.field_count; ++i) {
    const FieldDesc& field = desc.fields[i];
    FieldRef ref(field, const_cast<void*>(base));
    cJSON* item = nullptr;
    switch (field.kind) {
      case FieldKind::kNumber: item = NewNumber(ref.Int()); break;
      case FieldKind::kBool: item = cJSON_CreateBool(ref.Int() != 0); break;
      case FieldKind::kString:
        if (ref.String() != nullptr) item = cJSON_CreateString(ref.String());
        break;
      case FieldKind::kObject: item = NewObjectOf(*field.nested, ref.Object()); break;
      case FieldKind::kNumberArray:
      case FieldKind::kStringArray:
      case FieldKind::kObjectArray:
        if (ref.Elements() != nullptr) item = NewArray(ref);
        break;
    }
    if (item != nullptr) cJSON_AddItemToObject(object, field.name, item);
  }
}

void ReadMembers(GrpcContext* context, const cJSON* object, const ObjectDesc& desc, void* base) {
  if (base == nullptr) return;
  for (uint32_t i = 0; i < desc.field_count; ++i) {
    const FieldDesc& field = desc.fields[i];
    FieldRef ref(field, base);
    // The lookup ignores letter case, as the JSON library's does; a value
    // that is no object has no members.
    const cJSON* item = cJSON_IsObject(object) ? cJSON_GetObjectItem(object, field.name) : nullptr;
    switch (field.kind) {
      case FieldKind::kNumber: ref.Int() = ReadNumber(item); break;
      case FieldKind::kBool: ref.Int() = cJSON_IsTrue(item) ? 1 : 0; break;
      case FieldKind::kString: ref.String() = ReadString(context, item); break;
      case FieldKind::kObject:
        // Only a missing object leaves its fields as they are.
        if (item != nullptr) ReadMembers(context, item, *field.nested, ref.Object());
        break;
      case FieldKind::kNumberArray:
      case FieldKind::kStringArray:
      case FieldKind::kObjectArray: ReadArray(context, item, ref); break;
    }
  }
}

}  // namespace qcsdk::grpc
