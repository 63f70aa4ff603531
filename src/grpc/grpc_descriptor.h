// Descriptors of the RPC structures: plain data the generator writes for
// every method, walked by the one marshaller in both directions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qcsdk::grpc {

// Bumped whenever the descriptor structs below change; the generated tables
// assert that they were written for this layout.
constexpr int32_t kDescriptorAbi = 1;

enum class FieldKind : uint8_t {
  kNumber,       // int32_t
  kBool,         // int32_t, 0 or 1
  kString,       // const char*
  kObject,       // embedded structure described by `nested`
  kNumberArray,  // int32_t count at count_offset, int32_t* at offset
  kStringArray,  // int32_t count at count_offset, const char** at offset
  kObjectArray,  // int32_t count at count_offset, element* at offset
};

struct ObjectDesc;

struct FieldDesc {
  const char* name;  // JSON member name, letter case as sent
  uint32_t offset;   // the field (for arrays: the element pointer)
  FieldKind kind;
  uint32_t element_size;     // arrays: bytes per element; objects: structure size
  const ObjectDesc* nested;  // objects and object arrays
  uint32_t count_offset;     // arrays: the element count
};

struct ObjectDesc {
  const char* c_name;  // the C structure, for diagnostics
  const FieldDesc* fields;
  uint32_t field_count;
  uint32_t size;  // sizeof the C structure
};

struct MethodDesc {
  const char* name;          // method name on the wire
  const ObjectDesc* param;   // null: the request carries no "param"
  const ObjectDesc* result;  // null: the result is a 32-bit placeholder
  int32_t userdef_line;      // line the default handler reports
};

// The catalogue in server-table order; generated.
extern const MethodDesc kMethods[];
extern const std::size_t kMethodCount;

// Index of a method by its exact name, or -1.
int32_t FindMethod(const char* name);

}  // namespace qcsdk::grpc
