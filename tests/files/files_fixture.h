// A connected scripted channel with a described stream, and a scratch
// directory for the files a test writes.
#pragma once

#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qcsdk/facade/bytes.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/test_channel.h"

namespace qcsdk::test {

class FilesFixture : public ::testing::Test {
 protected:
  FakeLibraries fake;
  TestChannelFactory factory;
  HostRecorder host;
  std::shared_ptr<TestChannel> ch;
  std::filesystem::path dir;

  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qcsdk_files_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
    ch = FindTestChannel(0);
    ch->OnLinkEvent(0, nullptr);
  }
  void TearDown() override {
    ch.reset();
    RemoveAllChannels();
    std::filesystem::remove_all(dir);
  }

  // A stream record: H.264 by default, with the given recording kind.
  static StreamInfoRecord Record(uint16_t kind, uint16_t audioPresent = 0,
                                 uint16_t audioCodec = 0) {
    StreamInfoRecord r{};
    for (int i = 0; i < 32; ++i) r[i] = static_cast<uint8_t>(0xA0 + i);
    StoreLe16(r.data() + info::kDeviceType, 2);
    StoreLe16(r.data() + info::kVideoCodec, 1);
    StoreLe16(r.data() + info::kAudioPresent, audioPresent);
    StoreLe16(r.data() + info::kWidth, 704);
    StoreLe16(r.data() + info::kHeight, 576);
    StoreLe16(r.data() + info::kRateNum, 25);
    StoreLe16(r.data() + info::kRateDen, 1);
    StoreLe16(r.data() + info::kAudioCodec, audioCodec);
    StoreLe16(r.data() + info::kRecordKind, kind);
    return r;
  }
  void Describe(const StreamInfoRecord& r) { ch->OnStreamInfo(r.data()); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  static std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

}  // namespace qcsdk::test
