// A connected scripted channel with a described stream, and a scratch directory for its files.
#pragma once

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/channel_fixture.h"

namespace qcsdk::test {

class FilesFixture : public ChannelFixture {
 protected:
  std::shared_ptr<TestChannel> ch;
  std::filesystem::path dir;

  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qcsdk_files_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    ch = Open();
  }
  void TearDown() override {
    ch.reset();
    RemoveAllChannels();
    std::filesystem::remove_all(dir);
  }

  // An H.264 stream record of the given recording kind; recordings copy its first 32 bytes.
  static StreamInfoRecord Record(uint16_t kind, uint16_t audioPresent = 0,
                                 uint16_t audioCodec = 0) {
    StreamInfoRecord r = MakeInfo(
        {.deviceType = 2, .audioPresent = audioPresent, .audioCodec = audioCodec, .kind = kind});
    for (int i = 0; i < 32; ++i) r[i] = static_cast<uint8_t>(0xA0 + i);
    return r;
  }
  // The same as the header of a device file of `frames` frames.
  static StreamInfoRecord FileHeader(uint16_t audioPresent = 0, uint16_t audioCodec = 0,
                                     uint32_t frames = 0) {
    StreamInfoRecord r = Record(3, audioPresent, audioCodec);
    std::memcpy(r.data() + info::kFileTag, "QFH", 3);
    StoreLe32(r.data() + info::kTotalFrames, frames);
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
