// Levelled diagnostics log. A call names a module (0..31), a level (0..6),
// the source file and line and a printf-style message; the line goes to
// every configured sink whose threshold the level reaches. Until configured
// otherwise there is one sink: standard output, every level.
#pragma once

#include <qcsdk/qcsdk.h>

#include <atomic>
#include <cstdint>

namespace qcsdk::log {

enum Level : int32_t {
  kAll = 0,
  kDebug = 1,
  kInfo = 2,
  kNotify = 3,
  kWarning = 4,
  kError = 5,
  kNone = 6,
};

constexpr int kModules = 32;
constexpr int kMaxSinks = 16;
// Lines are built in a buffer of this size; longer messages are cut.
constexpr int kLineCapacity = 4096;

enum SinkKind : int32_t { kStdout = 0, kDailyFile = 1, kFunction = 2 };

using SinkFunction = void (*)(int32_t module, int32_t level, const char* line);

struct Sink {
  int32_t kind;
  char directory[1024];
  SinkFunction function;
  int32_t levels[kModules];
  int32_t levelCount;
};

// Replaces the sink table (at most kMaxSinks) and recomputes the global
// minimum per module. The SDK itself never calls it: it keeps the initial
// standard-output sink. Returns false for a count out of range.
bool Configure(const Sink* sinks, int count);

// Whether a message of this module and level would be formatted at all.
bool Passes(int32_t module, int32_t level);

// The host's own destination for the lines of the standard-output sink:
// level, source ("file(line)") and the message without time stamp or line
// feed. While one is set, those lines reach it instead of standard output;
// null restores standard output. Lines are handed over one at a time under
// the log's lock, and setting takes that lock too, so after SetHostSink
// returns the previous function is never called again.
using HostSink = QCSDK_LogCallback;
void SetHostSink(HostSink function, void* user);

// Hands one line to the host's destination; false when none is set (the
// caller then prints it itself).
bool ToHost(int32_t level, const char* source, const char* text);

void Write(int32_t module, int32_t level, const char* file, int32_t line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

}  // namespace qcsdk::log

// The SDK logs everything under module 0; `file` is the source name printed
// in the line.
#define QC_LOG(level, file, ...)                                      \
  do {                                                                \
    if (::qcsdk::log::Passes(0, (level)))                             \
      ::qcsdk::log::Write(0, (level), (file), __LINE__, __VA_ARGS__); \
  } while (0)
