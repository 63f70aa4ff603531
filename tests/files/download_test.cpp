// Downloads of remote recordings: raw bytes with progress, conversion to
// MP4 when the data starts with a device file header, and the end reports.
#include <gmock/gmock.h>

#include <cstring>

#include "files_fixture.h"

namespace qcsdk::test {
namespace {

using DownloadTest = FilesFixture;

std::vector<int32_t> Progress(const HostRecorder& host) {
  std::vector<int32_t> p;
  for (const auto& d : host.Downloads()) p.push_back(d.code == 0 ? d.progress : -d.code);
  return p;
}

// A block of "QVS" chunks: `video` video chunks and one audio chunk.
std::vector<uint8_t> Chunks(int video, bool audio, uint64_t firstTimestamp = 40) {
  std::vector<uint8_t> block;
  auto add = [&](uint8_t kind, uint32_t length, uint64_t ts) {
    uint8_t head[16] = {'Q', 'V', 'S', 0, kind};
    head[5] = static_cast<uint8_t>(length);
    head[6] = static_cast<uint8_t>(length >> 8);
    head[7] = static_cast<uint8_t>(length >> 16);
    StoreLe64(head + 8, ts);
    block.insert(block.end(), head, head + 16);
    block.insert(block.end(), length, 0x55);
  };
  for (int i = 0; i < video; ++i) add(1, 100 + i, firstTimestamp + 40 * i);
  if (audio) add(4, 160, firstTimestamp);
  return block;
}

TEST_F(DownloadTest, RawBytesWithProgress) {
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 3, Path("raw.bin").c_str()), 1);
  std::vector<uint8_t> block(250);
  for (int i = 0; i < 4; ++i) {
    std::memset(block.data(), 'a' + i, block.size());
    ch->OnDownloadData(0, block.data(), 250, 1000);
  }
  ch->OnDownloadData(5, nullptr, 0, 0);  // unknown end code: nothing
  ch->OnDownloadData(1, nullptr, 0, 0);
  EXPECT_THAT(Progress(host), ::testing::ElementsAre(2500, 5000, 7500, 10000, -1));
  auto bytes = ReadFile(Path("raw.bin"));
  ASSERT_EQ(bytes.size(), 1000u);
  EXPECT_EQ(bytes[0], 'a');
  EXPECT_EQ(bytes[999], 'd');
  EXPECT_EQ(host.Downloads().back().total, 0);

  // Unknown size: progress 0. A file that cannot be opened refuses the download.
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("raw2.bin").c_str()), 1);
  ch->OnDownloadData(0, block.data(), 250, 0);
  EXPECT_EQ(host.Downloads().back().progress, 0);
  EXPECT_EQ(QCSDK_DownloadRemoteFile(0, 0, (dir / "no" / "such.bin").c_str()), 0);
  EXPECT_EQ(QCSDK_DownloadRemoteFile(0, -1, nullptr), 1);
}

TEST_F(DownloadTest, FileHeaderSwitchesToMp4) {
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("conv.mp4").c_str()), 1);
  ASSERT_TRUE(std::filesystem::exists(Path("conv.mp4")));
  StreamInfoRecord header = Record(3, 1, 3);
  std::memcpy(header.data() + info::kFileTag, "QFH", 3);
  StoreLe16(header.data() + info::kVideoCodec, 2);
  StoreLe16(header.data() + info::kRateDen, 0);
  StoreLe32(header.data() + info::kTotalFrames, 200);
  ch->OnDownloadData(0, header.data(), 96, 5000);
  EXPECT_TRUE(host.Downloads().empty());                    // the header makes no progress report
  EXPECT_FALSE(std::filesystem::exists(Path("conv.mp4")));  // raw file deleted
  EXPECT_EQ(fake.Calls().back(), "QP_OpenPackage(ptr, 1, 1, \"" + Path("conv.mp4") + "\", null, " +
                                     std::to_string(QP_AUDIO_AAC + QP_VIDEO_H265) + ", 0)");

  // 100 video chunks in blocks; a chunk cut at the end of a block is dropped.
  for (int i = 0; i < 10; ++i) {
    auto block = Chunks(10, true);
    auto cut = Chunks(1, false);
    block.insert(block.end(), cut.begin(), cut.begin() + 20);
    ch->OnDownloadData(0, block.data(), static_cast<int32_t>(block.size()), 5000);
  }
  EXPECT_EQ(host.Downloads().back().progress, 5000);
  EXPECT_EQ(host.Downloads().back().total, 5000);
  EXPECT_EQ(fake.CountCalls("QP_PackageOneFrame"), 110);
  auto calls = fake.Calls();
  ch->OnDownloadData(2, nullptr, 0, 0);
  EXPECT_EQ(fake.CountCalls("QP_ClosePackage"), 1);
  EXPECT_EQ(host.Downloads().back().code, 2);
}

TEST_F(DownloadTest, HostileChunksStopTheWalk) {
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("h.mp4").c_str()), 1);
  StreamInfoRecord header = Record(3);
  std::memcpy(header.data() + info::kFileTag, "QFH", 3);
  StoreLe32(header.data() + info::kTotalFrames, 10);
  ch->OnDownloadData(0, header.data(), 96, 0);
  auto block = Chunks(2, false);
  block[5 + 116] = 0xFF;  // second chunk claims a payload past the block
  block[6 + 116] = 0xFF;
  block[7 + 116] = 0x7F;
  ch->OnDownloadData(0, block.data(), static_cast<int32_t>(block.size()), 0);
  uint8_t zero[16] = {'Q', 'V', 'S'};  // payload length 0
  ch->OnDownloadData(0, zero, 16, 0);
  uint8_t junk[40] = {'X'};
  ch->OnDownloadData(0, junk, 40, 0);
  ch->OnDownloadData(0, nullptr, 100, 0);
  ch->OnDownloadData(0, junk, -5, 0);
  EXPECT_EQ(fake.CountCalls("QP_PackageOneFrame"), 1);
  EXPECT_EQ(host.Downloads().front().progress, 1000);
}

TEST_F(DownloadTest, RefusedPackageStillCountsFrames) {
  fake.SetResult("QP_OpenPackage", 0);
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("r.mp4").c_str()), 1);
  StreamInfoRecord header = Record(3);
  std::memcpy(header.data() + info::kFileTag, "QFH", 3);
  StoreLe32(header.data() + info::kTotalFrames, 4);
  ch->OnDownloadData(0, header.data(), 96, 0);
  auto block = Chunks(2, true);
  ch->OnDownloadData(0, block.data(), static_cast<int32_t>(block.size()), 0);
  EXPECT_EQ(fake.CountCalls("QP_PackageOneFrame"), 0);
  EXPECT_EQ(host.Downloads().back().progress, 5000);
}

}  // namespace
}  // namespace qcsdk::test
