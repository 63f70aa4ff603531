// RPC test helpers: a scripted transport, a stub-side device, random structures and their dump.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"
#include "grpc/grpc_stubs.h"

namespace qcsdk::test {

struct JsonDelete {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDelete>;

std::string PrintJson(const cJSON* json);

// Records each request text; each receive call adds stepMs to the elapsed counter and hands out a
// queued response: -2 beyond budgetMs, -1 when none is queued. onSend may queue an answer.
class ScriptedTransport {
 public:
  ScriptedTransport();

  GrpcContext* Context() const { return m_context.get(); }
  qvbu_context* Qvbu() const { return grpc::ToQvbu(m_context.get()); }

  std::vector<std::string> sent;
  std::deque<std::string> responses;
  std::vector<int32_t> elapsedAtCall;  // the counter as each receive call found it
  int32_t sendResult = -100;           // -100: report the full length
  int32_t stepMs = 0, budgetMs = 1 << 30, claimedLength = -1;  // >= 0: reported as the length
  std::function<void(const std::string&)> onSend;

 private:
  static int32_t Send(GrpcContext* context, const char* text, int32_t length);
  static int32_t Recv(GrpcContext* context, char* buffer, int32_t capacity, int32_t* elapsed);
  std::unique_ptr<GrpcContext, void (*)(GrpcContext*)> m_context;
};

class RandomBuilder {
 public:
  explicit RandomBuilder(uint32_t seed) : m_rng(seed) {}
  void* Block(std::size_t n);
  // Null strings and arrays now and then, null entries in string arrays.
  void Fill(const grpc::ObjectDesc& desc, void* base);

 private:
  int32_t Int();
  const char* Text();
  std::mt19937 m_rng;
  std::deque<std::vector<uint64_t>> m_blocks;
  std::deque<std::string> m_strings;
};

// The structure as text. kSent: as the JSON round trip leaves it (bools as 0/1, null entries of
// string arrays left out, arrays without elements empty); kDefaults, kZeros: what a structure of
// every member's missing-member default (objects all zeros), or of zeros, prints.
enum class DumpAs { kReceived, kSent, kDefaults, kZeros };
std::string Dump(const grpc::ObjectDesc& desc, const void* base, DumpAs as = DumpAs::kReceived);

// The device side of one exchange: parses "param" into `parsed` (if set), answers error, answer.
std::string Serve(ScriptedTransport& server, const std::string& request, void* parsed,
                  const void* answer, const std::string& error = "");

}  // namespace qcsdk::test
