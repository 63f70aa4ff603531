// Recordings of virtual devices: file lists in both entry forms, playback
// with its controls and end kinds, and downloads raw and chunked.
#include <cstdio>

#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

std::string Query(const vdevice::Date& d) {
  char q[29];
  std::snprintf(q, sizeof q, "%04d%02d%02d000000%04d%02d%02d000000", d.year, d.month, d.day, d.year,
                d.month, d.day);
  return std::string(q, 28);
}

// The path a client names an entry by, built the way the SDK builds it.
std::string PathOf(const std::vector<uint8_t>& e, int channel, const vdevice::Date& d,
                   const char* ext) {
  const std::string name(e.begin() + 1, e.begin() + 7);
  char path[256];
  if (e.size() == 7) {
    std::snprintf(path, sizeof path, "%c:\\QdvrFile\\%04d%02d%02d\\%02d%s.%s", e[0], d.year,
                  d.month, d.day, channel, name.c_str(), ext);
  } else {
    std::snprintf(path, sizeof path, "./rec/%02d/%04d%02d%02d/%c%c%c%s.%s", e[0] - 'C', d.year,
                  d.month, d.day, e[7], e[8], e[9], name.c_str(), ext);
  }
  return path;
}

class RecordsTest : public VdeviceTest {
 protected:
  // The entries of today's file list of `link`.
  std::vector<std::vector<uint8_t>> List(int32_t link, size_t entrySize) {
    const size_t before = Of(Event::kFileList, link).size();
    Send(link, 16, Query(vdevice::Today()));
    EXPECT_TRUE(WaitFor(Event::kFileList, link, -1, before + 1));
    const auto lists = Of(Event::kFileList, link);
    if (lists.size() <= before) return {};
    const std::vector<uint8_t>& d = lists[before].data;
    EXPECT_EQ(d.size() % entrySize, 0u);
    std::vector<std::vector<uint8_t>> out;
    for (size_t at = 0; at + entrySize <= d.size(); at += entrySize) {
      out.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(at),
                       d.begin() + static_cast<std::ptrdiff_t>(at + entrySize));
    }
    return out;
  }
};

TEST_F(RecordsTest, FileListsInBothEntryForms) {
  AddDevice("type=1,channels=2,live=off");
  AddDevice("type=2,channels=2,live=off");
  AddDevice("type=5,live=off");
  ASSERT_EQ(1, Connect(1, 0, 1));
  ASSERT_EQ(1, Connect(2, 1, 1));
  ASSERT_EQ(1, Connect(3, 2, 0));
  for (int32_t link : {1, 3}) {
    const auto entries = List(link, 7);
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& e : entries) {
      EXPECT_TRUE(e[0] == 'C' || e[0] == 'D');
      for (size_t i = 1; i < 7; ++i) EXPECT_TRUE(e[i] >= '0' && e[i] <= '9');
    }
  }
  const auto entries = List(2, 10);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(std::string(entries[0].begin() + 7, entries[0].end()), "R01");
  // Another date has no recordings; a malformed query gets an empty list.
  Send(2, 16, Query(vdevice::Date{2001, 2, 3}));
  Send(2, 16, std::string("20xx"));
  ASSERT_TRUE(WaitFor(Event::kFileList, 2, -1, 3));
  EXPECT_TRUE(Of(Event::kFileList, 2)[1].data.empty());
  EXPECT_TRUE(Of(Event::kFileList, 2)[2].data.empty());
}

TEST_F(RecordsTest, PlaybackRunsToItsEndKindWithControls) {
  AddDevice("type=1,kind=0,pace=off,live=off,end=2");
  AddDevice("type=2,kind=2,fps=25,live=off,end=w");
  ASSERT_EQ(1, Connect(1, 0, 0));
  ASSERT_EQ(1, Connect(2, 1, 0));
  const vdevice::Date today = vdevice::Today();

  // Unpaced: the whole recording, header first, then the end kind '2'.
  const auto e1 = List(1, 7);
  ASSERT_FALSE(e1.empty());
  Send(1, 54);
  Send(1, 48, PathOf(e1[0], 0, today, "sv4"));
  ASSERT_TRUE(WaitFor(Event::kPlayback, 1, '2'));
  auto play = Of(Event::kPlayback, 1);
  ASSERT_EQ(play.front().code, 8);
  ASSERT_EQ(play.front().data.size(), 98u);
  EXPECT_EQ(Le32(play.front().data.data() + 2 + 60), 75u);  // total frames
  size_t video = 0;
  for (const auto& e : play) video += e.code == 1 || e.code == 3 ? 1 : 0;
  EXPECT_EQ(video, 75u);
  EXPECT_EQ(play[1].code, 1);
  EXPECT_EQ(play.back().code, '2');

  // Paced, with pause, speeds and a seek near the end: fewer pictures, a
  // key frame after the seek, then the end kind 'w'.
  const auto e2 = List(2, 10);
  ASSERT_FALSE(e2.empty());
  Send(2, 48, PathOf(e2[1], 0, today, "sv6"));
  Send(2, 55);
  const int32_t frame = 60;
  Send(2, 68, &frame, 4);
  Send(2, 51);
  Send(2, 51);
  Send(2, 52);
  Send(2, 53);
  Send(2, 51);
  Send(2, 56);
  ASSERT_TRUE(WaitFor(Event::kPlayback, 2, 'w', 1, 20000));
  play = Of(Event::kPlayback, 2);
  video = 0;
  for (const auto& e : play) video += e.code == 1 || e.code == 3 ? 1 : 0;
  EXPECT_LT(video, 75u);
  EXPECT_GE(video, 25u);

  // An unknown recording ends at once with '9'.
  Send(2, 48, std::string("./rec/09/20000101/nothing.sv6"));
  ASSERT_TRUE(WaitFor(Event::kPlayback, 2, '9'));
}

TEST_F(RecordsTest, DownloadsRawAndAsChunks) {
  AddDevice("type=1,kind=1,live=off");
  AddDevice("type=4,kind=4,live=off");
  ASSERT_EQ(1, Connect(1, 0));
  ASSERT_EQ(1, Connect(2, 1));
  const vdevice::Date today = vdevice::Today();

  // Raw: the ".sv" file, its total announced with every block.
  const auto e1 = List(1, 7);
  ASSERT_FALSE(e1.empty());
  Send(1, 32, PathOf(e1[2], 0, today, "sv5"));
  ASSERT_TRUE(WaitFor(Event::kDownload, 1, 34));
  std::vector<uint8_t> file;
  for (const auto& e : Of(Event::kDownload, 1)) {
    if (e.code != 33) continue;
    EXPECT_EQ(e.total, Of(Event::kDownload, 1).front().total);
    file.insert(file.end(), e.data.begin(), e.data.end());
  }
  ASSERT_GE(file.size(), 64u);
  EXPECT_EQ(file.size(), Of(Event::kDownload, 1).front().total);
  EXPECT_EQ(0, std::memcmp(file.data(), "QVS\x05", 4));
  EXPECT_EQ(Le32(file.data() + 32 + 12), 75u);
  EXPECT_EQ(Of(Event::kDownload, 1).back().code, 34);

  // Chunked: the 96-byte "QFH" record, then blocks of whole "QVS" chunks.
  const auto e2 = List(2, 10);
  ASSERT_FALSE(e2.empty());
  Send(2, 32, PathOf(e2[0], 0, today, "mp4"));
  ASSERT_TRUE(WaitFor(Event::kDownload, 2, 34));
  const auto blocks = Of(Event::kDownload, 2);
  ASSERT_GE(blocks.size(), 3u);
  ASSERT_EQ(blocks[0].code, 37);
  ASSERT_EQ(blocks[0].data.size(), 96u);
  const uint8_t* r = blocks[0].data.data();
  EXPECT_EQ(0, std::memcmp(r + 32, "QFH", 3));
  EXPECT_EQ(Le16(r + 36), 4);
  EXPECT_EQ(Le32(r + 60), 75u);
  EXPECT_EQ(Le16(r + 64), 4);
  size_t videoChunks = 0, audioChunks = 0, keys = 0, bytes = 96;
  uint64_t lastStamp = 0;
  for (size_t i = 1; i + 1 < blocks.size(); ++i) {
    ASSERT_EQ(blocks[i].code, 41);
    const std::vector<uint8_t>& b = blocks[i].data;
    bytes += b.size();
    size_t at = 0;
    while (at < b.size()) {
      ASSERT_GE(b.size() - at, 16u);
      ASSERT_EQ(0, std::memcmp(b.data() + at, "QVS", 3));
      const size_t len = b[at + 5] | (b[at + 6] << 8) | (b[at + 7] << 16);
      ASSERT_GT(len, 0u);
      ASSERT_LE(at + 16 + len, b.size());
      const uint64_t stamp = Le32(b.data() + at + 8) | (uint64_t{Le32(b.data() + at + 12)} << 32);
      EXPECT_GE(stamp, lastStamp);
      lastStamp = stamp;
      if (b[at + 4] == 4) {
        ++audioChunks;
      } else {
        ++videoChunks;
        keys += b[at + 4] == 1 ? 1 : 0;
      }
      at += 16 + len;
    }
  }
  EXPECT_EQ(videoChunks, 75u);
  EXPECT_EQ(audioChunks, 75u);
  EXPECT_EQ(keys, 3u);  // a key frame every second of 25 pictures
  EXPECT_EQ(bytes, blocks[0].total);
  EXPECT_EQ(blocks.back().code, 34);

  // An unknown recording fails with 35.
  Send(2, 32, std::string("./rec/00/20000101/none.mp4"));
  ASSERT_TRUE(WaitFor(Event::kDownload, 2, 35));

  // The abort fault ends a download after its first block with 118.
  AddDevice("type=1,kind=0,live=off,fault=abort-download");
  ASSERT_EQ(1, Connect(3, 2));
  const auto e3 = List(3, 7);
  ASSERT_FALSE(e3.empty());
  Send(3, 32, PathOf(e3[0], 0, today, "sv4"));
  ASSERT_TRUE(WaitFor(Event::kDownload, 3, 118));
  const auto aborted = Of(Event::kDownload, 3);
  ASSERT_EQ(aborted.size(), 2u);
  EXPECT_EQ(aborted[0].code, 33);
  EXPECT_LT(aborted[0].data.size(), aborted[0].total);
}

}  // namespace
}  // namespace vdevice_test
