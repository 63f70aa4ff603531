// Win32 implementation of the operating-system seam: critical sections,
// manual-reset events, threads with a stack reservation, the tick read
// through the 64-bit counter looked up by name, and Winsock's address text.
#include <winsock2.h>
#include <ws2tcpip.h>
// after the socket headers, which must come before windows.h
#include <iphlpapi.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/os.h"

namespace qcsdk::os {

const char kPathSeparator = '\\';

namespace {

CRITICAL_SECTION& NativeLock(unsigned char* storage) {
  return *std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

// Winsock for the length of one call that needs it: started and cleaned up
// in pairs (Winsock counts them), never while the module unloads.
class WinsockScope {
 public:
  WinsockScope() : m_started(::WSAStartup(MAKEWORD(2, 2), &m_data) == 0) {}
  ~WinsockScope() {
    if (m_started) ::WSACleanup();
  }
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;

 private:
  WSADATA m_data{};
  bool m_started;
};

}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= RecursiveLock::kStorageSize &&
              alignof(CRITICAL_SECTION) <= 16);

RecursiveLock::RecursiveLock() {
  ::InitializeCriticalSection(new (m_storage) CRITICAL_SECTION);
}
RecursiveLock::~RecursiveLock() {
  ::DeleteCriticalSection(&NativeLock(m_storage));
}
void RecursiveLock::lock() {
  ::EnterCriticalSection(&NativeLock(m_storage));
}
void RecursiveLock::unlock() {
  ::LeaveCriticalSection(&NativeLock(m_storage));
}
bool RecursiveLock::try_lock() {
  return ::TryEnterCriticalSection(&NativeLock(m_storage)) != 0;
}

struct ManualResetEvent::Native {
  HANDLE handle;
};

ManualResetEvent::ManualResetEvent()
    : m_native(std::make_unique<Native>(Native{::CreateEventA(nullptr, TRUE, FALSE, nullptr)})) {}

ManualResetEvent::~ManualResetEvent() {
  if (m_native->handle != nullptr) ::CloseHandle(m_native->handle);
}

void ManualResetEvent::Set() {
  ::SetEvent(m_native->handle);
}
void ManualResetEvent::Reset() {
  ::ResetEvent(m_native->handle);
}
bool ManualResetEvent::IsSet() {
  return Wait(0);
}

bool ManualResetEvent::Wait(int64_t timeoutMs) {
  if (m_native->handle == nullptr) return false;
  // Waits longer than INFINITE - 1 are made of several.
  for (;;) {
    const bool forever = timeoutMs < 0;
    const DWORD part =
        forever ? INFINITE : static_cast<DWORD>(std::min<int64_t>(timeoutMs, INFINITE - 1));
    const DWORD result = ::WaitForSingleObject(m_native->handle, part);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_TIMEOUT || forever) return false;
    timeoutMs -= part;
    if (timeoutMs <= 0) return false;
  }
}

struct Thread::Native {
  HANDLE handle;
  unsigned id;
};

namespace {

unsigned __stdcall RunThread(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return 0;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
  // A thread still running is let go: closing the handle does not end it.
  if (m_native) ::CloseHandle(m_native->handle);
}

bool Thread::IsCurrent() const {
  return m_native && m_native->id == ::GetCurrentThreadId();
}

bool Thread::Start(std::function<void()> body, std::size_t stackSize) {
  if (m_native) return false;
  auto start = std::make_unique<std::function<void()>>(std::move(body));
  unsigned id = 0;
  // The C runtime's own thread start, so the body may use the runtime freely.
  const uintptr_t handle =
      ::_beginthreadex(nullptr, static_cast<unsigned>(stackSize), &RunThread, start.get(),
                       stackSize != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, &id);
  if (handle == 0) return false;
  start.release();  // the new thread owns it now
  m_native = std::make_unique<Native>(Native{reinterpret_cast<HANDLE>(handle), id});
  return true;
}

bool Thread::Join(int64_t timeoutMs) {
  if (!m_native) return true;
  if (IsCurrent()) return false;
  const DWORD wait =
      timeoutMs < 0 ? INFINITE : static_cast<DWORD>(std::min<int64_t>(timeoutMs, INFINITE - 1));
  if (::WaitForSingleObject(m_native->handle, wait) != WAIT_OBJECT_0) return false;
  ::CloseHandle(m_native->handle);
  m_native.reset();
  return true;
}

void Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

namespace {

using Tick64Fn = ULONGLONG(WINAPI*)();
using Tick32Fn = DWORD(WINAPI*)();

// The tick source chosen at first use: GetTickCount64 where the system has
// it, else GetTickCount widened, both found by name; both carry the offset.
struct TickSource {
  TickSource() {
    const HMODULE kernel = ::GetModuleHandleA("Kernel32.dll");
    if (kernel == nullptr) return;
    tick64 = reinterpret_cast<Tick64Fn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount64")));
    if (tick64 == nullptr) {
      tick32 = reinterpret_cast<Tick32Fn>(
          reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount")));
    }
  }

  Tick64Fn tick64 = nullptr;
  Tick32Fn tick32 = nullptr;
};

constexpr uint64_t kTickOffset = 0x7000000;

}  // namespace

uint64_t TickCount64() {
  static const TickSource source;
  if (source.tick64 != nullptr) return source.tick64() + kTickOffset;
  if (source.tick32 != nullptr) return static_cast<uint64_t>(source.tick32()) + kTickOffset;
  return ::GetTickCount();
}

LocalTime Now() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::size_t ModuleFileName(char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  char path[260];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, 260);
  // 0 is a failure; 260 a path cut short.
  if (n == 0 || n >= 260 || n >= capacity) return 0;
  std::memcpy(buffer, path, n);
  buffer[n] = '\0';
  return n;
}

bool RemoveFile(const char* path) {
  return path != nullptr && ::DeleteFileA(path) != 0;
}

// Windows refuses to replace a library that a process has loaded; the caller
// then keeps the installed file.
bool RenameOver(const char* from, const char* to) {
  return from != nullptr && to != nullptr &&
         ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

const char* ErrorText(int error, char* buffer, std::size_t size) {
  if (size == 0) return buffer;
  if (::strerror_s(buffer, size, error) != 0) std::snprintf(buffer, size, "error %d", error);
  return buffer;
}

int32_t CRandom::Next() {
  m_state = m_state * 214013u + 2531011u;
  return static_cast<int32_t>((m_state >> 16) & 0x7FFFu);
}

SharedLibrary::~SharedLibrary() {
  Close();
}

bool SharedLibrary::Open(const std::string& path) {
  Close();
  m_handle = ::LoadLibraryA(path.c_str());
  return m_handle != nullptr;
}

void SharedLibrary::Close() {
  if (m_handle != nullptr) {
    ::FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
  }
}

void* SharedLibrary::Symbol(const char* name) const {
  return m_handle != nullptr
             ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name))
             : nullptr;
}

uint32_t InetAddr(const char* text) {
  if (text == nullptr) return 0xFFFFFFFFu;
  const WinsockScope winsock;
  return static_cast<uint32_t>(::inet_addr(text));
}

bool IsDottedIpv4(const char* text) {
  if (text == nullptr) return false;
  const WinsockScope winsock;
  IN_ADDR address{};
  return ::inet_pton(AF_INET, text, &address) == 1;
}

bool AdapterAddress(int32_t card, std::string* dotted) {
  if (card < 1) return false;
  const WinsockScope winsock;
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                           GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  // The list's size is known only after asking; it may grow between calls.
  std::vector<unsigned char> storage(16 * 1024);
  ULONG size = static_cast<ULONG>(storage.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    storage.resize(size);
    result = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
  }
  if (result != NO_ERROR) return false;
  int32_t index = 0;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKADDR* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET || ++index != card) continue;
      char text[INET_ADDRSTRLEN] = {};
      const IN_ADDR& in = reinterpret_cast<const SOCKADDR_IN*>(address)->sin_addr;
      if (::inet_ntop(AF_INET, &in, text, sizeof text) == nullptr) return false;
      *dotted = text;
      return true;
    }
  }
  return false;
}

}  // namespace qcsdk::os
