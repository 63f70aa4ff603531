// The one marshaller: walks a structure's descriptor to write its fields as
// JSON members or to read them back. No per-method code.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"

namespace qcsdk::grpc {

// Typed access to one field of a structure described by a FieldDesc; the
// writer and the reader reach the C fields only through it.
class FieldRef {
 public:
  FieldRef(const FieldDesc& field, void* base)
      : m_field(field), m_pBase(static_cast<uint8_t*>(base)) {}

  const FieldDesc& Desc() const { return m_field; }
  int32_t& Int() const { return *reinterpret_cast<int32_t*>(m_pBase + m_field.offset); }
  const char*& String() const { return *reinterpret_cast<const char**>(m_pBase + m_field.offset); }
  void* Object() const { return m_pBase + m_field.offset; }
  // Arrays: the element pointer and the count beside it.
  void*& Elements() const { return *reinterpret_cast<void**>(m_pBase + m_field.offset); }
  int32_t& Count() const { return *reinterpret_cast<int32_t*>(m_pBase + m_field.count_offset); }
  // Element i of an array field, as the address of its storage.
  void* Element(int32_t i) const {
    return static_cast<uint8_t*>(Elements()) + static_cast<std::size_t>(i) * m_field.element_size;
  }

 private:
  const FieldDesc& m_field;
  uint8_t* m_pBase;
};

// Adds every field of *base to object in field order: numbers and bools
// always, strings when set, objects always, arrays when their pointer is
// set (null strings of a string array are skipped).
void WriteMembers(cJSON* object, const ObjectDesc& desc, const void* base);

// Reads every field of *base from object: wrongly typed or missing members
// take their type's default (-1, 0, null, count 0 with null); a missing
// object leaves its fields as they are. A value that is no object (an
// object member or an array element of another type, or `object` itself)
// has no members: its fields take their defaults. Strings and element
// blocks are taken from the context's arena; element blocks start
// zero-filled.
void ReadMembers(GrpcContext* context, const cJSON* object, const ObjectDesc& desc, void* base);

}  // namespace qcsdk::grpc
