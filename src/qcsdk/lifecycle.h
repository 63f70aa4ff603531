// Process-wide state of the SDK.
#pragma once

namespace qcsdk {

constexpr int kModuleDirCapacity = 260;
// Directory of the host's executable, '/' as separator, no trailing '/'.
extern char g_szModuleDir[kModuleDirCapacity];

}  // namespace qcsdk
