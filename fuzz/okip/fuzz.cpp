// OKIP answers: the datagram goes through the Nxl library's decoder and,
// when that accepts it, into the SDK's answer handler and the host's
// callback.
#include <qcsdk/qcsdk.h>

#include "common/sdk_harness.h"
#include "discovery.h"

using namespace qcsdk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& fake = Fake();
  static const bool started = QCSDK_OKIP_StartService([](const QCSDK_OkipResult*) {}) != 0;
  if (!started) __builtin_trap();
  uint32_t id = 0;
  const uint8_t* message = nullptr;
  if (qvc::wire::DecodeOkip(data, size, qvc::wire::DiscoveryKind::kAnswer, &id, &message)) {
    fake.discovery().broadcast(static_cast<int32_t>(id), message,
                               static_cast<int32_t>(qvc::wire::kOkipMessageSize), 0x0100007F, 0);
  }
  return 0;
}
