#include "reports.h"

#include <qcsdk/qcsdk.h>

#include <chrono>
#include <cstdio>

namespace hostile {

std::array<TransportTally, 2> Reports::tallies_;
std::atomic<uint64_t> Reports::user_data_{0};
std::mutex Reports::mutex_;
std::vector<std::string> Reports::findings_;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint64_t TransportTally::links_ended() const {
  uint64_t n = 0;
  for (const auto& e : ended) n += e;
  return n;
}

struct Thunks {
  // The totals a link counts in: those of its transport, for hostile links.
  static TransportTally* TallyOf(const Link& link) {
    return link.seed > 0 ? &Reports::tally(link.transport) : nullptr;
  }

  static void Event(int32_t channel, int32_t event, const char*, int32_t, void* user) {
    auto* link = static_cast<Link*>(user);
    if (link == nullptr) return;
    const std::string where = "channel " + std::to_string(channel) + " (seed " +
                              std::to_string(link->seed) +
                              (link->transport == QCSDK_TRANSPORT_OCT ? " OCT)" : " Nxl)");
    if (event == QCSDK_EVENT_CONNECTED) {
      if (link->connected++ > 0) Reports::Finding(where + ": event 1 twice on one link");
      if (link->ended > 0) Reports::Finding(where + ": event 1 after the link's end");
    } else if (event >= QCSDK_EVENT_AUTH_FAILED && event <= QCSDK_EVENT_REMOTE_CLOSED) {
      if (link->ended++ > 0) {
        Reports::Finding(where + ": a second end (event " + std::to_string(event) + ")");
      } else if (TransportTally* tally = TallyOf(*link)) {
        ++tally->ended[static_cast<size_t>(event)];
      }
    } else if (event == QCSDK_EVENT_REC_LIST || event == QCSDK_EVENT_REC_LIST_FAILED) {
      ++link->lists;
      if (TransportTally* tally = TallyOf(*link)) ++tally->lists;
    }
  }

  static void Raw(int32_t, const RawFrame*, void* user) {
    auto* link = static_cast<Link*>(user);
    if (link == nullptr) return;
    link->frames.fetch_add(1, std::memory_order_relaxed);
    if (link->seed == 0) {
      const int64_t now = NowMs(), last = link->last_frame_ms.exchange(now);
      if (last != 0 && now - last > link->longest_gap_ms) link->longest_gap_ms = now - last;
    }
    if (TransportTally* tally = TallyOf(*link))
      tally->frames.fetch_add(1, std::memory_order_relaxed);
  }

  static void Decoded(int32_t, const DecodedFrame*, void* user) {
    auto* link = static_cast<Link*>(user);
    if (link == nullptr) return;
    link->pictures.fetch_add(1, std::memory_order_relaxed);
    if (TransportTally* tally = TallyOf(*link)) {
      tally->pictures.fetch_add(1, std::memory_order_relaxed);
    }
  }

  static void Download(int32_t, int32_t code, int32_t, int32_t, void* user) {
    auto* link = static_cast<Link*>(user);
    if (link == nullptr || code == QCSDK_DOWNLOAD_PROGRESS) return;
    ++link->download_ends;
    if (TransportTally* tally = TallyOf(*link)) ++tally->downloads;
  }

  static void Talk(int32_t, int32_t, int32_t, const uint8_t*, int32_t, void* user) {
    auto* link = static_cast<Link*>(user);
    if (TransportTally* tally = link ? TallyOf(*link) : nullptr) ++tally->talk;
  }

  static void UserData(int32_t, const uint8_t*, int32_t) { ++Reports::user_data_; }
};

void Reports::Register() {
  QCSDK_RegisterCallback(&Thunks::Event, &Thunks::Raw, &Thunks::Download, &Thunks::Decoded,
                         nullptr);
  QCSDK_RegisterTalkCallback(&Thunks::Talk);
  QCSDK_RegisterUserDataCallback(&Thunks::UserData);
}

void Reports::Unregister() {
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  QCSDK_RegisterTalkCallback(nullptr);
  QCSDK_RegisterUserDataCallback(nullptr);
}

void Reports::Finding(const std::string& text) {
  std::fprintf(stderr, "hostile_bench: FINDING: %s\n", text.c_str());
  std::lock_guard lock(mutex_);
  findings_.push_back(text);
}

std::vector<std::string> Reports::Findings() {
  std::lock_guard lock(mutex_);
  return findings_;
}

}  // namespace hostile
