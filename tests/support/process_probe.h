// What a test can see of its own process.
#pragma once

namespace qcsdk::test {

// Threads of this process now, or only those named `name` (the thread's
// name on Linux, its description on Windows).
int ThreadCount(const char* name = nullptr);
// Whether thread `tid` of this process waits in the kernel on a lock.
bool WaitsOnLock(int tid);

// Descriptors (Linux) or handles (Windows) this process holds open now.
int HandleCount();

}  // namespace qcsdk::test
