// The machine's own limit for the wake path, measured in the same run as the
// SDK: a minimal epoll loop of ours, no SDK and no transport library, over
// loopback TCP connections carrying the same frame sizes at the same rates.
// It reads what a socket holds, walks the length-prefixed frames there and
// calls a function for each; every figure of the SDK is then given as a
// ratio to it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace nxl_e2e {

// One end writes, the other reads.
struct Pair {
  int writer = -1;
  int reader = -1;
};

// Connected loopback TCP pairs, both ends without Nagle as the transport's
// are; fewer than asked when the system runs out.
std::vector<Pair> MakePairs(int count);
void ClosePairs(const std::vector<Pair>& pairs);

// Sends `count` frames, cycling through `frames`, one every `interval` on
// one connection; answers the nanoseconds from just before each send to the
// loop's call for that frame (-1 for a frame not seen).
std::vector<int64_t> AnchorLatencies(const std::vector<std::vector<uint8_t>>& frames, int count,
                                     std::chrono::nanoseconds interval);

// `connections` connections, each sent one frame of `frame_bytes` per
// `period`, by `groups` senders (one per device) that each serve every
// groups-th connection: with `spread` off a sender's frames go together at
// its own point of the period (devices serving many channels), with it on
// they are spread evenly over the period. Answers the CPU time the reading
// loop used over `window`, in percent of one core.
double AnchorCpuPercent(int connections, int groups, size_t frame_bytes,
                        std::chrono::microseconds period, bool spread,
                        std::chrono::milliseconds window);

// The value at quantile q of the latencies seen, in microseconds.
double QuantileMicros(std::vector<int64_t> latency_ns, double q);

}  // namespace nxl_e2e
