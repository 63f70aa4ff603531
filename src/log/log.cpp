#include "log/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/os.h"

namespace qcsdk::log {
namespace {

constexpr const char* kLevelNames[] = {"all",     "debug", "info", "notify",
                                       "warning", "error", "none"};

struct State {
  std::atomic<int> callers{0};
  std::atomic<bool> ready{false};
  std::atomic<int32_t> minimum[kModules];
  Sink sinks[kMaxSinks];
  int sinkCount = 0;
  os::RecursiveLock* lock = nullptr;  // lives until the process ends
  HostSink host = nullptr;            // guarded by lock
  void* hostUser = nullptr;
};

State g_state;

int32_t Threshold(const Sink& sink, int32_t module) {
  if (module < sink.levelCount) return sink.levels[module];
  if (sink.levelCount > 0) return sink.levels[0];
  return kNone;
}

void ComputeMinimum() {
  for (int32_t module = 0; module < kModules; ++module) {
    int32_t lowest = kNone;
    for (int i = 0; i < g_state.sinkCount; ++i) {
      lowest = std::min(lowest, Threshold(g_state.sinks[i], module));
    }
    g_state.minimum[module].store(lowest, std::memory_order_relaxed);
  }
}

// The first caller sets the logger up; callers arriving meanwhile wait 1 ms
// at a time until it is ready.
void SetUp() {
  if (g_state.ready.load(std::memory_order_acquire)) return;
  if (g_state.callers.fetch_add(1) == 0) {
    std::memset(g_state.sinks, 0, sizeof g_state.sinks);
    g_state.lock = new os::RecursiveLock;  // never freed: threads may log during exit
    Sink& initial = g_state.sinks[0];
    initial.kind = kStdout;
    initial.levelCount = 1;
    initial.levels[0] = kAll;
    g_state.sinkCount = 1;
    ComputeMinimum();
    g_state.ready.store(true, std::memory_order_release);
    return;
  }
  while (!g_state.ready.load(std::memory_order_acquire)) os::Sleep(1);
}

const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

void WriteDaily(const Sink& sink, const char* line) {
  os::LocalTime now = os::Now();
  char path[sizeof sink.directory + 32];
  std::snprintf(path, sizeof path, "%s/%4.4d-%2.2d-%2.2d.txt", sink.directory, now.year, now.month,
                now.day);
  std::FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  std::fputs(line, file);
  std::fclose(file);
}

}  // namespace

void SetHostSink(HostSink function, void* user) {
  SetUp();
  std::lock_guard<os::RecursiveLock> guard(*g_state.lock);
  g_state.host = function;
  g_state.hostUser = user;
}

bool ToHost(int32_t level, const char* source, const char* text) {
  SetUp();
  std::lock_guard<os::RecursiveLock> guard(*g_state.lock);
  if (g_state.host == nullptr) return false;
  g_state.host(level, source, text, g_state.hostUser);
  return true;
}

bool Configure(const Sink* sinks, int count) {
  if (count < 0 || count > kMaxSinks || (count > 0 && sinks == nullptr)) return false;
  SetUp();
  std::lock_guard<os::RecursiveLock> guard(*g_state.lock);
  for (int i = 0; i < count; ++i) g_state.sinks[i] = sinks[i];
  g_state.sinkCount = count;
  ComputeMinimum();
  return true;
}

bool Passes(int32_t module, int32_t level) {
  if (static_cast<uint32_t>(module) >= kModules || static_cast<uint32_t>(level) > kNone)
    return false;
  if (!g_state.ready.load(std::memory_order_acquire)) SetUp();
  return level >= g_state.minimum[module].load(std::memory_order_relaxed);
}

void Write(int32_t module, int32_t level, const char* file, int32_t line, const char* format, ...) {
  if (!Passes(module, level) || format == nullptr) return;
  char text[kLineCapacity];
  os::LocalTime now = os::Now();
  const char* source = BaseName(file != nullptr ? file : "");
  int head =
      std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d.%3.3d %s: %s(%d): ", now.hour, now.minute,
                    now.second, now.millisecond, kLevelNames[level], source, line);
  if (head < 0) return;
  // Room for the line feed and the terminator: a long message is cut, never overrun.
  constexpr std::size_t kMaxText = sizeof text - 2;
  std::size_t used = std::min(static_cast<std::size_t>(head), kMaxText);
  if (used < kMaxText) {
    va_list args;
    va_start(args, format);
    int body = std::vsnprintf(text + used, kMaxText - used + 1, format, args);
    va_end(args);
    if (body > 0) used += std::min(static_cast<std::size_t>(body), kMaxText - used);
  }
  const std::size_t start = std::min(static_cast<std::size_t>(head), kMaxText);  // the message
  text[used] = '\n';
  text[used + 1] = '\0';

  std::lock_guard<os::RecursiveLock> guard(*g_state.lock);
  for (int i = 0; i < g_state.sinkCount; ++i) {
    const Sink& sink = g_state.sinks[i];
    if (level < Threshold(sink, module)) continue;
    switch (sink.kind) {
      case kStdout:
        if (g_state.host != nullptr) {
          char where[256];
          std::snprintf(where, sizeof where, "%s(%d)", source, line);
          text[used] = '\0';  // the host gets the message without its line feed
          g_state.host(level, where, text + start, g_state.hostUser);
          text[used] = '\n';
        } else {
          std::printf("%s", text);
          std::fflush(stdout);
        }
        break;
      case kDailyFile: WriteDaily(sink, text); break;
      case kFunction:
        if (sink.function != nullptr) sink.function(module, level, text);
        break;
      default: break;
    }
  }
}

}  // namespace qcsdk::log
