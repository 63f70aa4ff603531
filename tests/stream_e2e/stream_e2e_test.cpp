// A channel's stream path end to end with the real player and packager; only
// the transport is scripted.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "qcsdk/facade/bytes.h"
#include "support/fake_libraries.h"
#include "support/host_recorder.h"
#include "support/media_probe.h"
#include "support/pattern_encoder.h"
#include "support/test_channel.h"
#include "support/tone_encoder.h"

namespace qcsdk::test {
namespace {

class StreamE2eTest : public ::testing::Test {
 protected:
  FakeLibraries fake{FakeLibraries::Scope::kTransportsOnly};
  TestChannelFactory factory;
  HostRecorder host;
  std::shared_ptr<TestChannel> ch;
  std::filesystem::path dir;

  void SetUp() override {
    if (!PatternEncoderAvailable(PatternCodec::kH264) ||
        !PatternEncoderAvailable(PatternCodec::kH265)) {
      GTEST_SKIP() << "libx264/libx265 encoders are not available";
    }
    dir = std::filesystem::temp_directory_path() /
          ("qcsdk_e2e_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);  // real player, scripted transports
    ASSERT_EQ(QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr), 0);
    ch = FindTestChannel(0);
    ch->OnLinkEvent(0, nullptr);
  }
  void TearDown() override {
    ch.reset();
    QCSDK_ReleaseSDK();
    std::filesystem::remove_all(dir);
  }
  static StreamInfoRecord Record(uint16_t codec, int w, int h, uint16_t kind, uint16_t audioCodec) {
    StreamInfoRecord r{};
    StoreLe16(r.data() + info::kDeviceType, 2);
    StoreLe16(r.data() + info::kVideoCodec, codec);
    StoreLe16(r.data() + info::kAudioPresent, audioCodec != 0 ? 1 : 0);
    StoreLe16(r.data() + info::kWidth, static_cast<uint16_t>(w));
    StoreLe16(r.data() + info::kHeight, static_cast<uint16_t>(h));
    StoreLe16(r.data() + info::kRateNum, 25);
    StoreLe16(r.data() + info::kRateDen, 1);
    StoreLe16(r.data() + info::kAudioCodec, audioCodec);
    StoreLe16(r.data() + info::kAudioParam1, 8000);
    StoreLe16(r.data() + info::kAudioParam2, 1);
    StoreLe16(r.data() + info::kAudioParam3, 16);
    StoreLe16(r.data() + info::kRecordKind, kind);
    return r;
  }
  bool WaitDecoded(std::size_t count) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(10000));
    while (host.Decoded().size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
};

TEST_F(StreamE2eTest, DecodedPicturesAndSnapshotOfRealFrames) {
  // A flat red picture: Y 81, U 90, V 240 converts to about (0, 0, 255).
  PatternOptions options;
  options.width = 176;
  options.height = 144;
  options.frames = 10;
  options.flat = std::array<uint8_t, 3>{81, 90, 240};
  const auto frames = EncodePattern(options);
  const auto r = Record(1, 176, 144, 3, 0);
  ch->OnStreamInfo(r.data());
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  for (const auto& f : frames) {
    ch->OnFrame(f.key ? QCSDK_FRAME_KEY : QCSDK_FRAME_P, f.data.data(),
                static_cast<int32_t>(f.data.size()));
  }
  ASSERT_TRUE(WaitDecoded(frames.size()));
  const auto decoded = host.Decoded();
  EXPECT_EQ(decoded.back().width, 176);
  EXPECT_EQ(decoded.back().height, 144);
  uint8_t* buffer = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 1);
  ASSERT_EQ(w, 176);
  ASSERT_EQ(h, 144);
  for (int i = 0; i < w * h; i += 97) {
    EXPECT_NEAR(buffer[i * 4 + 0], 0, 12) << i;
    EXPECT_NEAR(buffer[i * 4 + 1], 0, 12) << i;
    EXPECT_NEAR(buffer[i * 4 + 2], 255, 12) << i;
    EXPECT_EQ(buffer[i * 4 + 3], 255);
  }
  QCSDK_FreeBitmapBuffer(buffer);
  const std::string bmp = (dir / "shot.bmp").string();
  ASSERT_EQ(QCSDK_SaveBitmap(0, bmp.c_str()), 1);
  EXPECT_EQ(std::filesystem::file_size(bmp), 54u + 176u * 144u * 4u);
}

TEST_F(StreamE2eTest, Mp4RecordingReadsBack) {
  PatternOptions options;
  options.frames = 50;
  const auto frames = EncodePattern(options);
  ToneOptions tone;
  tone.codec = ToneCodec::kG711ALaw;
  tone.packets = 50;
  const auto audio = EncodeTone(tone);
  const auto r = Record(1, 320, 240, 3, 1);
  ch->OnStreamInfo(r.data());
  const std::string file = (dir / "live.mp4").string();
  ASSERT_EQ(QCSDK_StartRec(0, file.c_str()), 1);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    ch->OnFrame(frames[i].key ? QCSDK_FRAME_KEY : QCSDK_FRAME_P, frames[i].data.data(),
                static_cast<int32_t>(frames[i].data.size()));
    ch->OnFrame(QCSDK_FRAME_AUDIO, audio[i].data(), static_cast<int32_t>(audio[i].size()));
  }
  ASSERT_EQ(QCSDK_StopRec(0), 1);
  const MediaProbe p = ProbeMedia(file);
  EXPECT_EQ(p.videoCodec, "h264");
  EXPECT_EQ(p.width, 320);
  EXPECT_EQ(p.height, 240);
  EXPECT_EQ(p.videoFrames, 50);
  EXPECT_EQ(p.audioCodec, "pcm_alaw");
  EXPECT_GT(p.audioFrames, 0);
  EXPECT_NEAR(p.videoSeconds, 49 / 25.0, 0.05);
  EXPECT_TRUE(std::filesystem::exists(file + ".qdx"));

  // The same file through ffprobe, as a player would see it.
  const std::string command =
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,nb_read_frames -of csv=p=0 '" +
      file + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, pipe.get()), nullptr);
  EXPECT_EQ(std::string(line), "h264,50\n");
}

TEST_F(StreamE2eTest, DownloadConvertedToMp4) {
  PatternOptions options;
  options.codec = PatternCodec::kH265;
  options.frames = 40;
  const auto frames = EncodePattern(options);
  const std::string file = (dir / "download.mp4").string();
  ASSERT_EQ(QCSDK_DownloadRemoteFile(0, 0, file.c_str()), 1);
  StreamInfoRecord header = Record(2, 320, 240, 4, 0);
  std::memcpy(header.data() + info::kFileTag, "QFH", 3);
  StoreLe32(header.data() + info::kTotalFrames, 40);
  ch->OnDownloadData(0, header.data(), 96, 123456);
  // Blocks of ten chunks, 40 ms apart.
  for (std::size_t start = 0; start < frames.size(); start += 10) {
    std::vector<uint8_t> block;
    for (std::size_t i = start; i < start + 10; ++i) {
      uint8_t head[16] = {'Q', 'V', 'S', 0, static_cast<uint8_t>(frames[i].key ? 1 : 2)};
      const uint32_t size = static_cast<uint32_t>(frames[i].data.size());
      head[5] = static_cast<uint8_t>(size);
      head[6] = static_cast<uint8_t>(size >> 8);
      head[7] = static_cast<uint8_t>(size >> 16);
      StoreLe64(head + 8, 1000 + 40 * i);
      block.insert(block.end(), head, head + 16);
      block.insert(block.end(), frames[i].data.begin(), frames[i].data.end());
    }
    ch->OnDownloadData(0, block.data(), static_cast<int32_t>(block.size()), 123456);
  }
  ch->OnDownloadData(1, nullptr, 0, 0);
  std::vector<int32_t> progress;
  for (const auto& d : host.Downloads()) progress.push_back(d.code == 0 ? d.progress : -d.code);
  EXPECT_EQ(progress, (std::vector<int32_t>{2500, 5000, 7500, 10000, -1}));
  const MediaProbe p = ProbeMedia(file);
  EXPECT_EQ(p.videoCodec, "hevc");
  EXPECT_EQ(p.videoFrames, 40);
  EXPECT_NEAR(p.videoSeconds, 39 * 0.040, 0.01);
}

}  // namespace
}  // namespace qcsdk::test
