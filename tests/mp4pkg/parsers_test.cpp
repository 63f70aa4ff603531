// The parsers on their own: Annex B units, codec and key frames, ADTS, the time line, the index.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <tuple>

#include "aac.h"
#include "annexb.h"
#include "media.h"
#include "qdx_index.h"
#include "support/table_file.h"
#include "timeline.h"

namespace qp_test {
namespace {

using qp::VideoCodec;

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::vector<uint8_t> AsVector(qp::Bytes b) {
  return {b.begin(), b.end()};
}

TEST(AnnexBTest, SplitsOnThreeAndFourByteStartCodesAndFindsKeyFrames) {
  const std::vector<uint8_t> frame = {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0,
                                      0, 0, 0, 1, 0x65, 4, 0, 0, 3, 0, 0,    0};
  const auto nals = qp::SplitAnnexB(frame);
  ASSERT_EQ(nals.size(), 3u);
  EXPECT_EQ(AsVector(nals[0]), (std::vector<uint8_t>{0x67, 1, 2}));
  EXPECT_EQ(AsVector(nals[1]), (std::vector<uint8_t>{0x68, 3}));  // trailing zeros dropped
  EXPECT_EQ(AsVector(nals[2]), (std::vector<uint8_t>{0x65, 4, 0, 0, 3}));
  // Not Annex B: no leading start code, a lone zero, nothing, start codes with nothing behind.
  using Frame = std::vector<uint8_t>;
  for (const Frame& f : {Frame{0, 0, 0, 5, 0x65, 1, 2, 3, 4}, Frame{0, 1, 0x65}, Frame{},
                         Frame{0, 0, 1, 0, 0, 0, 1}})
    EXPECT_TRUE(qp::SplitAnnexB(f).empty()) << f.size();
  // A frame of nothing but tiny units is refused as a whole.
  std::vector<uint8_t> flood;
  for (size_t i = 0; i <= qp::kMaxNalUnits; ++i) flood.insert(flood.end(), {0, 0, 1, 0x41});
  EXPECT_TRUE(qp::SplitAnnexB(flood).empty());
  flood.resize(flood.size() - 4);
  EXPECT_EQ(qp::SplitAnnexB(flood).size(), qp::kMaxNalUnits);

  // Intra slices after an SPS are key frames.
  const std::vector<uint8_t> sps = {0, 0, 0, 1, 0x67, 0x42, 0xc0, 0x1e, 0x95};
  const std::vector<uint8_t> pps = {0, 0, 0, 1, 0x68, 0xce, 0x3c, 0x80};
  // first_mb_in_slice 0 ('1'), slice_type 7 (I) or 5 (P).
  const std::vector<uint8_t> i_slice = {0, 0, 0, 1, 0x61, 0x88, 0x84};
  const std::vector<uint8_t> p_slice = {0, 0, 0, 1, 0x61, 0x98, 0x84};
  // slice_type 7 again, after first_mb_in_slice 65535 (16 leading zeros) with an emulation byte.
  const std::vector<uint8_t> i_slice_epb = {0,    0,    0,    1,    0x61, 0x00,
                                            0x00, 0x03, 0x80, 0x00, 0x08, 0x80};
  auto units = [](const std::vector<uint8_t>& v) { return qp::SplitAnnexB(v); };
  const auto with_sps = Cat({sps, pps, i_slice});
  EXPECT_TRUE(qp::IsKeyFrame(VideoCodec::kH264, units(with_sps)));
  EXPECT_EQ(qp::RecogniseCodec(units(with_sps)), VideoCodec::kH264);
  EXPECT_FALSE(qp::IsKeyFrame(VideoCodec::kH264, units(i_slice)));
  EXPECT_FALSE(qp::IsKeyFrame(VideoCodec::kH264, units(Cat({sps, pps, p_slice}))));
  EXPECT_TRUE(qp::IsKeyFrame(VideoCodec::kH264, units(Cat({sps, pps, i_slice_epb}))));
  // An SPS too short for avcC gives no parameter sets.
  const std::vector<uint8_t> short_sps = {0, 0, 1, 0x67, 0x42};
  EXPECT_TRUE(qp::ParameterSets(VideoCodec::kH264, units(Cat({short_sps, pps, i_slice}))).empty());
  EXPECT_TRUE(qp::ParameterSets(VideoCodec::kH264, units(Cat({sps, i_slice}))).empty());
}

TEST(AacTest, AdtsFramesAreSplitAndCheckedAndConfigsOfKnownSettings) {
  const std::vector<uint8_t> a = WithAdts({1, 2, 3, 4}, 16000, 2), b = WithAdts({5, 6}, 16000, 2);
  const std::vector<uint8_t> both = Cat({a, b});
  ASSERT_TRUE(qp::LooksLikeAdts(both));
  bool complete = false;
  auto frames = qp::SplitAdts(both, &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(AsVector(frames[0].payload), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(AsVector(frames[1].payload), (std::vector<uint8_t>{5, 6}));
  EXPECT_EQ(frames[0].config, (qp::AacConfig{2, 16000, 2}));

  // A CRC (aa bb) makes the header 9 bytes, in place of the first two behind; the length stays.
  std::vector<uint8_t> crc = WithAdts({0xaa, 0xbb, 1, 2, 3, 4}, 16000, 2);
  crc[1] &= 0xfe;
  frames = qp::SplitAdts(crc);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(AsVector(frames[0].payload), (std::vector<uint8_t>{1, 2, 3, 4}));

  // A frame running past the buffer stops the walk after what came before.
  std::vector<uint8_t> cut = both;
  cut.pop_back();
  frames = qp::SplitAdts(cut, &complete);
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_FALSE(complete);
  // Sampling index 15, channel configuration 0, a length shorter than the header: not ADTS.
  std::vector<uint8_t> bad = a;
  bad[2] |= 0x3c;
  EXPECT_FALSE(qp::LooksLikeAdts(bad));
  bad = a;
  bad[2] &= 0xfe;
  bad[3] &= 0x3f;
  EXPECT_FALSE(qp::LooksLikeAdts(bad));
  bad = a;
  bad[3] &= 0xfc;
  bad[4] = 0;
  bad[5] &= 0x1f;
  EXPECT_FALSE(qp::LooksLikeAdts(bad));
  EXPECT_FALSE(qp::LooksLikeAdts(std::vector<uint8_t>{0xff, 0xf1, 0x50}));
  // The AudioSpecificConfig of known settings, none for unknown ones.
  EXPECT_EQ(qp::AudioSpecificConfig({2, 44100, 2}), (std::vector<uint8_t>{0x12, 0x10}));
  EXPECT_EQ(qp::AudioSpecificConfig({2, 8000, 1}), (std::vector<uint8_t>{0x15, 0x88}));
  EXPECT_EQ(qp::AudioSpecificConfig({2, 48000, 8}), (std::vector<uint8_t>{0x11, 0xb8}));
  EXPECT_TRUE(qp::AudioSpecificConfig({2, 12345, 1}).empty());
  EXPECT_TRUE(qp::AudioSpecificConfig({2, 8000, 0}).empty());
  EXPECT_TRUE(qp::AudioSpecificConfig({2, 8000, 7}).empty());  // no configuration for 7
  EXPECT_TRUE(qp::AudioSpecificConfig({0, 8000, 1}).empty());
}

TEST(TimelineTest, DerivedAndStampedTimes) {
  qp::TimeOrigin origin;
  qp::Timeline video(origin, 90000, 0);
  int64_t previous = 0;
  for (const qcsdk::test::TableRow& row : qcsdk::test::Table("mp4pkg/timeline_steps.md")) {
    SCOPED_TRACE(row.Where());
    const int64_t stamp = row.Int("stamp"), next = video.Next();
    const auto p = video.Place(stamp, 3600);
    ASSERT_TRUE(p);
    const std::string& pts = row.Text("pts");
    EXPECT_EQ(p->pts, pts == "next" ? next : pts == "+3600" ? previous + 3600 : row.Int("pts"));
    EXPECT_EQ(p->duration, row.Text("duration") == "-" ? p->duration : row.Int("duration"));
    EXPECT_TRUE(stamp != 1000 || origin.ms == 1000 - 120);
    previous = p->pts;
  }
  // An origin beyond reach leaves the frame at its derived place.
  qp::TimeOrigin far;
  qp::Timeline late(far, 90000, 0);
  ASSERT_TRUE(late.Place(0, 3600));
  const auto p = late.Place(std::numeric_limits<int64_t>::min(), 3600);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->pts, 3600);
}

TEST(TimelineTest, AudioSharesTheOriginAndSnapsSmallJitter) {
  qp::TimeOrigin origin;
  qp::Timeline video(origin, 90000, 0), audio(origin, 8000, 800);
  ASSERT_TRUE(video.Place(10'000, 3600));
  // Before the file's start: dropped while the stream has not started.
  EXPECT_FALSE(audio.Place(9'990, 160));
  auto a = audio.Place(10'100, 160);
  ASSERT_TRUE(a);
  EXPECT_EQ(std::tuple(a->pts, a->duration), std::tuple(800, 160));
  // 20 ms frames stamped with a millisecond of jitter stay back to back.
  EXPECT_EQ(audio.Place(10'121, 160)->pts, 960);
  EXPECT_EQ(audio.Place(10'139, 160)->pts, 1120);
  // A real gap (half a second) is kept.
  EXPECT_EQ(audio.Place(10'660, 160)->pts, 660 * 8);
  // Zero stamps follow the sample count.
  EXPECT_EQ(audio.Place(0, 160)->pts, 660 * 8 + 160);
}

TEST(QdxTest, RoundTripAndDamagedFiles) {
  qp::QdxHeader header{2, 3, 1920, 1080, 29.97f};
  std::vector<uint8_t> bytes = qp::EncodeQdxHeader(header);
  ASSERT_EQ(bytes.size(), qp::kQdxHeaderSize);
  const qp::QdxEntry entries[] = {{0, 1234, 0}, {2000, 98765, 50}, {1LL << 40, 1ULL << 35, 7}};
  for (const auto& e : entries) {
    auto encoded = qp::EncodeQdxEntry(e);
    ASSERT_EQ(encoded.size(), qp::kQdxEntrySize);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  }
  auto file = qp::ParseQdx(bytes);
  ASSERT_TRUE(file);
  const qp::QdxHeader& got = file->header;
  EXPECT_EQ(std::tuple(got.video_codec, got.audio_codec, got.width, got.height, got.frame_rate),
            std::tuple(2, 3, 1920u, 1080u, 29.97f));
  auto fields = [](const qp::QdxEntry& e) {
    return std::tuple(e.time_ms, e.offset, e.frame_number);
  };
  ASSERT_EQ(file->entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fields(file->entries[i]), fields(entries[i])) << i;
  EXPECT_FALSE(file->truncated);
  // Little-endian on disk: the second entry's offset at bytes 32+24+8.
  EXPECT_EQ(bytes[32 + 24 + 8], 98765 & 0xff);
  EXPECT_EQ(std::memcmp(bytes.data(), "QDXI", 4), 0);

  // A half-written last entry (a crash) is left out and reported.
  auto cut = bytes;
  cut.resize(cut.size() - 5);
  file = qp::ParseQdx(cut);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->entries.size(), 2u);
  EXPECT_TRUE(file->truncated);
  // Not an index: short, wrong magic, impossible sizes.
  EXPECT_FALSE(qp::ParseQdx({}));
  EXPECT_FALSE(qp::ParseQdx(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 31)));
  auto bad = bytes;
  bad[0] = 'X';
  EXPECT_FALSE(qp::ParseQdx(bad));
  bad = bytes;
  bad[8] = 4;  // entry size 4
  EXPECT_FALSE(qp::ParseQdx(bad));
  bad = bytes;
  bad[6] = 0xff;  // header larger than the file
  bad[7] = 0xff;
  EXPECT_FALSE(qp::ParseQdx(bad));
  EXPECT_FALSE(qp::ReadQdx("/nonexistent/dir/x.qdx"));
}

}  // namespace
}  // namespace qp_test
