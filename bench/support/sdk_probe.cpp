#include "sdk_probe.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace qcsdk::bench {
namespace {

SdkCounters g_counters;
std::function<void(const RawFrame&)> g_hook;

void OnEvent(int32_t, int32_t event, const char*, int32_t, void*) {
  if (event == QCSDK_EVENT_CONNECTED) ++g_counters.connected;
  if (event >= 2 && event <= 6) ++g_counters.failed;
  if (event == QCSDK_EVENT_LINK_LOST || event == QCSDK_EVENT_REMOTE_CLOSED) ++g_counters.lost;
  if (event == QCSDK_EVENT_DISCONNECTED) ++g_counters.disconnected;
}

void OnRaw(int32_t channel, const RawFrame* frame, void*) {
  g_counters.frames.fetch_add(1, std::memory_order_relaxed);
  g_counters.bytes.fetch_add(static_cast<uint64_t>(frame->length), std::memory_order_relaxed);
  if (frame->type != QCSDK_FRAME_AUDIO) {
    g_counters.video_frames.fetch_add(1, std::memory_order_relaxed);
    if (channel >= 0 && channel < kMaxChannels) {
      g_counters.channel_video_frames[static_cast<size_t>(channel)].fetch_add(
          1, std::memory_order_relaxed);
    }
  }
  if (g_hook) g_hook(*frame);
}

}  // namespace

SdkProbe::SdkProbe() {
  g_counters.frames = 0;
  g_counters.video_frames = 0;
  g_counters.bytes = 0;
  g_counters.connected = 0;
  g_counters.failed = 0;
  g_counters.lost = 0;
  g_counters.disconnected = 0;
  for (auto& n : g_counters.channel_video_frames) n = 0;
  QCSDK_RegisterCallback(&OnEvent, &OnRaw, nullptr, nullptr, nullptr);
  ok_ = QCSDK_InitSDK(0, nullptr) == 1;
}

SdkProbe::~SdkProbe() {
  QCSDK_ReleaseSDK();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  g_hook = nullptr;
}

SdkCounters& SdkProbe::counters() {
  return g_counters;
}

void SdkProbe::SetRawHook(std::function<void(const RawFrame&)> hook) {
  g_hook = std::move(hook);
}

bool SdkProbe::WaitConnected(int count, int ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (g_counters.connected < count) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

uint64_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  return n == 2 ? resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) : 0;
}

double ProcessCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int ThreadCount() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  int threads = 0;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "Threads: %d", &threads) == 1) break;
  }
  std::fclose(f);
  return threads;
}

int OpenDescriptors() {
  std::error_code error;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count - 1;  // the iterator's own descriptor
}

}  // namespace qcsdk::bench
