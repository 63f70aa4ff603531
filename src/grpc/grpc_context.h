// The per-channel RPC request context and its string arena.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace qcsdk {

struct GrpcContext;

// Sends one request text (length without terminator); negative on failure,
// otherwise the bytes sent.
using GrpcSendFunc = int32_t (*)(GrpcContext* context, const char* text, int32_t length);
// Fetches one response text into buffer; its length (>= 1), or < 1 on
// failure or time-out. Adds the milliseconds it waited to *elapsedMs.
using GrpcRecvFunc = int32_t (*)(GrpcContext* context, char* buffer, int32_t capacity,
                                 int32_t* elapsedMs);

constexpr uint32_t kGrpcArenaMagic = 0xACAC5C5Cu;
constexpr int32_t kGrpcRecvCapacity = 131072;
constexpr std::size_t kGrpcCredentialSize = 32;

// Header of one arena block; the payload follows it directly.
struct GrpcArenaBlock {
  uint32_t magic;        // kGrpcArenaMagic
  uint32_t size;         // payload size + 12
  GrpcArenaBlock* next;  // the block allocated before this one
};

struct GrpcContext {
  void* owner;       // the owning channel
  uint32_t sentcnt;  // request counter; the first request carries 1
  cJSON* json;       // the request being built, then the parsed response
  int32_t errorcode;
  char errmsg[256];
  char recvbuf[kGrpcRecvCapacity + 1];
  GrpcSendFunc send_func;
  GrpcRecvFunc recv_func;
  GrpcArenaBlock* arena;  // newest block first
  char username[kGrpcCredentialSize];
  char password[kGrpcCredentialSize];
  // Serialises whole calls on this context (request to result). Owned; the
  // context itself is a zero-filled C allocation, so the lock lives apart.
  std::mutex* call_lock;
};

// A zero-filled context bound to its owner and transport functions; null
// when memory is short.
GrpcContext* grpc_context_create(void* owner, GrpcSendFunc send, GrpcRecvFunc recv);
// Frees the JSON tree, the call lock, every arena block (newest first) and the context.
void grpc_context_destroy(GrpcContext* context);
// Frees every arena block: each string and array handed out so far becomes
// invalid. The caller holds the call lock when calls may run.
void grpc_free_results(GrpcContext* context);
// n bytes in a new arena block (not zero-filled); null when memory is short.
void* grpc_alloc(GrpcContext* context, std::size_t n);
// A copy of s in a new arena block; null when s is null.
char* grpc_strdup(GrpcContext* context, const char* s);
// Copies user name and password (each cut to 31 characters) into the context.
void grpc_set_credentials(GrpcContext* context, const char* user, const char* password);

// Holds a context's call lock for one whole call; does nothing for a null
// context.
class GrpcCallLock {
 public:
  explicit GrpcCallLock(GrpcContext* context)
      : m_pLock(context != nullptr ? context->call_lock : nullptr) {
    if (m_pLock != nullptr) m_pLock->lock();
  }
  ~GrpcCallLock() {
    if (m_pLock != nullptr) m_pLock->unlock();
  }
  GrpcCallLock(const GrpcCallLock&) = delete;
  GrpcCallLock& operator=(const GrpcCallLock&) = delete;

 private:
  std::mutex* m_pLock;
};

}  // namespace qcsdk
