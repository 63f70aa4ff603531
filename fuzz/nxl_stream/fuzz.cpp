// Live and playback messages (stream headers, frames, control and end
// messages) and talk messages into an Nxl channel, as its transport
// delivers them. Input: [u8 path][u8 frame type][u16 length][bytes]...,
// path 0 live, 1 playback, 2 talk.
#include <qcsdk/qcsdk.h>

#include "common/sdk_harness.h"

using namespace qcsdk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto cb = Fake().nxl();
  const int32_t n = ConnectNxl();
  if (n < 0) return 0;
  for (const Message& m : SplitMessages(data, size)) {
    switch (m.a % 3) {
      case 0: cb.live(n + 1, m.b, m.data, m.length); break;
      case 1: cb.playback(n + 1, m.b, m.data, m.length); break;
      default: cb.talk(n + 1, m.b, m.data, m.length); break;
    }
  }
  StreamInfo info;
  QCSDK_GetStreamInfo(n, &info);
  DisconnectNxl(n);
  return 0;
}
