#include <gtest/gtest.h>
#include <windows.h>
// (windows.h first: tlhelp32.h needs its types.)
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/process_probe.h"

namespace qcsdk::test {

namespace {

// The thread's description (SetThreadDescription), or "" where the system
// has none: the function is looked up, as older systems lack it.
std::wstring Description(DWORD id) {
  using Get = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto get = reinterpret_cast<Get>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadDescription")));
  std::wstring out;
  HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
  PWSTR text = nullptr;
  if (thread != nullptr && get != nullptr && SUCCEEDED(get(thread, &text)) && text != nullptr) {
    out = text;
    LocalFree(text);
  }
  if (thread != nullptr) CloseHandle(thread);
  return out;
}

// GoogleTest's Windows build watches every thread that first touches its
// per-thread state (a trace, a failure) with a thread of its own, which ends
// only with the watched thread: a test's first SCOPED_TRACE adds one thread
// and one handle for good. Touching that state before counting makes the
// watcher part of every count, baselines included.
void StartTestWatcher() {
  SCOPED_TRACE("");
}

}  // namespace

int CurrentThreadId() {
  return static_cast<int>(GetCurrentThreadId());
}

bool WaitsOnLock(int tid) {
  // A thread blocked on a mutex or a condition sits in one of the system's
  // wait calls (objects, keyed events, address waits), each a stub of under
  // 32 bytes in ntdll: its instruction pointer, read while it is suspended.
  HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, DWORD(tid));
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  if (thread == nullptr) return false;
  bool read = false;
  if (SuspendThread(thread) != DWORD(-1)) {
    read = GetThreadContext(thread, &context);
    ResumeThread(thread);
  }
  CloseHandle(thread);
#ifdef _WIN64
  const uintptr_t at = read ? context.Rip : 0;
#else
  const uintptr_t at = read ? context.Eip : 0;
#endif
  for (const char* wait : {"NtWaitForSingleObject", "NtWaitForMultipleObjects",
                           "NtWaitForKeyedEvent", "NtWaitForAlertByThreadId"}) {
    const auto stub =
        reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA("ntdll.dll"), wait));
    if (stub != 0 && at >= stub && at < stub + 32) return true;
  }
  return false;
}

std::size_t CurrentThreadStackSize() {
  // Looked up: systems before Windows 8 lack it.
  using Get = void(WINAPI*)(PULONG_PTR, PULONG_PTR);
  static const auto get = reinterpret_cast<Get>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCurrentThreadStackLimits")));
  ULONG_PTR low = 0, high = 0;
  if (get != nullptr) get(&low, &high);
  return high - low;
}

int ThreadCount(const char* name) {
  StartTestWatcher();
  const std::wstring wanted = name == nullptr ? L"" : std::wstring(name, name + strlen(name));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    n += name == nullptr || Description(entry.th32ThreadID) == wanted ? 1 : 0;
  }
  CloseHandle(snapshot);
  return n;
}

int HandleCount() {
  StartTestWatcher();
  DWORD n = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &n) ? static_cast<int>(n) : -1;
}

}  // namespace qcsdk::test
