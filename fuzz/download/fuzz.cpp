// Download messages into an Nxl channel that downloads to a local file:
// raw blocks, the "QFH" record followed by blocks of "QVS" chunks (turned
// into an MP4 through the packager's operations), and the end messages.
// Input: [u8 type][u8 total / 64 KiB][u16 length][bytes]...
#include <qcsdk/qcsdk.h>

#include <string>

#include "common/sdk_harness.h"

using namespace qcsdk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = ScratchDirectory() + "/download";
  const auto cb = Fake().nxl();
  const int32_t n = ConnectNxl(2, 3);
  if (n < 0) return 0;
  const uint8_t entry[10] = {'C', '0', '8', '0', '0', '0', '0', 'R', '0', '1'};
  cb.fileList(n + 1, entry, sizeof entry);
  QCSDK_DownloadRemoteFile(n, 0, file.c_str());
  for (const Message& m : SplitMessages(data, size)) {
    cb.download(n + 1, m.a, m.data, m.length, static_cast<uint32_t>(m.b) << 16);
  }
  DisconnectNxl(n);
  return 0;
}
