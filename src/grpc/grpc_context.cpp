#include "grpc/grpc_context.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace qcsdk {
namespace {

void CopyCredential(char (&field)[kGrpcCredentialSize], const char* value) {
  std::memset(field, 0, sizeof field);
  if (value != nullptr) std::strncpy(field, value, sizeof field - 1);
}

}  // namespace

GrpcContext* grpc_context_create(void* owner, GrpcSendFunc send, GrpcRecvFunc recv) {
  auto* context = static_cast<GrpcContext*>(std::calloc(1, sizeof(GrpcContext)));
  if (context == nullptr) return nullptr;
  try {
    context->call_lock = std::make_unique<std::mutex>().release();
  } catch (const std::bad_alloc&) {
    std::free(context);
    return nullptr;
  }
  context->owner = owner;
  context->send_func = send;
  context->recv_func = recv;
  return context;
}

void grpc_context_destroy(GrpcContext* context) {
  if (context == nullptr) return;
  if (context->json != nullptr) cJSON_Delete(context->json);
  std::unique_ptr<std::mutex> lock(context->call_lock);
  grpc_free_results(context);
  std::free(context);
}

void grpc_free_results(GrpcContext* context) {
  if (context == nullptr) return;
  GrpcArenaBlock* block = context->arena;
  context->arena = nullptr;
  while (block != nullptr) {
    GrpcArenaBlock* next = block->next;
    std::free(block);
    block = next;
  }
}

void* grpc_alloc(GrpcContext* context, std::size_t n) {
  if (context == nullptr || n > UINT32_MAX - sizeof(GrpcArenaBlock)) return nullptr;
  auto* block = static_cast<GrpcArenaBlock*>(std::malloc(sizeof(GrpcArenaBlock) + n));
  if (block == nullptr) return nullptr;
  block->magic = kGrpcArenaMagic;
  block->size = static_cast<uint32_t>(n + 12);
  block->next = context->arena;
  context->arena = block;
  return block + 1;
}

char* grpc_strdup(GrpcContext* context, const char* s) {
  if (s == nullptr) return nullptr;
  std::size_t n = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(grpc_alloc(context, n));
  if (copy != nullptr) std::memcpy(copy, s, n);
  return copy;
}

void grpc_set_credentials(GrpcContext* context, const char* user, const char* password) {
  if (context == nullptr) return;
  CopyCredential(context->username, user);
  CopyCredential(context->password, password);
}

}  // namespace qcsdk
