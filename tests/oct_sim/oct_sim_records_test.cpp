// Recordings of the simulator over OCT: the list, playback with its speeds,
// pause, seek and end kinds, and downloads as ".sv" bytes or converted to
// MP4.
#include <cstring>
#include <fstream>
#include <iterator>

#include "oct_sim/oct_sim_fixture.h"
#include "support/media_probe.h"

namespace qcsdk::test {
namespace {

using Control = vdevice::OctPlaybackControl;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class OctSimRecords : public OctSimTest {
 protected:
  // Connects to a new device and lists today's recordings.
  int32_t Listed(size_t device) {
    const int32_t n = ConnectLive(device);
    EXPECT_EQ(ListToday(n), 3);
    return n;
  }
  // Downloads entry 0 to `path`: the download reports of this channel
  // from the call on, up to the end code.
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
  static int32_t EndCode(const std::vector<HostRecorder::DownloadRecord>& reports) {
    return reports.empty() ? -1 : reports.back().code;
  }
  // Makes a playback run at 16 times its rate.
  static void Fastest(int32_t n) {
    for (int i = 0; i < 4; ++i) ASSERT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  }
};

TEST_F(OctSimRecords, ListPlaybackSpeedsPauseAndSeek) {
  const size_t d = Add("kind=3");
  const int32_t n = Listed(d);
  const auto recordings = Recordings(d);
  const auto list = EventsOf(n, QCSDK_EVENT_REC_LIST);
  ASSERT_FALSE(list.empty());
  const auto* entries = reinterpret_cast<const uint8_t*>(list.back().data);
  for (int32_t i = 0; i < 3; ++i) {
    const uint8_t* e = entries + static_cast<size_t>(i) * QCSDK_REC_ENTRY_SIZE;
    int32_t index = 0, kind = 0;
    std::memcpy(&index, e, 4);
    std::memcpy(&kind, e + 4, 4);
    EXPECT_EQ(index, i);
    EXPECT_EQ(kind, 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(e + 8), recordings[i].name.c_str());
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
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 4, 0), 1);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(QCSDK_RemotePlayControl(n, 2, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 1, 0), 1);
  ASSERT_EQ(QCSDK_RemotePlayControl(n, 0, 0), 1);
  auto ends = [&] {
    std::vector<std::vector<int32_t>> out;
    for (const PlaybackEnd& e : Ends()) {
      if (e.channel == n && e.code == QCSDK_EVENT_PLAYBACK_END_12) out.push_back(e.videoSizes);
    }
    return out;
  };
  ASSERT_TRUE(WaitUntil([&] { return ends().size() == 1; })) << Codes(n);

  // The end of kind '2' keeps the playback: a seek plays on from the key
  // frame at or before the frame asked for (key frames every 25 frames).
  // The pictures between two end events are those from there to the end.
  for (const auto& [frame, key] : {std::pair<int32_t, uint32_t>{50, 50}, {30, 25}}) {
    SCOPED_TRACE(frame);
    const size_t seen = ends().size();
    ASSERT_EQ(QCSDK_RemotePlayControl(n, 5, frame), 1);
    ASSERT_TRUE(WaitUntil([&] { return ends().size() == seen + 1; })) << Codes(n);
    const auto all = ends();
    const std::vector<int32_t> played(all[seen].begin() + all[seen - 1].size(), all[seen].end());
    std::vector<int32_t> expected;
    for (uint32_t i = key; i < recordings[1].frames; ++i) {
      expected.push_back(
          static_cast<int32_t>(devices.device(d).RecordingFrame(recordings[1], i).data.size()));
    }
    EXPECT_EQ(played, expected);
  }
  // Frame numbers travel as milliseconds at 25 frames per second.
  const std::vector<Control> controls = {{'s', -2},   {'s', -4},  {'s', -8}, {'s', -16}, {'s', -16},
                                         {'s', 0},    {'s', -16}, {'s', 1},  {'s', 2},   {'s', 4},
                                         {'s', 8},    {'s', 16},  {'s', 16}, {'s', 0},   {'s', 16},
                                         {'k', 2000}, {'k', 1200}};
  EXPECT_EQ(Oct(d).playback_controls(), controls);
  // Stopping the playback returns to the live pictures.
  ASSERT_EQ(QCSDK_RemotePlay(n, -1), 1);
  EXPECT_TRUE(WaitFrames(n));
}

TEST_F(OctSimRecords, EachEndKindRaisesItsEventAndLiveResumes) {
  struct Case {
    const char* settings;
    int32_t event;
  };
  const Case cases[] = {{"end=2", QCSDK_EVENT_PLAYBACK_END_12},
                        {"end=9", QCSDK_EVENT_PLAYBACK_END_14},
                        {"end=w", QCSDK_EVENT_PLAYBACK_END_13}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const size_t d = Add(c.settings);
    const int32_t n = Listed(d);
    const int described = Count(n, QCSDK_EVENT_STREAM_CHANGED);
    ASSERT_EQ(QCSDK_RemotePlay(n, 0), 1);
    Fastest(n);
    ASSERT_TRUE(WaitEvent(n, c.event)) << Codes(n);
    // After the end the live description is applied again.
    EXPECT_TRUE(WaitEvent(n, QCSDK_EVENT_STREAM_CHANGED, described + 2)) << Codes(n);
    if (c.event == QCSDK_EVENT_PLAYBACK_END_12) {
      ASSERT_EQ(QCSDK_RemotePlay(n, -1), 1);
    } else {
      // The device ended the playback: its handle is gone.
      EXPECT_EQ(QCSDK_RemotePlayControl(n, 4, 0), 0);
    }
    EXPECT_TRUE(WaitFrames(n));
    ASSERT_EQ(QCSDK_Disconnect(n), 1);
  }
}

TEST_F(OctSimRecords, DownloadsAsSvBytesOrConvertedToMp4) {
  // ".sv5" recordings travel as the file's bytes, with progress up to the
  // whole (in ten-thousandths).
  const size_t raw = Add("kind=1");
  const int32_t a = Listed(raw);
  const std::string svPath = TempPath("down.sv5");
  auto reports = Download(a, svPath);
  EXPECT_EQ(EndCode(reports), QCSDK_DOWNLOAD_END_1);
  const std::vector<uint8_t> expected = devices.device(raw).RawRecordingFile(Recordings(raw)[0]);
  EXPECT_EQ(ReadFile(svPath), expected);
  ASSERT_GE(reports.size(), 2u);
  const auto& last = reports[reports.size() - 2];
  EXPECT_EQ(last.progress, 10000);
  EXPECT_EQ(static_cast<size_t>(last.total), expected.size());
  for (size_t i = 1; i + 1 < reports.size(); ++i) {
    EXPECT_GE(reports[i].progress, reports[i - 1].progress);
  }
  std::filesystem::remove(svPath);

  // ".mp4" recordings travel as the description and chunks and are
  // packaged into an MP4 file.
  const size_t mp4 = Add("kind=3");
  const int32_t b = Listed(mp4);
  const std::string mp4Path = TempPath("down.mp4");
  reports = Download(b, mp4Path);
  EXPECT_EQ(EndCode(reports), QCSDK_DOWNLOAD_END_1);
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports[reports.size() - 2].progress, 10000);
  const MediaProbe probe = ProbeMedia(mp4Path);
  ASSERT_TRUE(probe.opened);
  EXPECT_EQ(probe.videoCodec, "h264");
  EXPECT_EQ(probe.width, 160);
  EXPECT_EQ(probe.height, 120);
  EXPECT_EQ(static_cast<uint32_t>(probe.videoFrames), Recordings(mp4)[0].frames);
  EXPECT_GT(probe.audioFrames, 0);
  std::filesystem::remove(mp4Path);

  // A device that gives up early: code 2, whichever the form and however
  // small the recording.
  for (const char* kind : {"kind=1", "kind=3", "kind=1,fps=5,width=32,height=32"}) {
    SCOPED_TRACE(kind);
    const size_t d = Add(std::string(kind) + ",fault=abort-download");
    const int32_t n = Listed(d);
    const std::string path = TempPath("aborted");
    EXPECT_EQ(EndCode(Download(n, path)), QCSDK_DOWNLOAD_END_2);
    std::filesystem::remove(path);
    ASSERT_EQ(QCSDK_Disconnect(n), 1);
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
