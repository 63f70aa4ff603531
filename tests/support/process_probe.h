// What a test can see of its own process.
#pragma once

namespace qcsdk::test {

// Threads of this process now (from /proc/self/task).
int ThreadCount();

}  // namespace qcsdk::test
