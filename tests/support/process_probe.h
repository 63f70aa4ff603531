// What a test can see of its own process.
#pragma once

namespace qcsdk::test {

// Threads of this process now (from /proc/self/task), or only those named
// `name`.
int ThreadCount(const char* name = nullptr);
// Descriptors this process has open now (from /proc/self/fd).
int DescriptorCount();

}  // namespace qcsdk::test
