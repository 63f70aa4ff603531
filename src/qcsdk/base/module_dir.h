// The host executable's directory, found when the SDK starts; the
// configuration dialog library is loaded from there.
#pragma once

namespace qcsdk {

constexpr int kModuleDirCapacity = 260;
// Directory of the host's executable, '/' as separator, no trailing '/'.
extern char g_szModuleDir[kModuleDirCapacity];

// Turns an executable's path into its directory in place: '\\' becomes '/'
// and the text is cut at the last '/' (empty when there is none).
void CutToDirectory(char* path);

}  // namespace qcsdk
