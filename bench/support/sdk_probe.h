// What the end-to-end benchmarks see of the SDK: the SDK initialised for the
// scope of one benchmark, with callbacks that count raw frames and bytes (in
// all and per channel), note which channels have connected, and pass raw
// frames to an optional hook. Also the process's own resource use.
#pragma once

#include <qcsdk/qcsdk.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

namespace qcsdk::bench {

constexpr int kMaxChannels = 512;

struct SdkCounters {
  std::atomic<uint64_t> frames{0};  // every raw frame, audio included
  std::atomic<uint64_t> video_frames{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<int> connected{0};     // channels that reported event 1
  std::atomic<int> failed{0};        // channels that reported events 2..6
  std::atomic<int> lost{0};          // channels that reported events 8 or 9
  std::atomic<int> disconnected{0};  // channels that reported event 7
  std::array<std::atomic<uint64_t>, kMaxChannels> channel_video_frames{};
};

class SdkProbe {
 public:
  // Registers the callbacks and initialises the SDK.
  SdkProbe();
  // Releases the SDK and registers null callbacks.
  ~SdkProbe();
  SdkProbe(const SdkProbe&) = delete;
  SdkProbe& operator=(const SdkProbe&) = delete;

  bool ok() const { return ok_; }
  SdkCounters& counters();
  // Called for every raw frame on the SDK's reporting thread; set it before
  // connecting.
  void SetRawHook(std::function<void(const RawFrame&)> hook);
  // Waits until `count` channels have connected; false after `ms`.
  bool WaitConnected(int count, int ms) const;

 private:
  bool ok_ = false;
};

// Resident set size of this process, in bytes.
uint64_t ResidentBytes();
// User plus system CPU time this process has used, in seconds.
double ProcessCpuSeconds();
// Threads of this process now.
int ThreadCount();
// File descriptors this process has open now.
int OpenDescriptors();

}  // namespace qcsdk::bench
