// Operating-system seam: the few services the SDK needs from the platform.
// One implementation per platform (os_posix.cpp, os_win32.cpp) behind this
// header, which includes no system header: what a platform keeps inside an
// object lives in storage or a structure that only its implementation knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>  // std::lock_guard / std::unique_lock over RecursiveLock
#include <string>

namespace qcsdk::os {

// Re-entrant lock: the owning thread may take it again. Meets the standard
// Lockable requirements, so std::lock_guard / std::unique_lock work on it.
// The platform's lock lives inside the object, with no allocation of its
// own, so a lock with static storage is ready before anything runs.
class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock();
  void unlock();
  bool try_lock();

  // Room for the platform's lock object (each implementation checks it fits).
  static constexpr std::size_t kStorageSize = 64;

 private:
  alignas(16) unsigned char m_storage[kStorageSize];
};

// Manual-reset event: stays signalled until Reset; starts unsignalled.
class ManualResetEvent {
 public:
  ManualResetEvent();
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  // Waits up to timeoutMs (negative: forever); true when signalled.
  bool Wait(int64_t timeoutMs);
  bool IsSet();

 private:
  struct Native;  // the platform's event
  std::unique_ptr<Native> m_native;
};

// A joinable thread with a timed join, as the worker shutdowns need.
class Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts body on a new thread that reserves stackSize bytes of stack (0:
  // the platform's default). False when no thread could be started.
  bool Start(std::function<void()> body, std::size_t stackSize = 0);
  // Waits up to timeoutMs (negative: forever) for the body to finish; true
  // when it did. A thread that did not finish is detached by the destructor.
  bool Join(int64_t timeoutMs);
  bool Running() const { return m_native != nullptr; }
  bool IsCurrent() const;

 private:
  struct Native;  // the platform's thread handle
  std::unique_ptr<Native> m_native;
};

void Sleep(uint32_t milliseconds);

// 64-bit monotonic millisecond tick. Its origin is arbitrary and carries a
// fixed offset of 0x7000000 ms wherever the platform's 64-bit counter is
// read (only the last-resort 32-bit tick of an old Windows goes without), so
// only differences between two readings mean anything.
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

// Deletes the file at path; false when it could not be deleted.
bool RemoveFile(const char* path);
// Puts the file `from` in the place of `to` in one step, replacing it: whoever
// has the old `to` open or mapped keeps its old contents. False when it
// failed; `from` then stays where it was.
bool RenameOver(const char* from, const char* to);

// Separator of directory and file name in paths the SDK builds.
extern const char kPathSeparator;

// The text of a C runtime error number (errno) into buffer; returns buffer,
// which always ends up terminated.
const char* ErrorText(int error, char* buffer, std::size_t size);

// A generator in the manner of the C runtime's rand() after srand(seed), but
// the caller's own: the runtime's shared one belongs to the host. On Windows
// it gives the runtime's very sequence.
class CRandom {
 public:
  explicit CRandom(uint32_t seed) : m_state(seed) {}
  // The next value, from 0 to the runtime's RAND_MAX.
  int32_t Next();

 private:
  uint32_t m_state;
};

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
