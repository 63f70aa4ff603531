// Every generated stub of every method behind one signature per family, so
// that tests and tools can walk the whole catalogue. The table is generated
// next to the stubs (qvbu_stub_table.cpp) and linked only where used.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>

struct qvbu_context;

namespace qcsdk::grpc {

struct StubEntry {
  const char* name;
  int32_t (*request)(qvbu_context* context, void* param);
  int32_t (*response)(qvbu_context* context, void* result);
  int32_t (*call)(qvbu_context* context, void* param, void* result);
  void (*parse_request)(qvbu_context* context, cJSON* root, void* param);
  void (*generate_response)(qvbu_context* context, cJSON* root, void* result);
  int32_t (*userdef)(qvbu_context* context);
  int32_t (*export_call)(int32_t channel, void* param, void* result);
};

// In catalogue order, kStubTableSize entries.
extern const StubEntry kStubTable[];
extern const std::size_t kStubTableSize;

}  // namespace qcsdk::grpc
