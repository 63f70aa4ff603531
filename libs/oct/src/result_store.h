// Results handed to callers of the synchronous calls (device information,
// recording lists, configuration texts, online states). Each is owned here,
// keyed by the pointer the caller received, until its free function: a free
// of an unknown or already freed pointer is refused instead of crashing.
#pragma once

#include <octc/octc.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "messages.h"

namespace octc {

class ResultStore {
 public:
  static ResultStore& Instance();
  // Fills info with texts owned by the store.
  void PutDevInfo(const wire::DevInfoData& d, OctDevInfo* info);
  bool FreeDevInfo(OctDevInfo* info);
  void PutRecList(const std::vector<wire::RecItemData>& items, OctRecList* list);
  bool FreeRecList(OctRecList* list);
  void PutBuffer(std::string_view text, OctBuffer* out);
  bool FreeBuffer(OctBuffer* out);
  OctOnlineStatus* PutOnline(std::vector<OctOnlineStatus> entries);
  bool FreeOnline(OctOnlineStatus* status);
  size_t Outstanding();

 private:
  struct Block {
    std::vector<std::string> texts;
    std::vector<OctRecItem> items;
    std::vector<OctOnlineStatus> online;
  };
  const void* Put(std::unique_ptr<Block> block, const void* key);
  bool Erase(const void* key);

  std::mutex m_lock;
  std::unordered_map<const void*, std::unique_ptr<Block>> m_blocks;
};

}  // namespace octc
