// Operating-system seam: the few services the SDK needs from the platform.
// One POSIX implementation today; Win32 specifics stay behind this header.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qcsdk::os {

// Re-entrant lock: the owning thread may take it again. Meets the standard
// Lockable requirements, so std::lock_guard / std::unique_lock work on it.
class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }
  bool try_lock() { return m_mutex.try_lock(); }

 private:
  std::recursive_mutex m_mutex;
};

// Manual-reset event: stays signalled until Reset.
class ManualResetEvent {
 public:
  void Set();
  void Reset();
  // Waits up to timeoutMs (negative: forever); true when signalled.
  bool Wait(int64_t timeoutMs);
  bool IsSet();

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_signalled = false;
};

// A joinable thread with a timed join, as the worker shutdowns need.
class Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts body on a new thread whose stack is stackSize bytes (0: the
  // platform's default). False when no thread could be started.
  bool Start(std::function<void()> body, std::size_t stackSize = 0);
  // Waits up to timeoutMs (negative: forever) for the body to finish; true
  // when it did. A thread that did not finish is detached by the destructor.
  bool Join(int64_t timeoutMs);
  bool Running() const { return m_native != nullptr; }
  bool IsCurrent() const;

 private:
  struct Native;  // the platform's thread handle
  std::unique_ptr<Native> m_native;
  std::shared_ptr<ManualResetEvent> m_done;
};

void Sleep(uint32_t milliseconds);

// 64-bit monotonic millisecond tick.
uint64_t TickCount64();

struct LocalTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int millisecond;
};
LocalTime Now();

// Full path of the host executable into buffer (capacity bytes, including the
// terminator). Returns the length written, or 0 on failure (buffer untouched).
std::size_t ModuleFileName(char* buffer, std::size_t capacity);

bool DeleteFile(const char* path);
// Puts the file `from` in the place of `to` in one step, replacing it: whoever
// has the old `to` open or mapped keeps its old contents. False when it
// failed; `from` then stays where it was.
bool ReplaceFile(const char* from, const char* to);

// Separator of directory and file name in paths the SDK builds.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Run-time loading of a shared library.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_handle != nullptr; }
  void* Symbol(const char* name) const;

 private:
  void* m_handle = nullptr;
};

// Dotted IPv4 text to a 32-bit address in network order; 0xFFFFFFFF for text
// that is not an address (as inet_addr answers).
uint32_t InetAddr(const char* text);
// Whether text is exactly a dotted IPv4 address: four decimal numbers of
// 0..255 joined by dots, nothing before or after.
bool IsDottedIpv4(const char* text);
// The dotted address of network adapter `card`, counted as the Nxl transport
// counts them: 1 is the first IPv4 address of the interfaces that are up, in
// the system's order, loopback included. False when there is no such card.
bool AdapterAddress(int32_t card, std::string* dotted);

}  // namespace qcsdk::os
