// An Nxl channel over the scripted transport: the test plays the device by
// firing the registered callbacks from a thread of the fake library.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>

#include <cstring>
#include <string>
#include <vector>

#include "qcsdk/facade/bytes.h"
#include "qcsdk/facade/registry.h"
#include "qcsdk/nxl/nxl_channel.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"

namespace qcsdk::test {

class NxlFixture : public ::testing::Test {
 protected:
  FakeLibraries fake;
  HostRecorder host;

  void SetUp() override { ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1); }
  void TearDown() override { QCSDK_ReleaseSDK(); }

  FakeLibraries::NxlCallbacks cb() const { return fake.nxl(); }

  // Connects channel n's link and delivers a live stream header whose tag
  // has the version byte `version` (0x05: device type 2, H.264, .sv5).
  int32_t ConnectLive(uint8_t version = 0x05, const char* address = "127.0.0.1") {
    const int32_t n = QCSDK_Connect(address, 8000, 1, "admin", "pw", 0, nullptr);
    EXPECT_GE(n, 0);
    Fire([&] { cb().connect(n + 1, 1, "welcome"); });
    LiveHeader(n, version);
    return n;
  }
  void LiveHeader(int32_t n, uint8_t version, uint32_t standard = 1) {
    std::vector<uint8_t> header(2 + 32, 0);
    std::memcpy(header.data() + 2, "QVS", 3);
    header[5] = version;
    StoreLe32(header.data() + 6, 704);
    StoreLe32(header.data() + 10, 576);
    StoreLe32(header.data() + 14, 300);
    StoreLe32(header.data() + 18, standard);
    Fire([&] { cb().live(n + 1, 8, header.data(), static_cast<int32_t>(header.size())); });
  }
  // A whole 96-byte record sent by the device ("QFH" at 32).
  void WholeRecord(int32_t n, uint16_t deviceType, uint8_t rpc, uint16_t kind = 3) {
    std::vector<uint8_t> msg(98, 0);
    uint8_t* r = msg.data() + 2;
    std::memcpy(r, "QVS", 3);
    r[3] = 0x0A;
    std::memcpy(r + 32, "QFH", 3);
    StoreLe16(r + info::kDeviceType, deviceType);
    StoreLe16(r + info::kVideoCodec, 1);
    StoreLe16(r + info::kRecordKind, kind);
    StoreLe32(r + info::kTotalFrames, 500);
    r[info::kRpcSupport] = rpc;
    Fire([&] { cb().live(n + 1, 8, msg.data(), 98); });
  }
  static void Fire(const std::function<void()>& fn) { FakeLibraries::RunOnLibraryThread(fn); }
  std::shared_ptr<NxlChannel> Nxl(int32_t n) const {
    return std::dynamic_pointer_cast<NxlChannel>(FindChannel(n));
  }
  // Messages sent since the last ClearCalls: "type" or "type:payload" with
  // the payload as text when it is printable, else as hex.
  std::vector<std::string> Sent() const {
    std::vector<std::string> out;
    for (const auto& m : fake.NxlSent()) {
      std::string item = std::to_string(m.type);
      if (!m.data.empty()) {
        bool text = true;
        for (uint8_t c : m.data) text = text && c >= 32 && c < 127;
        item += ':';
        if (text) {
          item.append(m.data.begin(), m.data.end());
        } else {
          char hex[3];
          for (uint8_t c : m.data) {
            std::snprintf(hex, sizeof hex, "%02x", c);
            item += hex;
          }
        }
      }
      out.push_back(item);
    }
    return out;
  }
};

}  // namespace qcsdk::test
