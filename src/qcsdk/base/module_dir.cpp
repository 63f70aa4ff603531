#include "qcsdk/base/module_dir.h"

#include <cstring>

namespace qcsdk {

char g_szModuleDir[kModuleDirCapacity];

void CutToDirectory(char* path) {
  for (int i = 0; i < 1024 && path[i] != '\0'; ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  char* last = std::strrchr(path, '/');
  if (last != nullptr) {
    *last = '\0';
  } else {
    path[0] = '\0';
  }
}

}  // namespace qcsdk
