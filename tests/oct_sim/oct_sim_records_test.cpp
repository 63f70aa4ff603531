// Recordings of the simulator over OCT: the list, playback with its speeds,
// pause and seek, and downloads as ".sv" bytes or converted to MP4.
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "oct_sim/oct_sim_fixture.h"
#include "support/media_probe.h"

namespace qcsdk::test {
namespace {

class OctSimRecords : public OctSimTest {
 protected:
  void SetUp() override {
    // The sizes of the video frames a channel had received when each of its
    // playback ends (event 12) was raised.
    onHostEvent = [this](const HostEvent& e) {
      if (e.code != QCSDK_EVENT_PLAYBACK_END_12) return;
      std::vector<int32_t> sizes = VideoSizes(e.channel);
      std::lock_guard<std::mutex> guard(m_endMutex);
      m_ends.push_back(std::move(sizes));
    };
    OctSimTest::SetUp();
  }
  std::vector<std::vector<int32_t>> Ends() {
    std::lock_guard<std::mutex> guard(m_endMutex);
    return m_ends;
  }
  // Connects to a new device and lists today's recordings.
  int32_t Listed(size_t device) {
    const int32_t n = ConnectLive(device);
    EXPECT_EQ(ListToday(n), 3);
    return n;
  }
  // Downloads entry 0 to `path`: the channel's download reports from the
  // call on, up to the end code.
  std::vector<HostRecorder::DownloadRecord> Download(int32_t n, const std::string& path) {
    const size_t from = host->Downloads().size();
    EXPECT_EQ(QCSDK_DownloadRemoteFile(n, 0, path.c_str()), 1);
    std::vector<HostRecorder::DownloadRecord> mine;
    EXPECT_TRUE(WaitUntil([&] {
      const auto all = host->Downloads();
      mine.clear();
      for (size_t i = from; i < all.size(); ++i) {
        if (all[i].channel == n) mine.push_back(all[i]);
      }
      return !mine.empty() && mine.back().code != QCSDK_DOWNLOAD_PROGRESS;
    }));
    return mine;
  }

 private:
  std::mutex m_endMutex;
  std::vector<std::vector<int32_t>> m_ends;
};

TEST_F(OctSimRecords, ListPlaybackSpeedsPauseAndSeek) {
  const size_t d = Add("kind=3");
  const int32_t n = Listed(d);
  const auto recordings = Recordings(d);
  const auto* entries = reinterpret_cast<const uint8_t*>(EventsOf(n, QCSDK_EVENT_REC_LIST)[0].data);
  for (int32_t i = 0; i < 3; ++i) {
    const uint8_t* e = entries + static_cast<size_t>(i) * QCSDK_REC_ENTRY_SIZE;
    int32_t index = 0, kind = 0;
    std::memcpy(&index, e, 4);
    std::memcpy(&kind, e + 4, 4);
    EXPECT_EQ(index, i);
    EXPECT_EQ(kind, 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(e + 2064), recordings[i].path.c_str());
  }

  const int described = Count(n, QCSDK_EVENT_STREAM_CHANGED);
  ASSERT_EQ(QCSDK_RemotePlay(n, 1), 1);
  ASSERT_TRUE(WaitEvent(n, QCSDK_EVENT_STREAM_CHANGED, described + 1)) << Codes(n);
  StreamInfo info{};
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(static_cast<uint32_t>(info.totalFrames), recordings[1].frames);
  ASSERT_TRUE(WaitFrames(n, 3));

  // Slower down to 1/16 and no further, pause, resume at the kept speed,
  // then normal and faster up to 16 and no further, pause, and resume at 16
  // up to the end.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(QCSDK_RemotePlayControl(n, 3, 0), 1);
  for (int32_t command : {1, 0, 4, 2, 2, 2, 2, 2, 1, 0}) {
    ASSERT_EQ(QCSDK_RemotePlayControl(n, command, 0), 1);
  }
  ASSERT_TRUE(WaitUntil([&] { return Ends().size() == 1; })) << Codes(n);

  // The end of kind '2' keeps the playback: a seek plays on from the key
  // frame at or before the frame asked for (key frames every 25 frames).
  // The pictures between two end events are those from there to the end.
  for (const auto& [frame, key] : {std::pair<int32_t, uint32_t>{50, 50}, {30, 25}}) {
    SCOPED_TRACE(frame);
    const size_t seen = Ends().size();
    ASSERT_EQ(QCSDK_RemotePlayControl(n, 5, frame), 1);
    ASSERT_TRUE(WaitUntil([&] { return Ends().size() == seen + 1; })) << Codes(n);
    const auto all = Ends();
    const std::vector<int32_t> played(all[seen].begin() + all[seen - 1].size(), all[seen].end());
    std::vector<int32_t> expected;
    for (uint32_t i = key; i < recordings[1].frames; ++i) {
      expected.push_back(
          static_cast<int32_t>(devices.device(d).RecordingFrame(recordings[1], i).data.size()));
    }
    EXPECT_EQ(played, expected);
  }
  // The speeds and positions as the device received them: frame numbers
  // travel as milliseconds at 25 frames per second.
  const std::vector<vdevice::OctPlaybackControl> controls = {
      {'s', -2},  {'s', -4}, {'s', -8}, {'s', -16},  {'s', -16}, {'s', 0},
      {'s', -16}, {'s', 1},  {'s', 2},  {'s', 4},    {'s', 8},   {'s', 16},
      {'s', 16},  {'s', 0},  {'s', 16}, {'k', 2000}, {'k', 1200}};
  EXPECT_EQ(Oct(d).playback_controls(), controls);
  // Stopping the playback returns to the live pictures.
  ASSERT_EQ(QCSDK_RemotePlay(n, -1), 1);
  EXPECT_TRUE(WaitFrames(n));
}

TEST_F(OctSimRecords, DownloadsAsSvBytesOrConvertedToMp4) {
  // ".sv5" recordings travel as the file's bytes, with progress up to the
  // whole (in ten-thousandths).
  const size_t raw = Add("kind=1");
  const std::string svPath = TempPath("down.sv5");
  auto reports = Download(Listed(raw), svPath);
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back().code, QCSDK_DOWNLOAD_END_1);
  const std::vector<uint8_t> expected = devices.device(raw).RawRecordingFile(Recordings(raw)[0]);
  std::ifstream sv(svPath, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(sv), {}), expected);
  EXPECT_EQ(reports[reports.size() - 2].progress, 10000);
  EXPECT_EQ(static_cast<size_t>(reports[reports.size() - 2].total), expected.size());
  for (size_t i = 1; i + 1 < reports.size(); ++i) {
    EXPECT_GE(reports[i].progress, reports[i - 1].progress);
  }
  std::filesystem::remove(svPath);

  // ".mp4" recordings travel as the description and chunks and are
  // packaged into an MP4 file.
  const size_t mp4 = Add("kind=3");
  const std::string mp4Path = TempPath("down.mp4");
  reports = Download(Listed(mp4), mp4Path);
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back().code, QCSDK_DOWNLOAD_END_1);
  EXPECT_EQ(reports[reports.size() - 2].progress, 10000);
  const MediaProbe probe = ProbeMedia(mp4Path);
  ASSERT_TRUE(probe.opened);
  EXPECT_EQ(probe.videoCodec, "h264");
  EXPECT_EQ(probe.width, 160);
  EXPECT_EQ(probe.height, 120);
  EXPECT_EQ(static_cast<uint32_t>(probe.videoFrames), Recordings(mp4)[0].frames);
  EXPECT_GT(probe.audioFrames, 0);
  std::filesystem::remove(mp4Path);

  // A device that gives up early: code 2, whichever the form.
  for (const char* kind : {"kind=1", "kind=3"}) {
    SCOPED_TRACE(kind);
    const int32_t n = Listed(Add(std::string(kind) + ",fault=abort-download"));
    const std::string path = TempPath("aborted");
    const auto aborted = Download(n, path);
    EXPECT_EQ(aborted.empty() ? -1 : aborted.back().code, QCSDK_DOWNLOAD_END_2);
    std::filesystem::remove(path);
  }
}

// The device goes away during a playback: every channel of the session is
// told, and the SDK keeps no connection.
TEST_F(OctSimRecords, DeviceStoppingMidPlaybackEndsEveryChannel) {
  const size_t d = Add("kind=1,channels=2");
  const int32_t n = Listed(d);
  const int32_t m = ConnectLive(d, 2);
  ASSERT_EQ(QCSDK_RemotePlay(n, 0), 1);
  ASSERT_TRUE(WaitFrames(n, 3));
  Oct(d).Stop();
  EXPECT_TRUE(WaitEvent(n, QCSDK_EVENT_REMOTE_CLOSED)) << Codes(n);
  EXPECT_TRUE(WaitEvent(m, QCSDK_EVENT_REMOTE_CLOSED)) << Codes(m);
  EXPECT_TRUE(WaitUntil([] { return OctConnectionCount() == 0; }));
}

}  // namespace
}  // namespace qcsdk::test
