// Whole packages written through the C interface and read back with
// libavformat: codecs, frame counts, times, audio, the index, and ffprobe.
#include <gtest/gtest.h>
#include <qp/qp.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "media.h"
#include "qdx_index.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qp_test {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

QP_Handle Open(const std::string& file, const char* index, float fps, bool audio, int32_t format) {
  QP_VideoDesc desc{kWidth, kHeight, fps, {0, 0, 0, 0}};
  return QP_OpenPackage(&desc, 1, audio ? 1 : 0, file.c_str(), index, format, 0);
}

int32_t Put(QP_Handle h, int32_t kind, const std::vector<uint8_t>& data, int64_t timestamp = 0) {
  QP_Frame frame{kind, data.data(), static_cast<int32_t>(data.size()), 0, timestamp, 0};
  return QP_PackageOneFrame(h, &frame);
}

// Encoded once per test process.
const std::vector<VideoFrame>& H264() {
  static const std::vector<VideoFrame> frames = EncodeVideo("libx264", kWidth, kHeight, 25, 50, 25);
  return frames;
}
const std::vector<VideoFrame>& H265() {
  static const std::vector<VideoFrame> frames = EncodeVideo("libx265", kWidth, kHeight, 25, 40, 20);
  return frames;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (H264().size() != 50) GTEST_SKIP() << "libx264 is not available";
  }
  TempDir dir_;
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(PackageTest, H264FromFrameRateWithIndex) {
  const std::string file = dir_.File("live.mp4");
  const std::string index = file + ".qdx";
  QP_Handle h = Open(file, index.c_str(), 25.0f, false, 0);
  ASSERT_NE(h, nullptr);
  for (const VideoFrame& f : H264()) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, f.data), 1);
  EXPECT_EQ(QP_ClosePackage(h), 1);

  auto media = Summarise(file);
  ASSERT_TRUE(media);
  EXPECT_NE(media->format.find("mp4"), std::string::npos);
  ASSERT_TRUE(media->video);
  EXPECT_FALSE(media->audio);
  const StreamSummary& v = *media->video;
  EXPECT_EQ(v.codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(v.width, kWidth);
  EXPECT_EQ(v.height, kHeight);
  ASSERT_FALSE(v.extradata.empty());
  EXPECT_EQ(v.extradata[0], 1);  // avcC, not Annex B
  ASSERT_EQ(v.pts_ms.size(), 50u);
  for (size_t i = 0; i < v.pts_ms.size(); ++i) {
    EXPECT_EQ(v.pts_ms[i], static_cast<int64_t>(i) * 40) << i;
    EXPECT_EQ(v.keys[i], H264()[i].key) << i;
  }
  EXPECT_EQ(v.end_ms, 2000);

  // The index: one entry per key frame, pointing at the fragment's 'moof'
  // that holds it as its first video sample.
  auto qdx = qp::ReadQdx(index);
  ASSERT_TRUE(qdx);
  EXPECT_FALSE(qdx->truncated);
  EXPECT_EQ(qdx->header.video_codec, 1);
  EXPECT_EQ(qdx->header.audio_codec, 0);
  EXPECT_EQ(qdx->header.width, static_cast<uint32_t>(kWidth));
  EXPECT_EQ(qdx->header.height, static_cast<uint32_t>(kHeight));
  EXPECT_FLOAT_EQ(qdx->header.frame_rate, 25.0f);
  const std::vector<uint8_t> mp4 = ReadBytes(file);
  std::vector<size_t> key_frames;
  for (size_t i = 0; i < H264().size(); ++i) {
    if (H264()[i].key) key_frames.push_back(i);
  }
  ASSERT_EQ(qdx->entries.size(), key_frames.size());
  for (size_t k = 0; k < key_frames.size(); ++k) {
    const qp::QdxEntry& e = qdx->entries[k];
    const size_t frame = key_frames[k];
    EXPECT_EQ(e.frame_number, frame);
    EXPECT_EQ(e.time_ms, v.pts_ms[frame]);
    ASSERT_LT(e.offset + 8, mp4.size());
    EXPECT_EQ(std::string(mp4.begin() + static_cast<long>(e.offset) + 4,
                          mp4.begin() + static_cast<long>(e.offset) + 8),
              "moof");
    // The key frame's data is the first video sample after that 'moof'.
    EXPECT_GT(v.pos[frame], static_cast<int64_t>(e.offset));
    if (frame > 0) {
      EXPECT_LT(v.pos[frame - 1], static_cast<int64_t>(e.offset));
    }
  }
}

TEST_F(PackageTest, UnusableFrameRatesFallBackTo25AndOthersAreKept) {
  const std::map<float, double> rates = {{std::numeric_limits<float>::quiet_NaN(), 40.0},
                                         {std::numeric_limits<float>::infinity(), 40.0},
                                         {0.0f, 40.0},
                                         {-5.0f, 40.0},
                                         {1e9f, 40.0},
                                         {30.0f, 1000.0 / 30},
                                         {12.5f, 80.0}};
  int n = 0;
  for (const auto& [fps, step_ms] : rates) {
    const std::string file = dir_.File("rate" + std::to_string(n++) + ".mp4");
    QP_Handle h = Open(file, nullptr, fps, false, QP_VIDEO_H264);
    ASSERT_NE(h, nullptr);
    for (size_t i = 0; i < 30; ++i) Put(h, QP_FRAME_VIDEO, H264()[i].data);
    QP_ClosePackage(h);
    auto media = Summarise(file);
    ASSERT_TRUE(media && media->video) << fps;
    ASSERT_EQ(media->video->pts_ms.size(), 30u) << fps;
    for (size_t i = 0; i < 30; ++i) {
      EXPECT_NEAR(media->video->pts_ms[i], step_ms * static_cast<double>(i), 1.0) << fps;
    }
  }
}

TEST_F(PackageTest, H265RecognisedFromStreamOrDeclared) {
  if (H265().size() != 40) GTEST_SKIP() << "libx265 is not available";
  for (int32_t format : {0, QP_VIDEO_H265}) {
    const std::string file = dir_.File("hevc" + std::to_string(format) + ".mp4");
    QP_Handle h = Open(file, nullptr, 25.0f, false, format);
    ASSERT_NE(h, nullptr);
    for (const VideoFrame& f : H265()) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, f.data), 1);
    QP_ClosePackage(h);
    auto media = Summarise(file);
    ASSERT_TRUE(media && media->video);
    EXPECT_EQ(media->video->codec_id, AV_CODEC_ID_HEVC);
    EXPECT_EQ(media->video->codec_tag, MKTAG('h', 'v', 'c', '1'));
    ASSERT_FALSE(media->video->extradata.empty());
    EXPECT_EQ(media->video->extradata[0], 1);  // hvcC version
    EXPECT_EQ(media->video->pts_ms.size(), 40u);
    EXPECT_EQ(media->video->end_ms, 1600);
  }
  // A declared codec is trusted: H.265 frames in an H.264 package never
  // start it, so nothing is written.
  const std::string file = dir_.File("mismatch.mp4");
  QP_Handle h = Open(file, nullptr, 25.0f, false, QP_VIDEO_H264);
  for (const VideoFrame& f : H265()) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, f.data), 0);
  QP_ClosePackage(h);
  EXPECT_TRUE(ReadBytes(file).empty());
}

TEST_F(PackageTest, FramesBeforeTheFirstKeyFrameAreDropped) {
  const std::string file = dir_.File("late.mp4");
  QP_Handle h = Open(file, nullptr, 25.0f, false, 0);
  for (size_t i = 10; i < 25; ++i) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data), 0) << i;
  for (size_t i = 25; i < 50; ++i) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data), 1) << i;
  QP_ClosePackage(h);
  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video);
  ASSERT_EQ(media->video->pts_ms.size(), 25u);
  EXPECT_TRUE(media->video->keys[0]);
  EXPECT_EQ(media->video->pts_ms[0], 0);
}

TEST_F(PackageTest, TimestampsFromRecordsWithJitterAndDiscontinuities) {
  const std::string file = dir_.File("stamped.mp4");
  QP_Handle h = Open(file, nullptr, 25.0f, false, QP_VIDEO_H264);
  const int64_t t0 = 1'700'000'000'000;
  std::vector<int64_t> stamps;
  for (int i = 0; i < 50; ++i) stamps.push_back(t0 + i * 33 + (i % 3));
  // Frame 30 jumps an hour back (a new recording segment); frame 40 repeats
  // the stamp of frame 39.
  for (int i = 30; i < 50; ++i) stamps[i] -= 3'600'000;
  stamps[40] = stamps[39];
  for (size_t i = 0; i < 50; ++i) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data, stamps[i]), 1);
  QP_ClosePackage(h);

  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video);
  const std::vector<int64_t>& pts = media->video->pts_ms;
  ASSERT_EQ(pts.size(), 50u);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(pts[i], stamps[i] - t0) << i;
  // After the jump: right after frame 29 (one step of the last interval),
  // then following the stamps again.
  EXPECT_EQ(pts[30] - pts[29], pts[29] - pts[28]);
  for (int i = 31; i < 40; ++i) EXPECT_EQ(pts[i] - pts[30], stamps[i] - stamps[30]) << i;
  EXPECT_GT(pts[40], pts[39]);
  for (size_t i = 1; i < pts.size(); ++i) EXPECT_GT(pts[i], pts[i - 1]) << i;
}

struct AudioCase {
  const char* name;
  int32_t format;
  int set_rate;  // QP_SetAudioFormat, 0 = not called
  int set_channels;
  int codec_id;
  int rate;
  int channels;
};

TEST_F(PackageTest, G711AudioInTheQuickTimeStructure) {
  const AudioCase cases[] = {
      {"alaw", QP_AUDIO_ALAW, 0, 0, AV_CODEC_ID_PCM_ALAW, 8000, 1},
      {"ulaw", QP_AUDIO_ULAW, 16000, 1, AV_CODEC_ID_PCM_MULAW, 16000, 1},
      {"alaw2", QP_AUDIO_ALAW, 8000, 2, AV_CODEC_ID_PCM_ALAW, 8000, 2},
  };
  for (const AudioCase& c : cases) {
    const std::string file = dir_.File(std::string(c.name) + ".mp4");
    QP_Handle h = Open(file, nullptr, 25.0f, true, c.format);
    if (c.set_rate != 0) {
      ASSERT_EQ(QP_SetAudioFormat(h, c.set_rate, c.set_channels), 1);
    }
    // 20 ms of audio after each 40 ms video frame, twice: 2 s of each.
    const size_t bytes = static_cast<size_t>(c.rate / 50 * c.channels);
    const std::vector<uint8_t> tone = G711Tone(bytes, c.format == QP_AUDIO_ALAW);
    for (const VideoFrame& f : H264()) {
      EXPECT_EQ(Put(h, QP_FRAME_VIDEO, f.data), 1);
      EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone), 1);
      EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone), 1);
    }
    EXPECT_EQ(QP_SetAudioFormat(h, 8000, 1), 0);  // too late
    QP_ClosePackage(h);
    auto media = Summarise(file);
    ASSERT_TRUE(media && media->video && media->audio) << c.name;
    EXPECT_EQ(media->video->pts_ms.size(), 50u);
    EXPECT_EQ(media->audio->codec_id, c.codec_id) << c.name;
    EXPECT_EQ(media->audio->sample_rate, c.rate) << c.name;
    EXPECT_EQ(media->audio->channels, c.channels) << c.name;
    EXPECT_EQ(media->audio->pts_ms.front(), 0);
    EXPECT_EQ(media->audio->end_ms, 2000) << c.name;
  }
}

TEST_F(PackageTest, AacRawAndAdtsAudio) {
  struct Case {
    const char* name;
    int rate;
    int channels;
    bool adts;
    int set_rate;
  };
  // Raw frames need the rate from QP_SetAudioFormat (8000 Hz mono without);
  // ADTS frames carry theirs and override it.
  const Case cases[] = {{"raw8k", 8000, 1, false, 0},
                        {"raw16k", 16000, 1, false, 16000},
                        {"adts16k2", 16000, 2, true, 0},
                        {"adts44k", 44100, 1, true, 8000}};
  for (const Case& c : cases) {
    const AacStream aac = EncodeAac(c.rate, c.channels, 40);
    ASSERT_EQ(aac.frames.size(), 40u);
    const std::string file = dir_.File(std::string(c.name) + ".mp4");
    QP_Handle h = Open(file, (file + ".qdx").c_str(), 25.0f, true, QP_AUDIO_AAC);
    if (c.set_rate != 0) {
      ASSERT_EQ(QP_SetAudioFormat(h, c.set_rate, 1), 1);
    }
    // Video runs ahead of the audio for a few frames: the library waits for
    // the first audio frame before it fixes the AAC configuration.
    size_t next_audio = 0;
    for (size_t i = 0; i < H264().size(); ++i) {
      EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data), 1);
      if (i >= 5 && next_audio < aac.frames.size()) {
        const std::vector<uint8_t>& raw = aac.frames[next_audio++];
        EXPECT_EQ(Put(h, QP_FRAME_AUDIO, c.adts ? WithAdts(raw, c.rate, c.channels) : raw), 1);
      }
    }
    QP_ClosePackage(h);
    auto media = Summarise(file);
    ASSERT_TRUE(media && media->video && media->audio) << c.name;
    EXPECT_NE(media->format.find("mp4"), std::string::npos);
    EXPECT_EQ(media->video->pts_ms.size(), 50u) << c.name;
    EXPECT_EQ(media->audio->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(media->audio->sample_rate, c.rate) << c.name;
    EXPECT_EQ(media->audio->channels, c.channels) << c.name;
    // The AudioSpecificConfig says what the encoder's says (the encoder
    // appends an explicit "no SBR" extension that ours leaves out).
    ASSERT_GE(media->audio->extradata.size(), 2u);
    EXPECT_EQ(media->audio->extradata[0], aac.config[0]) << c.name;
    EXPECT_EQ(media->audio->extradata[1], aac.config[1]) << c.name;
    ASSERT_EQ(media->audio->pts_ms.size(), 40u) << c.name;
    EXPECT_NEAR(media->audio->end_ms, 40 * 1024 * 1000.0 / c.rate, 1.0) << c.name;
    auto qdx = qp::ReadQdx(file + ".qdx");
    ASSERT_TRUE(qdx);
    EXPECT_EQ(qdx->header.audio_codec, 3);
    EXPECT_EQ(qdx->entries.size(), 2u);
  }
}

TEST_F(PackageTest, AacWithoutAnyAudioStillWritesTheVideo) {
  const std::string file = dir_.File("silent.mp4");
  QP_Handle h = Open(file, nullptr, 25.0f, true, QP_AUDIO_AAC);
  for (const VideoFrame& f : H264()) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, f.data), 1);
  QP_ClosePackage(h);
  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video && media->audio);
  EXPECT_EQ(media->video->pts_ms.size(), 50u);
  EXPECT_EQ(media->audio->sample_rate, 8000);
  EXPECT_TRUE(media->audio->pts_ms.empty());

  // Fewer frames than the wait: Close writes them.
  const std::string short_file = dir_.File("short.mp4");
  h = Open(short_file, nullptr, 25.0f, true, QP_AUDIO_AAC);
  for (size_t i = 0; i < 10; ++i) Put(h, QP_FRAME_VIDEO, H264()[i].data);
  QP_ClosePackage(h);
  media = Summarise(short_file);
  ASSERT_TRUE(media && media->video);
  EXPECT_EQ(media->video->pts_ms.size(), 10u);
}

TEST_F(PackageTest, TimestampedAudioKeepsItsDistanceToTheVideo) {
  const std::string file = dir_.File("av.mp4");
  QP_Handle h = Open(file, nullptr, 25.0f, true, QP_AUDIO_ULAW);
  const int64_t t0 = 5'000'000;
  const std::vector<uint8_t> tone = G711Tone(160, false);
  // Audio stamped before the first video frame precedes the file and is
  // dropped; from 200 ms on it lands at its stamp.
  EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone, t0 - 100), 0);
  int audio_frames = 0;
  for (size_t i = 0; i < H264().size(); ++i) {
    const int64_t t = t0 + static_cast<int64_t>(i) * 40;
    EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data, t), 1);
    if (i >= 5) {
      EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone, t0 + 200 + audio_frames * 20 + (audio_frames % 2)), 1);
      ++audio_frames;
      EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone, t0 + 200 + audio_frames * 20), 1);
      ++audio_frames;
    }
  }
  QP_ClosePackage(h);
  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video && media->audio);
  EXPECT_EQ(media->audio->pts_ms.front(), 200);
  // Jitter of a millisecond is absorbed: the audio stays gap-free.
  EXPECT_EQ(media->audio->end_ms, 200 + audio_frames * 20);
}

// ffprobe's streams of a file: one key=value map per stream, in file order.
std::vector<std::map<std::string, std::string>> Ffprobe(const std::string& file) {
  const std::string command =
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,codec_name,codec_tag_string,width,height,sample_rate,nb_read_frames "
      "-of default=noprint_wrappers=1 '" +
      file + "' 2>&1";
  std::vector<std::map<std::string, std::string>> streams;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return streams;
  std::string output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  if (pclose(pipe) != 0) {
    ADD_FAILURE() << "ffprobe failed: " << output;
    return {};
  }
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || (streams.empty() && line.compare(0, eq, "codec_name") != 0)) {
      ADD_FAILURE() << "unexpected ffprobe output: " << output;
      return {};
    }
    if (line.compare(0, eq, "codec_name") == 0) streams.emplace_back();
    streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return streams;
}

// ffprobe, as a user would run it, reads and decodes what we wrote.
TEST_F(PackageTest, FfprobeReadsAndDecodesTheFiles) {
  if (std::system("command -v ffprobe > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
  const std::string file = dir_.File("probe.mp4");
  const AacStream aac = EncodeAac(16000, 1, 30);
  QP_Handle h = Open(file, nullptr, 25.0f, true, QP_AUDIO_AAC);
  for (size_t i = 0; i < H264().size(); ++i) {
    Put(h, QP_FRAME_VIDEO, H264()[i].data);
    if (i < aac.frames.size()) Put(h, QP_FRAME_AUDIO, WithAdts(aac.frames[i], 16000, 1));
  }
  QP_ClosePackage(h);
  auto streams = Ffprobe(file);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], "h264");
  EXPECT_EQ(streams[0]["codec_type"], "video");
  EXPECT_EQ(streams[0]["codec_tag_string"], "avc1");
  EXPECT_EQ(streams[0]["width"], std::to_string(kWidth));
  EXPECT_EQ(streams[0]["height"], std::to_string(kHeight));
  EXPECT_EQ(streams[0]["nb_read_frames"], "50");
  EXPECT_EQ(streams[1]["codec_name"], "aac");
  EXPECT_EQ(streams[1]["sample_rate"], "16000");
  EXPECT_EQ(streams[1]["nb_read_frames"], "30");

  // H.265 with G.711 (the QuickTime structure).
  if (H265().empty()) return;
  const std::string hevc = dir_.File("probe265.mp4");
  h = Open(hevc, nullptr, 25.0f, true, QP_VIDEO_H265 | QP_AUDIO_ULAW);
  const std::vector<uint8_t> tone = G711Tone(320, false);
  for (const VideoFrame& f : H265()) {
    Put(h, QP_FRAME_VIDEO, f.data);
    Put(h, QP_FRAME_AUDIO, tone);
  }
  QP_ClosePackage(h);
  streams = Ffprobe(hevc);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], "hevc");
  EXPECT_EQ(streams[0]["codec_tag_string"], "hvc1");
  EXPECT_EQ(streams[0]["nb_read_frames"], std::to_string(H265().size()));
  EXPECT_EQ(streams[1]["codec_name"], "pcm_mulaw");
  EXPECT_EQ(streams[1]["codec_tag_string"], "ulaw");
  EXPECT_EQ(streams[1]["sample_rate"], "8000");
}

}  // namespace
}  // namespace qp_test
