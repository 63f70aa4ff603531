// POSIX implementation of the operating-system seam.
#include "platform/os.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace qcsdk::os {

const char kPathSeparator = '/';

namespace {

std::recursive_mutex& NativeLock(unsigned char* storage) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(storage));
}

}  // namespace

static_assert(sizeof(std::recursive_mutex) <= RecursiveLock::kStorageSize &&
              alignof(std::recursive_mutex) <= 16);

RecursiveLock::RecursiveLock() {
  new (m_storage) std::recursive_mutex;
}
RecursiveLock::~RecursiveLock() {
  NativeLock(m_storage).~recursive_mutex();
}
void RecursiveLock::lock() {
  NativeLock(m_storage).lock();
}
void RecursiveLock::unlock() {
  NativeLock(m_storage).unlock();
}
bool RecursiveLock::try_lock() {
  return NativeLock(m_storage).try_lock();
}

struct ManualResetEvent::Native {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
};

ManualResetEvent::ManualResetEvent() : m_native(std::make_unique<Native>()) {}
ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> guard(m_native->mutex);
    m_native->signalled = true;
  }
  m_native->cv.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> guard(m_native->mutex);
  m_native->signalled = false;
}

bool ManualResetEvent::IsSet() {
  std::lock_guard<std::mutex> guard(m_native->mutex);
  return m_native->signalled;
}

bool ManualResetEvent::Wait(int64_t timeoutMs) {
  Native& n = *m_native;
  std::unique_lock<std::mutex> guard(n.mutex);
  if (timeoutMs < 0) {
    n.cv.wait(guard, [&n] { return n.signalled; });
    return true;
  }
  return n.cv.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&n] { return n.signalled; });
}

struct Thread::Native {
  pthread_t id;
  std::shared_ptr<ManualResetEvent> done;  // set when the body has returned
};

namespace {

// What a new thread runs; the thread owns it.
struct ThreadStart {
  std::function<void()> body;
  std::shared_ptr<ManualResetEvent> done;
};

void* RunThread(void* arg) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
  start->body();
  start->done->Set();
  return nullptr;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
  if (!m_native) return;
  if (IsCurrent() || !m_native->done->IsSet()) {
    pthread_detach(m_native->id);
  } else {
    pthread_join(m_native->id, nullptr);
  }
}

bool Thread::IsCurrent() const {
  return m_native && pthread_equal(m_native->id, pthread_self()) != 0;
}

bool Thread::Start(std::function<void()> body, std::size_t stackSize) {
  if (m_native) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  auto done = std::make_shared<ManualResetEvent>();
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body), done});
  pthread_t id{};
  const bool started = (stackSize == 0 || pthread_attr_setstacksize(&attr, stackSize) == 0) &&
                       pthread_create(&id, &attr, &RunThread, start.get()) == 0;
  pthread_attr_destroy(&attr);
  if (!started) return false;
  start.release();  // the new thread owns it now
  m_native = std::make_unique<Native>(Native{id, std::move(done)});
  return true;
}

bool Thread::Join(int64_t timeoutMs) {
  if (!m_native) return true;
  if (IsCurrent()) return false;
  if (!m_native->done->Wait(timeoutMs)) return false;
  pthread_join(m_native->id, nullptr);
  m_native.reset();
  return true;
}

void Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t TickCount64() {
  // The tick is read through the looked-up 64-bit counter of the Windows
  // build, which carries a fixed offset; keep the same origin everywhere.
  constexpr uint64_t kOffset = 0x7000000;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u +
         kOffset;
}

LocalTime Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm parts{};
  time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   static_cast<int>(tv.tv_usec / 1000)};
}

std::size_t ModuleFileName(char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0 || static_cast<std::size_t>(n) >= capacity) return 0;
  std::memcpy(buffer, path, static_cast<std::size_t>(n));
  buffer[n] = '\0';
  return static_cast<std::size_t>(n);
}

bool RemoveFile(const char* path) {
  return path != nullptr && unlink(path) == 0;
}

bool RenameOver(const char* from, const char* to) {
  return from != nullptr && to != nullptr && std::rename(from, to) == 0;
}

const char* ErrorText(int error, char* buffer, std::size_t size) {
  if (size == 0) return buffer;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* text = strerror_r(error, buffer, size);
  if (text != buffer) std::snprintf(buffer, size, "%s", text);
#else
  if (strerror_r(error, buffer, size) != 0) std::snprintf(buffer, size, "error %d", error);
#endif
  return buffer;
}

int32_t CRandom::Next() {
  unsigned int state = m_state;
  const int value = rand_r(&state);
  m_state = state;
  return value;
}

SharedLibrary::~SharedLibrary() {
  Close();
}

bool SharedLibrary::Open(const std::string& path) {
  Close();
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  return m_handle != nullptr;
}

void SharedLibrary::Close() {
  if (m_handle != nullptr) {
    dlclose(m_handle);
    m_handle = nullptr;
  }
}

void* SharedLibrary::Symbol(const char* name) const {
  return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
}

uint32_t InetAddr(const char* text) {
  if (text == nullptr) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(inet_addr(text));
}

bool IsDottedIpv4(const char* text) {
  in_addr address{};
  return text != nullptr && inet_pton(AF_INET, text, &address) == 1;
}

bool AdapterAddress(int32_t card, std::string* dotted) {
  if (card < 1) return false;
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) return false;
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(first, &freeifaddrs);
  bool found = false;
  int32_t index = 0;
  for (const ifaddrs* it = first; it != nullptr && !found; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET ||
        (it->ifa_flags & IFF_UP) == 0 || ++index != card) {
      continue;
    }
    char text[INET_ADDRSTRLEN] = {};
    const in_addr& address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr;
    found = inet_ntop(AF_INET, &address, text, sizeof text) != nullptr;
    if (found) *dotted = text;
  }
  return found;
}

}  // namespace qcsdk::os
