// What the simulator tests share: virtual devices run in-process, a qvc
// client with recording callbacks, and helpers to connect and to pick out
// events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "nxl/nxl_test_env.h"
#include "vdevice/device_host.h"

namespace vdevice_test {

using nxl_test::Event;
using nxl_test::Scaled;

class VdeviceTest : public nxl_test::NxlTest {
 protected:
  void TearDown() override {
    host_.Stop();
    NxlTest::TearDown();
  }

  // Adds a device described by `settings` (the --device syntax).
  size_t AddDevice(const std::string& settings) {
    vdevice::DeviceSpec spec;
    std::string error;
    EXPECT_TRUE(vdevice::ParseDeviceSpec(settings, &spec, &error)) << error;
    const int index = host_.Add(spec, &error);
    EXPECT_GE(index, 0) << error;
    return static_cast<size_t>(index < 0 ? 0 : index);
  }

  uint16_t Port(size_t device) { return host_.nxl(device).port(); }

  // Connects link `link` and waits for its connect result.
  int Connect(int32_t link, size_t device, int32_t channel = 0, const char* user = "admin",
              const char* password = "admin") {
    QVC_Connect(0, link, channel, "127.0.0.1", Port(device), user, password, -1, nullptr, 0, 0, 0,
                0, 0);
    int result = -1;
    recorder_.WaitFor([&](const std::vector<Event>& events) {
      for (const auto& e : events) {
        if (e.kind == Event::kConnect && e.link == link) {
          result = e.code;
          return true;
        }
      }
      return false;
    });
    return result;
  }

  std::string ConnectText(int32_t link) {
    for (const auto& e : recorder_.Events(Event::kConnect)) {
      if (e.link == link) return e.text;
    }
    return {};
  }

  void Send(int32_t link, int32_t type, const void* data = nullptr, size_t size = 0) {
    QVC_SendData(link, type, data, static_cast<int32_t>(size));
  }
  void Send(int32_t link, int32_t type, const std::string& text) {
    Send(link, type, text.data(), text.size());
  }

  // Events of a kind for a link (and a code, when >= 0).
  std::vector<Event> Of(Event::Kind kind, int32_t link, int code = -1) {
    std::vector<Event> out;
    for (auto& e : recorder_.Events(kind)) {
      if (e.link == link && (code < 0 || e.code == code)) out.push_back(e);
    }
    return out;
  }

  bool WaitFor(Event::Kind kind, int32_t link, int code, size_t count = 1, int ms = 10000) {
    return recorder_.WaitFor(
        [&](const std::vector<Event>& events) {
          size_t n = 0;
          for (const auto& e : events) {
            n += e.kind == kind && e.link == link && (code < 0 || e.code == code) ? 1 : 0;
          }
          return n >= count;
        },
        Scaled(ms));
  }

  // Polls `pred` (which may look at the recorded events) until it holds.
  bool WaitUntil(const std::function<bool()>& pred, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + Scaled(ms);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  vdevice::DeviceHost host_;
};

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace vdevice_test
