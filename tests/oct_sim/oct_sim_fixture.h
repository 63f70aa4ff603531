// The SDK over its real OCT library against the device simulator, both in
// this process on loopback: virtual devices with small pictures, helpers to
// connect OCT channels and to pick out one channel's reports.
#pragma once

#include <gtest/gtest.h>
#include <octc/octc.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qcsdk/facade/registry.h"
#include "qcsdk/oct/oct_conn.h"
#include "support/host_recorder.h"
#include "support/oct_test_support.h"
#include "support/pattern_encoder.h"
#include "vdevice/device_host.h"

namespace qcsdk::test {

class OctSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The simulator encodes its pictures with these encoders. (This also
    // brings in the sanitizer suppressions for libx265 of the support code.)
    if (!PatternEncoderAvailable(PatternCodec::kH264) ||
        !PatternEncoderAvailable(PatternCodec::kH265)) {
      GTEST_SKIP() << "libx264/libx265 encoders are not available";
    }
    octc_set_timeouts(0, 0, ScaledMs(5000));
    host = std::make_unique<HostRecorder>();
    host->onEvent = onHostEvent;  // installed before the SDK's threads start
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  }
  void TearDown() override {
    QCSDK_ReleaseSDK();
    devices.Stop();
    host.reset();
    octc_set_timeouts(0, 0, 5000);
  }

  // Adds a device: 160x120 pictures, then `settings` in the simulator's
  // --device syntax.
  size_t Add(const std::string& settings = "") {
    vdevice::DeviceSpec spec;
    std::string error;
    const std::string text = "width=160,height=120" + (settings.empty() ? "" : "," + settings);
    EXPECT_TRUE(vdevice::ParseDeviceSpec(text, &spec, &error)) << error;
    const int index = devices.Add(spec, &error);
    EXPECT_GE(index, 0) << error;
    return index < 0 ? 0 : static_cast<size_t>(index);
  }
  vdevice::OctFrontEnd& Oct(size_t device) { return *devices.oct(device); }

  int32_t Connect(size_t device, int32_t deviceChannel = 1, const char* password = "admin") {
    return QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", Oct(device).port(), deviceChannel, 0,
                          "admin", password, 0, nullptr);
  }
  // Runs a connect export (by default to `device`) and waits for the event
  // 1 of the channel it made.
  int32_t ConnectLive(size_t device, int32_t deviceChannel = 1,
                      const std::function<int32_t()>& connect = nullptr) {
    const size_t from = host->Events().size();
    const int32_t n = connect ? connect() : Connect(device, deviceChannel);
    EXPECT_GE(n, 0);
    EXPECT_TRUE(WaitUntil([&] {
      const auto events = host->Events();
      for (size_t i = from; i < events.size(); ++i) {
        if (events[i].channel == n && events[i].code == QCSDK_EVENT_CONNECTED) return true;
      }
      return false;
    })) << Codes(n);
    return n;
  }

  std::vector<HostEvent> EventsOf(int32_t channel, int32_t code) const {
    std::vector<HostEvent> out;
    for (const HostEvent& e : host->Events()) {
      if (e.channel == channel && e.code == code) out.push_back(e);
    }
    return out;
  }
  int Count(int32_t channel, int32_t code) const {
    return static_cast<int>(EventsOf(channel, code).size());
  }
  bool WaitEvent(int32_t channel, int32_t code, int count = 1) const {
    return WaitUntil([&] { return Count(channel, code) >= count; });
  }
  // The event codes of one channel, as text for failure messages.
  std::string Codes(int32_t channel) const {
    std::string out;
    for (const HostEvent& e : host->Events()) {
      if (e.channel == channel) out += std::to_string(e.code) + " ";
    }
    return out;
  }
  // The sizes of the video frames a channel received, in order.
  std::vector<int32_t> VideoSizes(int32_t channel) const {
    std::vector<int32_t> out;
    for (const auto& r : host->Raw()) {
      if (r.channel == channel && r.type != QCSDK_FRAME_AUDIO) out.push_back(r.length);
    }
    return out;
  }
  // Waits until `more` further video frames have reached the channel.
  bool WaitFrames(int32_t channel, size_t more = 5) const {
    const size_t start = VideoSizes(channel).size();
    return WaitUntil([&] { return VideoSizes(channel).size() >= start + more; });
  }
  // Asks for today's recordings and waits for the list; its entry count.
  int32_t ListToday(int32_t channel) {
    const vdevice::Date today = vdevice::Today();
    const int32_t dates[6] = {today.year, today.month, today.day,
                              today.year, today.month, today.day};
    const int before = Count(channel, QCSDK_EVENT_REC_LIST);
    EXPECT_EQ(QCSDK_GetRemoteRecFileList(channel, dates), 1);
    EXPECT_TRUE(WaitEvent(channel, QCSDK_EVENT_REC_LIST, before + 1)) << Codes(channel);
    const auto lists = EventsOf(channel, QCSDK_EVENT_REC_LIST);
    return lists.empty() ? -1 : lists.back().value;
  }
  // Today's recordings of a device channel, as the device lists them.
  std::vector<vdevice::Recording> Recordings(size_t device, int channel = 1) {
    return devices.device(device).Recordings(channel, vdevice::Today());
  }
  // A file name in the temporary directory, unique to this process.
  static std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("oct_sim_" + std::to_string(::getpid()) + "_" + name))
        .string();
  }

  // Called inside the event callback, when a derived fixture sets it
  // before this fixture's SetUp.
  std::function<void(const HostEvent&)> onHostEvent;
  vdevice::DeviceHost devices;
  std::unique_ptr<HostRecorder> host;
};

}  // namespace qcsdk::test
