#include "result_store.h"

namespace octc {

ResultStore& ResultStore::Instance() {
  static ResultStore store;
  return store;
}

const void* ResultStore::Put(std::unique_ptr<Block> block, const void* key) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_blocks[key] = std::move(block);
  return key;
}

bool ResultStore::Erase(const void* key) {
  if (!key) return false;
  std::unique_ptr<Block> block;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_blocks.find(key);
    if (it == m_blocks.end()) return false;
    block = std::move(it->second);
    m_blocks.erase(it);
  }
  return true;
}

void ResultStore::PutDevInfo(const wire::DevInfoData& d, OctDevInfo* info) {
  auto block = std::make_unique<Block>();
  block->texts = {d.device_id, d.name, d.version};
  info->device_id = block->texts[0].c_str();
  info->name = block->texts[1].c_str();
  info->version = block->texts[2].c_str();
  info->device_type = d.device_type;
  info->channel_count = d.channel_count;
  info->stream_count = d.stream_count;
  info->client_limit = d.client_limit;
  Put(std::move(block), info->device_id);
}

bool ResultStore::FreeDevInfo(OctDevInfo* info) {
  if (!info || !Erase(info->device_id)) return false;
  *info = OctDevInfo{};
  return true;
}

void ResultStore::PutRecList(const std::vector<wire::RecItemData>& items, OctRecList* list) {
  auto block = std::make_unique<Block>();
  block->texts.reserve(items.size() * 2);
  block->items.resize(items.size() == 0 ? 1 : items.size());  // a distinct key even when empty
  for (size_t i = 0; i < items.size(); ++i) {
    block->texts.push_back(items[i].name);
    block->texts.push_back(items[i].path);
  }
  for (size_t i = 0; i < items.size(); ++i) {
    const wire::RecItemData& d = items[i];
    OctRecItem& it = block->items[i];
    it.name = block->texts[2 * i].c_str();
    it.path = block->texts[2 * i + 1].c_str();
    it.channel = d.channel;
    it.kind = d.kind;
    it.year = d.year;
    it.month = d.month;
    it.day = d.day;
    it.hour = d.hour;
    it.minute = d.minute;
    it.second = d.second;
    it.duration_s = d.duration_s;
    it.size_low = static_cast<uint32_t>(d.size);
    it.size_high = static_cast<uint32_t>(d.size >> 32);
  }
  list->count = static_cast<int32_t>(items.size());
  list->items = block->items.data();
  Put(std::move(block), list->items);
}

bool ResultStore::FreeRecList(OctRecList* list) {
  if (!list || !Erase(list->items)) return false;
  *list = OctRecList{};
  return true;
}

void ResultStore::PutBuffer(std::string_view text, OctBuffer* out) {
  auto block = std::make_unique<Block>();
  block->texts.emplace_back(text);
  out->text = block->texts[0].c_str();
  out->length = static_cast<int32_t>(text.size());
  Put(std::move(block), out->text);
}

bool ResultStore::FreeBuffer(OctBuffer* out) {
  if (!out || !Erase(out->text)) return false;
  *out = OctBuffer{};
  return true;
}

OctOnlineStatus* ResultStore::PutOnline(std::vector<OctOnlineStatus> entries) {
  auto block = std::make_unique<Block>();
  block->online = std::move(entries);
  if (block->online.empty()) block->online.resize(1);
  OctOnlineStatus* p = block->online.data();
  Put(std::move(block), p);
  return p;
}

bool ResultStore::FreeOnline(OctOnlineStatus* status) { return Erase(status); }

size_t ResultStore::Outstanding() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_blocks.size();
}

}  // namespace octc
