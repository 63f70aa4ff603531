// The configuration-dialog message a device sends (header word, size field,
// packed library, parameter text) through the installer: the library is
// unpacked and written into a directory of this process, where loading it
// fails unless the unpacker produced a library with the dialog's entry
// points.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "qcsdk/facade/config_dialog.h"
#include "qcsdk/facade/lifecycle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    const std::string dir = "/tmp/qcsdk-fuzz-cfg-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::snprintf(qcsdk::g_szModuleDir, sizeof qcsdk::g_szModuleDir, "%s", dir.c_str());
    return true;
  }();
  (void)ready;
  std::vector<uint8_t> message(qcsdk::kTextBufferSize, 0);
  std::copy_n(data, std::min<size_t>(size, message.size()), message.begin());
  qcsdk::RunRemoteConfigDialog(1, message.data(), 0);
  return 0;
}
