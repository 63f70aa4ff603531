#include "discovery/discovery_sinks.h"

#include <atomic>

namespace qcsdk::test {
namespace {

std::atomic<SearchSink*> g_search{nullptr};
std::atomic<OkipSink*> g_okip{nullptr};

void SearchThunk(const QCSDK_SearchResult* record) {
  if (SearchSink* sink = g_search.load()) sink->Add(record);
}

void OkipThunk(const QCSDK_OkipResult* record) {
  if (OkipSink* sink = g_okip.load()) sink->Add(record);
}

}  // namespace

SearchSink::SearchSink() {
  g_search.store(this);
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, &SearchThunk);
}

SearchSink::~SearchSink() {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  g_search.store(nullptr);
}

std::vector<std::string> SearchSink::Numbers() const {
  std::vector<std::string> numbers;
  for (const QCSDK_SearchResult& r : Records()) numbers.emplace_back(r.deviceNumber);
  return numbers;
}

OkipSink::OkipSink() {
  g_okip.store(this);
}

OkipSink::~OkipSink() {
  g_okip.store(nullptr);
}

OkipCallback OkipSink::Callback() {
  return &OkipThunk;
}

}  // namespace qcsdk::test
