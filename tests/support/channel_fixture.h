// The scripted libraries, the test channel class, a recording host and stream-record builders.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "qcsdk/base/bytes.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/test_channel.h"

namespace qcsdk::test {

// The fields of a stream record a test sets; every other byte is 0.
struct InfoFields {
  uint16_t deviceType = 1, videoCodec = 1, width = 704, height = 576, rateNum = 25, rateDen = 1;
  uint16_t audioPresent = 0, audioCodec = 0, kind = 0;
};

inline StreamInfoRecord MakeInfo(const InfoFields& f) {
  StreamInfoRecord r{};
  StoreLe16(r.data() + info::kDeviceType, f.deviceType);
  StoreLe16(r.data() + info::kVideoCodec, f.videoCodec);
  StoreLe16(r.data() + info::kWidth, f.width);
  StoreLe16(r.data() + info::kHeight, f.height);
  StoreLe16(r.data() + info::kRateNum, f.rateNum);
  StoreLe16(r.data() + info::kRateDen, f.rateDen);
  StoreLe16(r.data() + info::kAudioPresent, f.audioPresent);
  StoreLe16(r.data() + info::kAudioCodec, f.audioCodec);
  StoreLe16(r.data() + info::kRecordKind, f.kind);
  return r;
}

class ChannelFixture : public ::testing::Test {
 protected:
  FakeLibraries fake;
  TestChannelFactory factory;
  HostRecorder host;

  // A new test channel; `linked`: its link already waits for data.
  std::shared_ptr<TestChannel> Open(bool linked = true, const char* user = "u",
                                    const char* password = "p", void* userData = nullptr) {
    const int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, user, password, 0, userData);
    EXPECT_GE(n, 0);
    auto channel = FindTestChannel(n);
    if (linked) channel->OnLinkEvent(0, nullptr);
    return channel;
  }
  // The channel's link up and its stream described: connected.
  static void Describe(Channel& channel, const InfoFields& fields = {}) {
    channel.OnStreamInfo(MakeInfo(fields).data());
  }
};

}  // namespace qcsdk::test
