#include "support/process_probe.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qcsdk::test {

int ThreadCount(const char* name) {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string comm;
      if (name != nullptr) {
        std::getline(std::ifstream(std::string("/proc/self/task/") + e->d_name + "/comm"), comm);
      }
      n += name == nullptr || comm == name ? 1 : 0;
    }
    ::closedir(d);
  }
  return n;
}

int CurrentThreadId() {
  return static_cast<int>(::gettid());
}

std::size_t CurrentThreadStackSize() {
  pthread_attr_t attr;
  std::size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  pthread_attr_getstacksize(&attr, &size);
  pthread_attr_destroy(&attr);
  return size;
}

bool WaitsOnLock(int tid) {
  long call = -1;  // the system call it is blocked in, as the kernel reports it
  std::ifstream("/proc/self/task/" + std::to_string(tid) + "/syscall") >> call;
  return call == SYS_futex;
}

int HandleCount() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator{}));
}

}  // namespace qcsdk::test
