#include "support/process_probe.h"

#include <dirent.h>

#include <fstream>
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

int DescriptorCount() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] == '.' ? 0 : 1;
    ::closedir(d);
  }
  return n - 1;  // the listing's own
}

}  // namespace qcsdk::test
