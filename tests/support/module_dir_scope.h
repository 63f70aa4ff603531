// Points the SDK's module directory elsewhere for the life of the object
// and puts the old one back however the test ends.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "qcsdk/base/module_dir.h"

namespace qcsdk::test {

class ModuleDirScope {
 public:
  explicit ModuleDirScope(const std::string& dir) {
    std::memcpy(m_saved, g_szModuleDir, sizeof m_saved);
    std::snprintf(g_szModuleDir, sizeof g_szModuleDir, "%s", dir.c_str());
  }
  ~ModuleDirScope() { std::memcpy(g_szModuleDir, m_saved, sizeof m_saved); }
  ModuleDirScope(const ModuleDirScope&) = delete;
  ModuleDirScope& operator=(const ModuleDirScope&) = delete;

 private:
  char m_saved[kModuleDirCapacity];
};

}  // namespace qcsdk::test
