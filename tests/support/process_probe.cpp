#include "support/process_probe.h"

#include <dirent.h>

namespace qcsdk::test {

int ThreadCount() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
    ::closedir(d);
  }
  return n;
}

}  // namespace qcsdk::test
