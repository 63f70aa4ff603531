// What a test can see of its own process.
#pragma once

#include <cstddef>

namespace qcsdk::test {

// Threads of this process now, or only those named `name` (the thread's
// name on Linux, its description on Windows).
int ThreadCount(const char* name = nullptr);
// The calling thread's id, as WaitsOnLock takes it.
int CurrentThreadId();
// Whether thread `tid` of this process waits in the kernel on a lock.
bool WaitsOnLock(int tid);
// The bytes of stack the calling thread reserved.
std::size_t CurrentThreadStackSize();

// Descriptors (Linux) or handles (Windows) this process holds open now.
int HandleCount();

}  // namespace qcsdk::test
