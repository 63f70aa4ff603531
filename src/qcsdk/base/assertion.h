// The runtime assertion: a violated state check is reported with its
// condition text and processing continues.
#pragma once

namespace qcsdk {

// Reports a failed check through the log at warning level, naming `file`
// (the source name, such as "channel") and the line.
void AssertFailed(const char* condition, const char* file, int line);

// Observer of failed checks (tests); null removes it.
using AssertObserver = void (*)(const char* condition, const char* file, int line);
void SetAssertObserver(AssertObserver observer);

}  // namespace qcsdk

#define QC_ASSERT(condition, file)                                         \
  do {                                                                     \
    if (!(condition)) ::qcsdk::AssertFailed(#condition, (file), __LINE__); \
  } while (0)
