// LAN search service.
#include "search_service.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "discovery.h"
#include "netio/address.h"
#include "search_result.h"

namespace qvc {

static_assert(sizeof(QVC_SearchResult) == 692, "the search result is 692 bytes");

namespace {

std::atomic<uint32_t> g_next_search_id{
    static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())};

}  // namespace

void SearchService::EnableCache(bool enable) {
  std::lock_guard lock(mu_);
  cache_ = enable;
}

bool SearchService::Search(int32_t timeout_ms, int32_t max_answers) {
  std::shared_ptr<SearchState> state;
  bool cache = false;
  {
    std::lock_guard lock(mu_);
    state = state_;
    cache = cache_;
  }
  if (!state || timeout_ms <= 0 || max_answers <= 0) return false;
  uint32_t id = g_next_search_id.fetch_add(1);
  {
    std::lock_guard lock(state->mu);
    if (state->searching) return false;
    state->searching = true;
    state->search_id = id;
    state->deadline = netio::Clock::now() + std::chrono::milliseconds(timeout_ms);
    state->max_answers = max_answers;
    state->delivered = 0;
    state->cache = cache;
    state->seen.clear();
  }
  if (!state->session.SendToTarget(wire::EncodeSearchProbe(id))) {
    std::lock_guard lock(state->mu);
    state->searching = false;
    return false;
  }
  state->session.wake.Signal();
  return true;
}

void SearchService::Run(const std::shared_ptr<SearchState>& state) {
  std::vector<uint8_t> buffer(2048);
  auto deliver = [&](const QVC_SearchResult& result) {
    if (state->callback && library_.active() && !state->session.stop.load()) {
      state->callback(result);
    }
  };
  for (;;) {
    netio::Clock::time_point deadline;
    {
      std::lock_guard lock(state->mu);
      deadline =
          state->searching ? state->deadline : netio::Clock::now() + std::chrono::seconds(3600);
    }
    if (!state->session.Wait(deadline)) return;
    size_t size = 0;
    uint32_t source = 0;
    while (state->session.Receive(&buffer, &size, &source)) {
      uint32_t id = 0;
      wire::SearchAnswer answer;
      if (!wire::DecodeSearchAnswer(buffer.data(), size, &id, &answer)) continue;
      {
        std::lock_guard lock(state->mu);
        if (!state->searching || id != state->search_id) continue;
        if (state->delivered >= state->max_answers) continue;
        if (state->cache && !state->seen.emplace(answer.group, answer.number).second) continue;
        ++state->delivered;
      }
      deliver(wire::ToSearchResult(answer, source));
      if (state->session.stop.load()) return;
    }
    bool ended = false;
    {
      std::lock_guard lock(state->mu);
      if (state->searching && netio::Clock::now() >= state->deadline) {
        state->searching = false;
        ended = true;
      }
    }
    if (ended) {
      QVC_SearchResult end{};
      end.endOfSearch = 1;
      deliver(end);
    }
  }
}

}  // namespace qvc
