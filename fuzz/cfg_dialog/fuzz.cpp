// The configuration-dialog message a device sends (header word, size field,
// packed library, parameter text) through the installer: the library is
// unpacked and written into a directory of this process, where loading it
// fails unless the unpacker produced a library with the dialog's entry
// points.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/sdk_harness.h"
#include "qcsdk/base/module_dir.h"
#include "qcsdk/dialog/config_dialog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One zeroed message buffer for every input: only the bytes an input
  // wrote (and the header word the installer rewrites) are cleared after it.
  static std::vector<uint8_t> message = [] {
    std::snprintf(qcsdk::g_szModuleDir, sizeof qcsdk::g_szModuleDir, "%s",
                  qcsdk::fuzz::ScratchDirectory().c_str());
    return std::vector<uint8_t>(qcsdk::kTextBufferSize, 0);
  }();
  const size_t used = std::min<size_t>(size, message.size());
  std::copy_n(data, used, message.begin());
  qcsdk::RunRemoteConfigDialog(1, message.data(), 0);
  std::fill_n(message.begin(), std::max<size_t>(used, 4), 0);
  return 0;
}
