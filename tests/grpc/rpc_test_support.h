// Helpers of the RPC tests: contexts over a scripted in-process transport,
// a device side on the server stubs, random structures built from the
// descriptors, and a comparison of what was sent with what came back.
#pragma once

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

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

// A transport scripted by the test: records every request text, hands out
// queued responses one per receive call (each call first adds stepMs to
// the elapsed counter), and fails with -2 once the counter reaches
// budgetMs or -1 when the queue is empty. onSend may answer synchronously.
class ScriptedTransport {
 public:
  ScriptedTransport();

  GrpcContext* Context() const { return m_context.get(); }
  qvbu_context* Qvbu() const { return grpc::ToQvbu(m_context.get()); }

  std::vector<std::string> sent;
  std::deque<std::string> responses;
  std::vector<int32_t> elapsedAtCall;  // the counter as each receive call found it
  int32_t sendResult = -100;           // -100: report the full length
  int32_t stepMs = 0;
  int32_t budgetMs = 1 << 30;
  int32_t claimedLength = -1;  // >= 0: the length reported instead of the real one
  std::function<void(const std::string&)> onSend;

 private:
  static int32_t Send(GrpcContext* context, const char* text, int32_t length);
  static int32_t Recv(GrpcContext* context, char* buffer, int32_t capacity, int32_t* elapsed);
  std::unique_ptr<GrpcContext, void (*)(GrpcContext*)> m_context;
};

// Owns random structures and everything they point to.
class RandomBuilder {
 public:
  explicit RandomBuilder(uint32_t seed) : m_rng(seed) {}
  // A zero-filled block of n bytes, aligned for any field.
  void* Block(std::size_t n);
  // Fills every field of base at random: null strings and null arrays now
  // and then, null entries in string arrays, counts 0 to 3.
  void Fill(const grpc::ObjectDesc& desc, void* base, int depth = 0);

 private:
  int32_t Int();
  const char* Text();
  std::mt19937 m_rng;
  std::deque<std::vector<uint64_t>> m_blocks;
  std::deque<std::string> m_strings;
};

// Expects received to be what the JSON round trip makes of sent: equal
// numbers, bools normalised to 0/1, null strings and null arrays read as
// missing, null entries of string arrays skipped, empty arrays read as
// count 0 with a null pointer.
void ExpectRoundTrip(const grpc::ObjectDesc& desc, const void* sent, const void* received,
                     const std::string& path);

// Expects every field to hold its type's missing-member default (-1, 0,
// null, count 0 with null), objects being all zeros.
void ExpectDefaults(const grpc::ObjectDesc& desc, const void* base, const std::string& path);
// Expects every byte of the structure to be 0.
void ExpectAllZero(const grpc::ObjectDesc& desc, const void* base, const std::string& path);

// The device side of one exchange, on the generated server stubs: reads
// the request's "param" into `parsed` (when not null; strings and arrays in
// server's arena) and answers its "sentcnt" with `error` (JSON, when not
// empty) and `answer` written as the method's result.
std::string Serve(ScriptedTransport& server, const std::string& request, void* parsed,
                  const void* answer, const std::string& error = "");

}  // namespace qcsdk::test
