// Downloads: raw bytes with progress, MP4 when a device file header comes first, the end reports.
#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "files_fixture.h"
#include "support/process_probe.h"

namespace qcsdk::test {
namespace {

using DownloadTest = FilesFixture;

// A block of "QVS" chunks: `video` video chunks and one audio chunk.
std::vector<uint8_t> Chunks(int video, bool audio, uint64_t firstTimestamp = 40) {
  std::vector<uint8_t> block;
  auto add = [&](uint8_t kind, uint32_t length, uint64_t ts) {
    uint8_t head[16] = {'Q', 'V', 'S'};
    StoreLe32(head + 4, kind | length << 8);  // the kind byte, then a 24-bit length
    StoreLe64(head + 8, ts);
    block.insert(block.end(), head, head + 16);
    block.insert(block.end(), length, 0x55);
  };
  for (int i = 0; i < video; ++i) add(1, 100 + i, firstTimestamp + 40 * i);
  if (audio) add(4, 160, firstTimestamp);
  return block;
}

TEST_F(DownloadTest, RawBytesWithProgressUntilAnEndCode) {
  // Codes 1 to 4 end the download (file closed, then reported); other codes change nothing.
  for (int32_t code : {-1, 1, 2, 3, 4, 5, 100}) {
    const bool ends = code >= 1 && code <= 4;
    const std::string name = Path("raw" + std::to_string(code) + ".bin");
    ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 3, name.c_str()), 1);
    std::vector<uint8_t> block(250);
    const size_t before = host.Downloads().size();
    for (int i = 0; i < 2; ++i) {
      std::memset(block.data(), 'a' + i, block.size());
      ch->OnDownloadData(0, block.data(), 250, 1000);
    }
    ch->OnDownloadData(code, nullptr, 0, 0);
    ch->OnDownloadData(0, block.data(), 250, 1000);
    const auto reports = host.Downloads();
    std::vector<int32_t> p;
    for (size_t i = before; i < reports.size(); ++i) {
      p.push_back(reports[i].code == 0 ? reports[i].progress : -reports[i].code);
      EXPECT_EQ(reports[i].total, reports[i].code == 0 ? 1000 : 0);
    }
    if (ends) {
      EXPECT_THAT(p, ::testing::ElementsAre(2500, 5000, -code, 7500)) << code;
      EXPECT_EQ(ReadFile(name).size(), 500u) << code;
    } else {
      EXPECT_THAT(p, ::testing::ElementsAre(2500, 5000, 7500)) << code;
      ASSERT_EQ(QCSDK_DownloadRemoteFile(0, -1, nullptr), 1);
      const auto bytes = ReadFile(name);
      ASSERT_EQ(bytes.size(), 750u) << code;
      EXPECT_EQ(bytes[0], 'a');
      EXPECT_EQ(bytes[749], 'b');
    }
  }
  // Unknown size: progress 0. A file that cannot be opened refuses the download.
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("raw.bin").c_str()), 1);
  std::vector<uint8_t> block(250);
  ch->OnDownloadData(0, block.data(), 250, 0);
  EXPECT_EQ(host.Downloads().back().progress, 0);
  EXPECT_EQ(QCSDK_DownloadRemoteFile(0, 0, (dir / "no" / "such.bin").string().c_str()), 0);
}

// The header's codecs make the packager's format value: audio codec 2 or 3 picks its audio,
// anything else the first; video codec 1 or 2 adds its video, anything else nothing.
TEST_F(DownloadTest, FileHeaderSwitchesToMp4WithTheHeadersFormatAndChunksBecomeFrames) {
  const int32_t audioPart[] = {0, 0, 1, 2, 0};       // audio codec 0..4
  const int32_t videoPart[] = {0, 0x100, 0x200, 0};  // video codec 0..3
  for (uint16_t video = 0; video <= 3; ++video) {
    for (uint16_t audio = 0; audio <= 4; ++audio) {
      const std::string name = Path("conv.mp4");
      ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, name.c_str()), 1);
      ASSERT_TRUE(std::filesystem::exists(name));
      StreamInfoRecord header = FileHeader(audio % 2, audio);
      StoreLe16(header.data() + info::kVideoCodec, video);
      StoreLe16(header.data() + info::kRateDen, video == 1 ? 0 : 2);
      ch->OnDownloadData(0, header.data(), 96, 5000);
      EXPECT_FALSE(std::filesystem::exists(name));  // the raw file is deleted
      EXPECT_EQ(fake.Calls().back(),
                "QP_OpenPackage({704x576 " + std::string(video == 1 ? "25" : "12.5") + "}, 1, " +
                    std::to_string(audio % 2) + ", \"" + name + "\", null, " +
                    std::to_string(audioPart[audio] + videoPart[video]) + ", 0)")
          << video << "/" << audio;
    }
  }
  EXPECT_TRUE(host.Downloads().empty());  // a header makes no progress report

  // Chunks after a header become frames with their kinds and stamps.
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("conv.mp4").c_str()), 1);
  ch->OnDownloadData(0, FileHeader(1, 3, 200).data(), 96, 5000);
  // 100 video chunks in blocks; a chunk cut at the end of a block is dropped.
  for (int i = 0; i < 10; ++i) {
    auto block = Chunks(10, true), cut = Chunks(1, false);
    block.insert(block.end(), cut.begin(), cut.begin() + 20);
    ch->OnDownloadData(0, block.data(), static_cast<int32_t>(block.size()), 5000);
  }
  EXPECT_EQ(std::pair(host.Downloads().back().progress, host.Downloads().back().total),
            std::pair(5000, 5000));
  EXPECT_EQ(fake.CountCalls("QP_PackageOneFrame"), 110);
  // Kind byte 4 is audio, any other video; each frame has its chunk's payload length and stamp.
  fake.ClearCalls();
  std::vector<uint8_t> block;
  for (uint8_t kind : {3, 4, 5, 0}) {
    const auto chunk = Chunks(1, false, 1000 + kind);
    block.insert(block.end(), chunk.begin(), chunk.end());
    block[block.size() - chunk.size() + 4] = kind;
  }
  ch->OnDownloadData(0, block.data(), static_cast<int32_t>(block.size()), 5000);
  EXPECT_THAT(fake.Calls(), ::testing::ElementsAre("QP_PackageOneFrame(ptr, {1 100 1003})",
                                                   "QP_PackageOneFrame(ptr, {2 100 1004})",
                                                   "QP_PackageOneFrame(ptr, {1 100 1005})",
                                                   "QP_PackageOneFrame(ptr, {1 100 1000})"));
  EXPECT_EQ(host.Downloads().back().progress, 5150);
  ch->OnDownloadData(2, nullptr, 0, 0);
  EXPECT_EQ(fake.CountCalls("QP_ClosePackage"), 1);
  EXPECT_EQ(host.Downloads().back().code, 2);

  // A stop while the data thread is in the packager waits for the block (the host's thread is seen
  // waiting on a lock); a second header finishes the first package; none opens after the stop.
  fake.ClearCalls();
  const std::vector<uint8_t> chunks = Chunks(3, false);
  const auto stopDuring = [&](const char* op, int headers) {
    ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, Path("race.mp4").c_str()), 1);
    const int self = CurrentThreadId();
    std::atomic<int> step{0};  // 1: the data thread is inside op; 2: the stop returned
    fake.SetResultByFirstArg(op, [&](int64_t) {
      if (step == 0) step = 1;
      EXPECT_TRUE(WaitUntil([&] { return step == 2 || WaitsOnLock(self); }));
      return 1;
    });
    std::thread data([&] {
      for (int i = 0; i < headers; ++i) ch->OnDownloadData(0, FileHeader().data(), 96, 5000);
      if (headers > 1) ch->OnDownloadData(0, chunks.data(), int32_t(chunks.size()), 5000);
    });
    EXPECT_TRUE(WaitUntil([&] { return step == 1; }));
    QCSDK_DownloadRemoteFile(0, -1, nullptr);
    step = 2;
    data.join();
    fake.SetResultByFirstArg(op, [](int64_t) { return 1; });
    ch->OnDownloadData(0, FileHeader().data(), 96, 5000);
  };
  stopDuring("QP_PackageOneFrame", 2);
  stopDuring("QP_OpenPackage", 1);
  EXPECT_THAT(
      fake.CallNames(),
      ::testing::ElementsAre("QP_OpenPackage", "QP_ClosePackage", "QP_OpenPackage",
                             "QP_PackageOneFrame", "QP_PackageOneFrame", "QP_PackageOneFrame",
                             "QP_ClosePackage", "QP_OpenPackage", "QP_ClosePackage"));
}

}  // namespace
}  // namespace qcsdk::test
