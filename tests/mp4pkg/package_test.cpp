// Whole packages written through the C interface and read back with libavformat: codecs, frame
// counts, times, audio and the index, also of a killed writer; bad arguments and handles.
#include <gmock/gmock.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "media.h"
#include "qdx_index.h"
#include "support/table_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qp_test {
namespace {

using qcsdk::test::Table;
using qcsdk::test::TableRow;

// Checks `file`.qdx against the video read back: each entry names a key frame, its time and the
// offset of the 'moof' of the fragment it starts. Returns the index read (empty if none).
qp::QdxFile ExpectIndexMatches(const std::string& file, const StreamSummary& video) {
  const auto qdx = qp::ReadQdx(file + ".qdx");
  EXPECT_TRUE(qdx && !qdx->truncated);
  if (!qdx) return {};
  std::ifstream in(file, std::ios::binary);
  const std::string mp4{std::istreambuf_iterator<char>(in), {}};
  for (const qp::QdxEntry& e : qdx->entries) {
    const size_t frame = e.frame_number;
    SCOPED_TRACE(frame);
    if (frame >= video.pts_ms.size() || e.offset + 8 > mp4.size()) {
      ADD_FAILURE() << "index entry beyond the file";
      continue;
    }
    EXPECT_TRUE(video.keys[frame]);
    EXPECT_EQ(e.time_ms, video.pts_ms[frame]);
    EXPECT_EQ(mp4.substr(e.offset + 4, 4), "moof");
    // The key frame's data is the first video sample after that 'moof'.
    EXPECT_GT(video.pos[frame], static_cast<int64_t>(e.offset));
    if (frame > 0) {
      EXPECT_LT(video.pos[frame - 1], static_cast<int64_t>(e.offset));
    }
  }
  return *qdx;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (H264().empty()) GTEST_SKIP() << "libx264 is not available";
  }
  TempDir dir_;
};

TEST_F(PackageTest, EveryFormatValueWritesItsCodecs) {
  if (H265().size() != 40) GTEST_SKIP() << "libx265 is not available";
  const std::map<std::string, int> codecOf = {
      {"alaw", AV_CODEC_ID_PCM_ALAW}, {"ulaw", AV_CODEC_ID_PCM_MULAW}, {"mp4a", AV_CODEC_ID_AAC}};
  int n = 0;
  for (const TableRow& table : Table("mp4pkg/package_formats.md")) {
    SCOPED_TRACE(table.Where());
    const std::string sound = table.Text("audio");
    const bool hevc = table.Text("frames") == "h265";
    const auto rate = static_cast<int>(table.Int("rate"));
    const auto channels = static_cast<int>(table.Int("channels"));
    const std::string file = dir_.File("f" + std::to_string(n++) + ".mp4");
    QP_Handle h = Open(file, (file + ".qdx").c_str(), sound != "none",
                       static_cast<int32_t>(table.Int("format")));
    ASSERT_NE(h, nullptr);
    if (table.Text("set rate") != "-") {
      ASSERT_EQ(QP_SetAudioFormat(h, static_cast<int32_t>(table.Int("set rate")),
                                  static_cast<int32_t>(table.Int("set channels"))),
                1);
    }
    const bool aac = sound.starts_with("aac");
    const ToneCodec tone = aac               ? ToneCodec::kAac
                           : sound == "alaw" ? ToneCodec::kG711ALaw
                                             : ToneCodec::kG711MuLaw;
    const std::vector<MediaFrame> video =
        hevc ? H265() : std::vector<MediaFrame>(H264().begin(), H264().begin() + 50);
    const size_t samples = aac ? 1024 : 160;
    // As much audio as video; an audio frame goes in once it starts before the video written ends.
    const size_t count = video.size() * static_cast<size_t>(rate) / 25 / samples;
    const auto audio = sound == "none" ? std::vector<std::vector<uint8_t>>{}
                                       : Audio(tone, rate, channels, static_cast<int>(count));
    EXPECT_EQ(Put(h, QP_FRAME_VIDEO, video[1].data), 0);  // before the first key frame
    size_t next = 0;
    for (size_t i = 0; i < video.size(); ++i) {
      EXPECT_EQ(Put(h, QP_FRAME_VIDEO, video[i].data), 1);
      for (; next < audio.size() && next * samples * 25 < (i + 1) * static_cast<size_t>(rate);
           ++next) {
        const auto& block = audio[next];
        EXPECT_EQ(
            Put(h, QP_FRAME_AUDIO, sound == "aac adts" ? WithAdts(block, rate, channels) : block),
            1);
      }
    }
    EXPECT_EQ(QP_SetAudioFormat(h, 8000, 1), 0);  // too late
    EXPECT_EQ(QP_ClosePackage(h), 1);

    const auto media = Summarise(file);
    ASSERT_TRUE(media && media->video);
    EXPECT_THAT(media->format, ::testing::HasSubstr("mp4"));
    EXPECT_EQ(media->video->codec_id, hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    EXPECT_EQ(media->video->tag, hevc ? "hvc1" : "avc1");
    ASSERT_FALSE(media->video->extradata.empty());
    EXPECT_EQ(media->video->extradata[0], 1);  // avcC/hvcC, not Annex B
    EXPECT_EQ(std::pair(media->video->width, media->video->height), std::pair(kWidth, kHeight));
    ASSERT_EQ(media->video->pts_ms.size(), video.size());
    EXPECT_EQ(media->video->end_ms, static_cast<int64_t>(video.size()) * 40);
    size_t keys = 0;
    for (size_t i = 0; i < video.size(); ++i) {
      EXPECT_EQ(media->video->keys[i], video[i].key) << i;
      keys += video[i].key ? 1 : 0;
    }
    const qp::QdxFile qdx = ExpectIndexMatches(file, *media->video);
    EXPECT_EQ(qdx.entries.size(), keys);
    const qp::QdxHeader& q = qdx.header;
    EXPECT_EQ(std::tuple(q.video_codec, q.audio_codec, q.width, q.height, q.frame_rate),
              std::tuple(hevc ? 2 : 1, table.Int("index audio"), kWidth, kHeight, 25.0f));
    if (sound == "none") {
      EXPECT_FALSE(media->audio);
      continue;
    }
    ASSERT_TRUE(media->audio && !media->audio->pts_ms.empty());
    const StreamSummary& a = *media->audio;
    const std::string& entry = table.Text("sample entry");
    EXPECT_EQ(
        std::tuple(a.codec_id, a.tag, a.pts_ms.size(), a.sample_rate, a.channels, a.pts_ms[0]),
        std::tuple(codecOf.at(entry), entry, audio.size(), rate, channels, 0));
    EXPECT_NEAR(a.end_ms, 1000.0 * static_cast<double>(audio.size() * samples) / rate, 1.0);
    if (aac) {
      ASSERT_GE(a.extradata.size(), 2u);
      EXPECT_EQ(a.extradata[0] << 8 | a.extradata[1], table.Int("AAC config"));
    }
  }
  // A declared codec is trusted: H.265 frames never start an H.264 package.
  const std::string file = dir_.File("mismatch.mp4");
  QP_Handle h = Open(file, nullptr, false, QP_VIDEO_H264);
  for (const auto& f : H265()) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, f.data), 0);
  QP_ClosePackage(h);
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST_F(PackageTest, UnusableFrameRatesFallBackTo25AndOthersAreKept) {
  int n = 0;
  for (const TableRow& row : Table("mp4pkg/frame_rates.md")) {
    SCOPED_TRACE(row.Where());
    const float fps = std::stof(row.Text("given"));
    const double step_ms = 1000 / std::stod(row.Text("written"));
    const std::string file = dir_.File("rate" + std::to_string(n++) + ".mp4");
    QP_Handle h = Open(file, nullptr, false, QP_VIDEO_H264, fps);
    ASSERT_NE(h, nullptr);
    for (size_t i = 0; i < 30; ++i) Put(h, QP_FRAME_VIDEO, H264()[i].data);
    QP_ClosePackage(h);
    const auto media = Summarise(file);
    ASSERT_TRUE(media && media->video);
    ASSERT_EQ(media->video->pts_ms.size(), 30u);
    for (size_t i = 0; i < 30; ++i)
      EXPECT_NEAR(media->video->pts_ms[i], step_ms * static_cast<double>(i), 1.0);
  }
}

TEST_F(PackageTest, StampedAudioKeepsItsDistanceToTheVideoAndAacWaitsForItsFirstFrame) {
  const std::string file = dir_.File("av.mp4");
  QP_Handle h = Open(file, nullptr, true, QP_AUDIO_ULAW);
  const int64_t t0 = 5'000'000;
  const auto tone = Audio(ToneCodec::kG711MuLaw, 8000, 1, 1)[0];
  // Audio stamped before the first video frame precedes the file: dropped; later, at its stamp.
  EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone, t0 - 100), 0);
  int audioFrames = 0;
  for (size_t i = 0; i < H264().size(); ++i) {
    const int64_t t = t0 + static_cast<int64_t>(i) * 40;
    EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data, t), 1);
    for (int k = 0; k < 2 && i >= 5; ++k, ++audioFrames)
      EXPECT_EQ(Put(h, QP_FRAME_AUDIO, tone, t0 + 200 + audioFrames * 20 + (audioFrames % 2)), 1);
  }
  QP_ClosePackage(h);
  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video && media->audio);
  EXPECT_EQ(media->audio->pts_ms.front(), 200);
  // Jitter of a millisecond is absorbed: the audio stays gap-free.
  EXPECT_EQ(media->audio->end_ms, 200 + audioFrames * 20);

  // AAC without any audio frame: the video is written all the same, once the wait for the first
  // audio frame has reached two seconds (51 frames), or at the close when there are fewer frames.
  for (size_t frames : {size_t{51}, size_t{10}}) {
    const std::string silent = dir_.File("silent" + std::to_string(frames) + ".mp4");
    h = Open(silent, nullptr, true, QP_AUDIO_AAC);
    for (size_t i = 0; i < frames; ++i) EXPECT_EQ(Put(h, QP_FRAME_VIDEO, H264()[i].data), 1);
    QP_ClosePackage(h);
    media = Summarise(silent);
    ASSERT_TRUE(media && media->video);
    EXPECT_EQ(media->video->pts_ms.size(), frames);
  }
}

#ifndef _WIN32
// A recording process killed without closing: the file holds every frame up to the last finished
// fragment and the index points only at fragments that are in the file.
TEST_F(PackageTest, KilledRecorderLeavesAReadableFile) {
  const std::string file = dir_.File("killed.mp4"), index = file + ".qdx";
  const auto tone = Audio(ToneCodec::kG711ALaw, 8000, 1, 1)[0];
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QP_Handle h = Open(file, index.c_str(), true, QP_AUDIO_ALAW);
    if (h == nullptr) _exit(2);
    for (const MediaFrame& f : H264()) {
      if (Put(h, QP_FRAME_VIDEO, f.data) != 1) _exit(3);
      Put(h, QP_FRAME_AUDIO, tone);  // 40 ms of audio to each 40 ms frame
      Put(h, QP_FRAME_AUDIO, tone);
    }
    raise(SIGKILL);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  auto media = Summarise(file);
  ASSERT_TRUE(media && media->video && media->audio);
  // 150 frames in 6 s; at most the last fragment (one second, 25 frames) never reached the file.
  const size_t frames = media->video->pts_ms.size();
  EXPECT_GE(frames, 125u);
  EXPECT_LE(frames, 150u);
  for (size_t i = 0; i < frames; ++i)
    EXPECT_EQ(media->video->pts_ms[i], static_cast<int64_t>(i) * 40);
  EXPECT_GE(media->audio->end_ms, 4000);

  EXPECT_GE(ExpectIndexMatches(file, *media->video).entries.size(), 5u);
}
#endif

// What must never crash or corrupt: bad arguments and bad handles.
TEST(RobustnessTest, OpenChecksEveryArgument) {
  TempDir dir;
  const std::string file = dir.File("a.mp4");
  const char* f = file.c_str();
  const std::string index = dir.File("a.mp4.qdx");
  const char* ix = index.c_str();
  const QP_VideoDesc good{640, 480, 25.0f, {0, 0, 0, 0}};
  auto with = [](int w, int h) { return QP_VideoDesc{w, h, 25.0f, {0, 0, 0, 0}}; };
  const QP_VideoDesc bad_descs[] = {with(0, 480),    with(640, 0),       with(-1, 480),
                                    with(640, -480), with(INT_MAX, 480), with(640, 100000)};
  for (const QP_VideoDesc& d : bad_descs) EXPECT_EQ(QP_OpenPackage(&d, 1, 0, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(nullptr, 1, 0, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 0, 0, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, ix, 0, 1), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 2, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, -1, f, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, nullptr, ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, "", ix, 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, "", 0, 0), nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, f, 0, 0), nullptr);
  for (int32_t format : {3, 0xff, 0x300, 0x101 | 0x10000, -1, 0x400, INT_MIN})
    EXPECT_EQ(QP_OpenPackage(&good, 1, 1, f, ix, format, 0), nullptr) << format;
  const std::string long_name(5000, 'x');
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, long_name.c_str(), nullptr, 0, 0), nullptr);
  // Files that cannot be created.
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, dir.File("no/such/dir.mp4").c_str(), nullptr, 0, 0),
            nullptr);
  EXPECT_EQ(QP_OpenPackage(&good, 1, 0, f, dir.File("no/dir.qdx").c_str(), 0, 0), nullptr);
  EXPECT_FALSE(std::filesystem::exists(file) || std::filesystem::exists(index));

  // Every valid combination opens, and on POSIX a name with a colon is a file name (on Windows a
  // colon names a drive or a stream).
#ifdef _WIN32
  const std::string name = dir.File("xy.mp4");
#else
  const std::string name = dir.File("x:y.mp4");
#endif
  for (int32_t video : {0, QP_VIDEO_H264, QP_VIDEO_H265}) {
    for (int32_t audio : {QP_AUDIO_ALAW, QP_AUDIO_ULAW, QP_AUDIO_AAC}) {
      QP_Handle h = QP_OpenPackage(&good, 1, 1, name.c_str(), nullptr, video | audio, 0);
      EXPECT_NE(h, nullptr);
      EXPECT_EQ(QP_ClosePackage(h), 1);
    }
  }
  EXPECT_TRUE(std::filesystem::exists(name));
}

TEST(RobustnessTest, FramesAndHandlesAreChecked) {
  TempDir dir;
  QP_Handle h = Open(dir.File("b.mp4"), nullptr, false, 0);
  ASSERT_NE(h, nullptr);
  const std::vector<uint8_t> bytes(64, 0);
  int local = 0;
  for (QP_Handle bad :
       {QP_Handle{nullptr}, reinterpret_cast<QP_Handle>(0x1234),
        reinterpret_cast<QP_Handle>(&local), reinterpret_cast<QP_Handle>(~uintptr_t{0})}) {
    EXPECT_EQ(Put(bad, QP_FRAME_VIDEO, bytes), 0);
    EXPECT_EQ(QP_SetAudioFormat(bad, 8000, 1), 0);
    EXPECT_EQ(QP_ClosePackage(bad), 0);
  }
  EXPECT_EQ(QP_PackageOneFrame(h, nullptr), 0);
  QP_Frame frame{QP_FRAME_VIDEO, nullptr, 64, 0, 0, 0};
  EXPECT_EQ(QP_PackageOneFrame(h, &frame), 0);
  frame.data = bytes.data();
  for (int32_t length : {0, -1, INT_MIN, INT_MAX}) {
    frame.length = length;
    EXPECT_EQ(QP_PackageOneFrame(h, &frame), 0) << length;
  }
  frame.length = 64;
  for (int32_t kind : {0, 3, -1, 0x101}) {
    frame.kind = kind;
    EXPECT_EQ(QP_PackageOneFrame(h, &frame), 0) << kind;
  }
  // Audio into a package without audio; audio settings out of range.
  EXPECT_EQ(Put(h, QP_FRAME_AUDIO, bytes), 0);
  for (auto [rate, channels] : {std::pair{7999, 1}, {8000, 3}, {8000, 0}})
    EXPECT_EQ(QP_SetAudioFormat(h, rate, channels), 0) << rate << "/" << channels;
  EXPECT_EQ(QP_ClosePackage(h), 1);
  EXPECT_EQ(QP_ClosePackage(h), 0);
  EXPECT_EQ(Put(h, QP_FRAME_VIDEO, bytes), 0);
  // Handles are not reused: a new package never answers to the old one.
  QP_Handle again = Open(dir.File("c.mp4"), nullptr, false, 0);
  EXPECT_NE(again, h);
  EXPECT_EQ(QP_ClosePackage(h), 0);
  EXPECT_EQ(QP_ClosePackage(again), 1);
}

}  // namespace
}  // namespace qp_test
