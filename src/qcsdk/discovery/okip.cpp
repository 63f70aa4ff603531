#include "qcsdk/discovery/okip.h"

#include <qcsdk/qcsdk.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/nxl_api.h"
#include "platform/os.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/base/callback_edge.h"
#include "qcsdk/discovery/search_device.h"

namespace qcsdk::okip {
namespace {

void IgnoreAnswer(const QCSDK_OkipResult*) {}

// The host's answer callback; written by QCSDK_OKIP_StartService only.
std::atomic<OkipCallback> g_pfnOkip{&IgnoreAnswer};

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether text fits a 32-byte field with its terminator.
bool FitsTextField(const char* text) {
  return text != nullptr && strnlen(text, kTextSize) < kTextSize;
}

void OnAnswer(int32_t /*messageId*/, const uint8_t* data, int32_t length, uint32_t /*source*/,
              int32_t end) {
  AtCallbackEdge("okip", [&] {
    const OkipCallback host = g_pfnOkip.load(std::memory_order_acquire);
    if (end != 0) {
      host(nullptr);
      return;
    }
    QCSDK_OkipResult result;
    if (BuildResult(data, length, &result)) host(&result);
  });
}

}  // namespace

Message BuildFindMessage() {
  Message m{};
  StoreLe32(m.data() + kType, kFind);
  return m;
}

bool BuildSetMessage(const char* deviceNumber, const char* text1, const char* text2,
                     const int32_t* config, Message* out) {
  if (deviceNumber == nullptr || config == nullptr || !FitsTextField(text1) ||
      !FitsTextField(text2)) {
    return false;
  }
  Message m{};
  StoreLe32(m.data() + kType, kSet);
  const char* p = deviceNumber;
  for (int i = 0; i < kMaxGroupLetters && IsAsciiLetter(*p); ++i, ++p) {
    m[kGroup + static_cast<size_t>(i)] = static_cast<uint8_t>(*p);
  }
  // Wraps like 32-bit arithmetic on absurdly long digit runs.
  uint32_t number = 0;
  for (; IsDigit(*p); ++p) number = number * 10 + static_cast<uint32_t>(*p - '0');
  StoreLe32(m.data() + kNumber, number);
  std::memcpy(m.data() + kText1, text1, std::strlen(text1));
  std::memcpy(m.data() + kText2, text2, std::strlen(text2));
  for (int i = 0; i < kNetConfigWords; ++i) {
    StoreLe32(m.data() + kNetConfig + 4 * static_cast<size_t>(i), static_cast<uint32_t>(config[i]));
  }
  *out = m;
  return true;
}

bool BuildResult(const uint8_t* data, int32_t length, QCSDK_OkipResult* out) {
  if (data == nullptr || length < kMinAnswerSize || LoadLe32(data + kType) != kFind) return false;
  QCSDK_OkipResult r{};
  const char* group = reinterpret_cast<const char*>(data + kGroup);
  const int groupLength = static_cast<int>(strnlen(group, kGroupSize));
  std::snprintf(r.deviceNumber, sizeof r.deviceNumber, "%.*s%d", groupLength, group,
                static_cast<int32_t>(LoadLe32(data + kNumber)));
  const uint8_t* a = data + kAddressWord;
  std::snprintf(r.address, sizeof r.address, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
  r.word16 = static_cast<int32_t>(LoadLe32(data + kWord16));
  r.word124 = static_cast<int32_t>(LoadLe32(data + kWord124));
  CopyTextField(r.name, sizeof r.name, reinterpret_cast<const char*>(data + kName), kNameSize);
  r.deviceType = DeviceTypeFromCardType(static_cast<int32_t>(LoadLe32(data + kCardType)));
  *out = r;
  return true;
}

int32_t NextMessageId() {
  // A private generator: the C library's shared one belongs to the host.
  os::CRandom random(static_cast<uint32_t>(std::time(nullptr)));
  const uint32_t first = static_cast<uint32_t>(random.Next());
  const uint32_t second = static_cast<uint32_t>(random.Next());
  return static_cast<int32_t>(first + 1u + second);
}

}  // namespace qcsdk::okip

using namespace qcsdk;

extern "C" {

QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_StartService(OkipCallback callback) {
  okip::g_pfnOkip.store(callback != nullptr ? callback : &okip::IgnoreAnswer,
                        std::memory_order_release);
  const platform::NxlApi& nxl = platform::Nxl();
  for (int32_t port = okip::kFirstLocalPort; port <= okip::kLastLocalPort; ++port) {
    if (static_cast<uint8_t>(nxl.StartBroadcastServer(port, okip::kRemotePort, &okip::OnAnswer)) !=
        0) {
      return 1;
    }
  }
  return 0;
}

QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_StopService(void) {
  return platform::Nxl().StopBroadcastServer();
}

QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_FinDevs(int32_t timeoutMs) {
  const okip::Message message = okip::BuildFindMessage();
  return platform::Nxl().BroadcastOnce(okip::NextMessageId(), message.data(),
                                       static_cast<int32_t>(message.size()), timeoutMs);
}

QCSDK_API int32_t QCSDK_CALL QCSDK_OKIP_SetNetCfg(const char* szDeviceNumber, const char* szText1,
                                                  const char* szText2, const int32_t* pConfig) {
  okip::Message message;
  if (!okip::BuildSetMessage(szDeviceNumber, szText1, szText2, pConfig, &message)) return 0;
  return platform::Nxl().BroadcastOnce(okip::NextMessageId(), message.data(),
                                       static_cast<int32_t>(message.size()), okip::kSetTimeoutMs);
}

}  // extern "C"
