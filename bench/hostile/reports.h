// What the SDK reports to the hostile bench: every connect is given a Link
// of its own as its user pointer, so that each report lands on the link it
// belongs to; a link that ends twice, reports event 1 twice or after its end
// is a finding. Totals per transport and the findings of the run are kept
// here too.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace hostile {

// Milliseconds of a monotonic clock.
int64_t NowMs();

// One connect of a channel and what it reported.
struct Link {
  Link(int transport_, int seed_) : transport(transport_), seed(seed_) {}
  const int transport;            // QCSDK_TRANSPORT_*
  const int seed;                 // of its device; 0 for a normal device
  std::atomic<int> connected{0};  // events 1
  std::atomic<int> ended{0};      // events 2 to 9
  std::atomic<int> lists{0};      // events 10 and 11
  std::atomic<int> download_ends{0};
  std::atomic<uint64_t> frames{0};    // raw frames
  std::atomic<uint64_t> pictures{0};  // decoded pictures
  // Normal links only: when the last frame came, the longest time between two.
  std::atomic<int64_t> last_frame_ms{0}, longest_gap_ms{0};
};

// Totals of the hostile links of one transport.
struct TransportTally {
  std::array<std::atomic<uint64_t>, 10> ended{};  // links ended, by event 2 to 9
  std::atomic<uint64_t> frames{0}, pictures{0}, lists{0}, downloads{0}, talk{0};
  uint64_t links_ended() const;
};

class Reports {
 public:
  // Registers the bench's callbacks with the SDK (before QCSDK_InitSDK).
  static void Register();
  // Registers null callbacks.
  static void Unregister();

  static TransportTally& tally(int transport) { return tallies_[transport == 1 ? 1 : 0]; }
  static uint64_t user_data() { return user_data_; }

  // A finding: printed at once on standard error and kept for the summary.
  static void Finding(const std::string& text);
  static std::vector<std::string> Findings();

 private:
  friend struct Thunks;
  static std::array<TransportTally, 2> tallies_;
  static std::atomic<uint64_t> user_data_;
  static std::mutex mutex_;
  static std::vector<std::string> findings_;
};

}  // namespace hostile
