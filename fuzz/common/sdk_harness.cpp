#include "common/sdk_harness.h"

#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk::fuzz {

test::FakeLibraries& Fake() {
  static const std::unique_ptr<test::FakeLibraries> fake = [] {
    auto f = std::make_unique<test::FakeLibraries>();
    QCSDK_InitSDK(0, nullptr);
    return f;
  }();
  fake->ClearCalls();
  return *fake;
}

int32_t ConnectNxl(uint16_t deviceType, uint16_t recordKind) {
  const auto cb = Fake().nxl();
  const int32_t n = QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "pw", 0, nullptr);
  if (n < 0) return n;
  cb.connect(n + 1, 1, "welcome");
  if (deviceType != 0) {
    uint8_t message[2 + kStreamInfoSize] = {};
    uint8_t* r = message + 2;
    StoreLe32(r, 0x0A535651);  // "QVS" 0x0A
    std::memcpy(r + info::kFileTag, "QFH", 3);
    StoreLe16(r + info::kDeviceType, deviceType);
    StoreLe16(r + info::kVideoCodec, 1);
    StoreLe16(r + info::kRecordKind, recordKind);
    r[info::kRpcSupport] = 1;
    cb.live(n + 1, 8, message, sizeof message);
  }
  return n;
}

void DisconnectNxl(int32_t channel) {
  QCSDK_Disconnect(channel);
  Fake().nxl().connect(channel + 1, 2, "");
}

const std::string& ScratchDirectory() {
  struct Directory {
    const std::string path = "/dev/shm/qcsdk-fuzz-" + std::to_string(getpid());
    Directory() { std::filesystem::create_directories(path); }
    ~Directory() { std::filesystem::remove_all(path); }
  };
  static const Directory directory;
  return directory.path;
}

std::vector<Message> SplitMessages(const uint8_t* data, std::size_t size) {
  std::vector<Message> out;
  for (std::size_t at = 0; at + 4 <= size;) {
    const std::size_t length = std::min<std::size_t>(LoadLe16(data + at + 2), size - at - 4);
    out.push_back({data[at], data[at + 1], data + at + 4, static_cast<int32_t>(length)});
    at += 4 + length;
  }
  return out;
}

}  // namespace qcsdk::fuzz
