// Recording lists into an Nxl channel: 7-byte entries (device types 1 and
// 5) and 10-byte entries (2 to 4), each turned into a 4,112-byte record with
// its name and path. Input: [u8 device type][u8 recording kind][list bytes].
#include <qcsdk/qcsdk.h>

#include <algorithm>

#include "common/sdk_harness.h"

using namespace qcsdk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const auto cb = Fake().nxl();
  const int32_t n = ConnectNxl(data[0] % 6, data[1] % 6);
  if (n < 0) return 0;
  const int32_t dates[6] = {2024, 2, 29, 2024, 2, 29};
  QCSDK_GetRemoteRecFileList(n, dates);
  // Each entry becomes a 4,112-byte record: a longer list repeats the same
  // work, so the list is cut to 64 entries of 10 bytes (91 of 7).
  cb.fileList(n + 1, data + 2, static_cast<int32_t>(std::min<size_t>(size - 2, 640)));
  DisconnectNxl(n);
  return 0;
}
