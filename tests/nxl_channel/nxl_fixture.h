// An Nxl channel over the scripted transport: the test plays the device through the callbacks.
#pragma once

#include <gmock/gmock.h>

#include <cstring>

#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/nxl/nxl_channel.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/process_probe.h"

namespace qcsdk::test {

// The channel's 96-byte stream-information record, through a public alias of the accessor.
struct RecordPeek : NxlChannel {
  using NxlChannel::InfoSnapshot;
};

class NxlFixture : public ::testing::Test {
 protected:
  FakeLibraries fake;
  HostRecorder host;

  // Threads before the SDK's, counted once a sanitizer's helper (the first new thread) is up.
  const int threads = (std::thread([] {}).join(), ThreadCount());

  void SetUp() override { ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1); }
  void TearDown() override {
    QCSDK_ReleaseSDK();
    WaitUntil([&] { return ThreadCount() == threads; });
    EXPECT_EQ(ThreadCount(), threads) << "threads left behind";
  }

  FakeLibraries::NxlCallbacks cb() const { return fake.nxl(); }
  static void Fire(const std::function<void()>& fn) { FakeLibraries::RunOnLibraryThread(fn); }

  // A live channel whose first header had tag `version` (0x05: type 2, H.264, kind 1; 0x10: type 3)
  int32_t ConnectLive(uint8_t version = 0x05) {
    const int32_t n = QCSDK_Connect("127.0.0.1", 8000, 1, "admin", "pw", 0, nullptr);
    EXPECT_GE(n, 0);
    Fire([&] { cb().connect(n + 1, 1, "welcome"); });
    LiveHeader(n, version);
    return n;
  }
  // A live stream header: sub-type 0, then 32 header bytes from byte 2 ("QVS " and the real tag at
  // 24 when extended), data byte 35, and the frame rate x 10 in data bytes 36..39.
  void LiveHeader(int32_t n, uint8_t version, uint32_t standard = 1, bool extended = false,
                  uint8_t byte35 = 0) {
    std::vector<uint8_t> h(40, 0);
    std::memcpy(h.data() + (extended ? 26 : 2), "QVS", 3);
    h[extended ? 29 : 5] = version;
    if (extended) std::memcpy(h.data() + 2, "QVS ", 4);
    StoreLe32(h.data() + 6, 0x10000 + 704);  // only the low half is the width
    StoreLe32(h.data() + 10, 576);
    StoreLe32(h.data() + 14, 300);
    StoreLe32(h.data() + 18, standard);
    h[35] = byte35;
    StoreLe32(h.data() + 36, 250000);
    Fire([&] { cb().live(n + 1, 8, h.data(), 40); });
  }
  // A whole 96-byte record sent by the device ("QFH" at 32).
  void WholeRecord(int32_t n, uint16_t deviceType, uint8_t rpc, uint16_t kind = 3) {
    std::vector<uint8_t> msg(98, 0);
    uint8_t* r = msg.data() + 2;
    std::memcpy(r, "QVS\x0A", 4);
    std::memcpy(r + 32, "QFH", 3);
    StoreLe16(r + 36, deviceType);
    StoreLe16(r + 38, 1);
    StoreLe32(r + 60, 300);
    StoreLe16(r + 64, kind);
    r[66] = rpc;
    Fire([&] { cb().live(n + 1, 8, msg.data(), 98); });
  }
  void Text(int32_t n, uint8_t type, const std::string& text) {
    Fire([&] {
      cb().text(n + 1, type, reinterpret_cast<const uint8_t*>(text.data()),
                static_cast<int32_t>(text.size()));
    });
  }
  // Runs `call` on a host thread; after its `count` messages the device answers with text `answer`.
  template <class Call>
  auto AnsweredCall(int32_t n, uint8_t answer, Call call, std::size_t count = 1) {
    fake.ClearCalls();
    std::thread device([&] {
      while (fake.NxlSent().size() < count) std::this_thread::yield();
      Text(n, answer, "");
    });
    auto result = call();
    device.join();
    return result;
  }
  StreamInfoRecord Record(int32_t n) const {
    const auto ch = std::dynamic_pointer_cast<NxlChannel>(FindChannel(n));
    return ch ? ((*ch).*(&RecordPeek::InfoSnapshot))() : StreamInfoRecord{};
  }
  // Messages since the last ClearCalls: "type" or "type:payload", the payload as text or hex.
  std::vector<std::string> Sent() const {
    std::vector<std::string> out;
    for (const auto& m : fake.NxlSent()) {
      const bool text =
          std::all_of(m.data.begin(), m.data.end(), [](uint8_t c) { return c >= 32 && c < 127; });
      std::string item = std::to_string(m.type) + (m.data.empty() ? "" : ":");
      for (uint8_t c : m.data)
        item += text ? std::string(1, static_cast<char>(c))
                     : std::string{"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
      out.push_back(item);
    }
    return out;
  }
};

}  // namespace qcsdk::test
