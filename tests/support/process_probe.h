// What a test can see of its own process.
#pragma once

namespace qcsdk::test {

// Threads of this process now (from /proc/self/task), or only those named
// `name`.
int ThreadCount(const char* name = nullptr);
// Whether thread `tid` of this process waits in the kernel on a lock.
bool WaitsOnLock(int tid);

}  // namespace qcsdk::test
