// A camera brought to the SDK through the simulator: a test camera, a child program, serves
// solid-colour pictures, virtual devices read them, and the SDK decodes them over both transports.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "hostlib/child_process.h"
#include "support/event_log.h"
#include "support/simulated_devices.h"

namespace qcsdk::test {
namespace {

// The test camera (test_camera.cpp) as a child program: blue H.264 with
// A-law audio at /h264, red H.265 with mu-law at /h265. Stop() ends it (the
// camera goes away), Start() brings it back on the same port.
class Camera {
 public:
  Camera() { Start(); }
  void Start() {
    std::string line;
    EXPECT_TRUE(child_.Start(TEST_CAMERA, {port_}) && child_.ReadLine(line));
    EXPECT_EQ(line.rfind("port ", 0), 0u) << line;
    port_ = line.substr(std::min<size_t>(5, line.size()));
  }
  void Stop() { EXPECT_EQ(child_.Stop(), 0); }
  std::string Url(const std::string& mount) const { return "rtsp://127.0.0.1:" + port_ + mount; }

 private:
  hostlib::ChildProcess child_;
  std::string port_ = "0";
};

// What the SDK reported: events per (channel, code), list sizes, each channel's pictures and the
// centre pixel (Y, U, V) of its last one, ends of downloads.
struct Seen {
  std::mutex mutex;
  std::condition_variable cv;
  std::map<std::pair<int32_t, int32_t>, int> events;
  std::map<int32_t, int32_t> listed;
  std::map<int32_t, std::array<int, 3>> centre;
  std::map<int32_t, int> pictures;
  std::map<int32_t, int32_t> download_end;
  void Reset() {
    std::lock_guard lock(mutex);
    events.clear(), listed.clear(), centre.clear(), pictures.clear(), download_end.clear();
  }
  template <typename F>
  bool Wait(F done) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, Scaled(30000), done);
  }
} seen;

void OnEvent(int32_t channel, int32_t code, const char*, int32_t value, void*) {
  std::lock_guard lock(seen.mutex);
  ++seen.events[{channel, code}];
  if (code == QCSDK_EVENT_REC_LIST) seen.listed[channel] = value;
  seen.cv.notify_all();
}
void OnDecoded(int32_t channel, const DecodedFrame* f, void*) {
  const int x = f->width / 2, y = f->height / 2;
  std::lock_guard lock(seen.mutex);
  seen.centre[channel] = {f->y[y * f->yStride + x], f->u[y / 2 * f->uStride + x / 2],
                          f->v[y / 2 * f->vStride + x / 2]};
  ++seen.pictures[channel];
  seen.cv.notify_all();
}
void OnDownload(int32_t channel, int32_t code, int32_t, int32_t, void*) {
  std::lock_guard lock(seen.mutex);
  if (code != QCSDK_DOWNLOAD_PROGRESS) seen.download_end[channel] = code;
  seen.cv.notify_all();
}

// The test pictures' colours as limited-range BT.601 Y, U, V.
constexpr std::array<int, 3> kBlue{41, 240, 110}, kRed{81, 90, 240};

class CameraThroughSimulator : public ::testing::Test {
 protected:
  SimulatedDevices devices;
  void SetUp() override {
    seen.Reset();
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    QCSDK_RegisterCallback(OnEvent, nullptr, OnDownload, OnDecoded, nullptr);
  }
  void TearDown() override {
    QCSDK_ReleaseSDK();
    devices.Stop();
  }
  vdevice::DevicePorts Device(const std::string& settings) {
    std::string error;
    const vdevice::DevicePorts ports = devices.AddDevice(settings, &error);
    EXPECT_GE(ports.nxl, 0) << error;
    return ports;
  }
  // Connects over Nxl and OCT and waits for pictures of that colour on both; the stream
  // information follows the camera's codec (SDK code), size and audio law.
  std::array<int32_t, 2> Watch(const vdevice::DevicePorts& d, const std::array<int, 3>& colour,
                               int32_t codec = 2, int32_t audio = 4) {
    const std::array<int32_t, 2> n{
        QCSDK_Connect("127.0.0.1", d.nxl, 0, "admin", "admin", 0, nullptr),
        QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", d.oct, 1, 0, "admin", "admin", 0,
                       nullptr)};
    for (const int32_t c : n) {
      SCOPED_TRACE(c);
      EXPECT_TRUE(seen.Wait([&] { return seen.events[{c, QCSDK_EVENT_CONNECTED}] > 0; }));
      EXPECT_EQ(QCSDK_EnableDecoder(c, 1), 1);
      EXPECT_TRUE(seen.Wait([&] { return seen.pictures[c] >= 5; }));
      std::lock_guard lock(seen.mutex);
      for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(seen.centre[c][i], colour[i], 12) << i;
      StreamInfo info{};
      EXPECT_EQ(QCSDK_GetStreamInfo(c, &info), 1);
      EXPECT_EQ(std::tuple(info.videoCodec, info.width, info.height, info.audioCodec),
                std::tuple(codec, 320, 240, audio));
    }
    return n;
  }
};

TEST_F(CameraThroughSimulator, PicturesAudioAndKeptMinutesReachTheSdkOnBothTransports) {
  Camera camera;
  const auto h264 = Watch(Device("source=" + camera.Url("/h264")), kBlue);
  Watch(Device("source=" + camera.Url("/h265") + ",transport=udp"), kRed, 11, 5);
  // The kept minutes are today's one recording: listed and downloaded on
  // both transports, H.264 with its parameter sets.
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const int32_t today[6] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                            t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
  for (const int32_t c : h264) {
    ASSERT_EQ(QCSDK_GetRemoteRecFileList(c, today), 1) << c;
    ASSERT_TRUE(seen.Wait([&] { return seen.events[{c, QCSDK_EVENT_REC_LIST}] > 0; }));
    EXPECT_EQ(seen.listed[c], 1);
    const auto file = std::filesystem::temp_directory_path() /
                      ("vdevice_rtsp_" + std::to_string(::getpid()) + "_" + std::to_string(c));
    ASSERT_EQ(QCSDK_DownloadRemoteFile(c, 0, file.string().c_str()), 1);
    ASSERT_TRUE(seen.Wait([&] { return seen.download_end.count(c) > 0; }));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove(file);
    EXPECT_NE(bytes.find(std::string("\0\0\1\x67", 4)), std::string::npos) << bytes.size();
  }
  // Played back on OCT, the live pictures held back meanwhile, they reach the decoder.
  ASSERT_EQ(QCSDK_RemotePlay(h264[1], 0), 1);
  int live = 0;
  ASSERT_TRUE(seen.Wait([&] {
    live = seen.pictures[h264[1]];
    return seen.events[{h264[1], QCSDK_EVENT_STREAM_CHANGED}] > 0;
  }));
  EXPECT_TRUE(seen.Wait([&] { return seen.pictures[h264[1]] >= live + 10; }));
}

TEST_F(CameraThroughSimulator, CameraStoppingEndsTheLinksAndItsReturnBringsPicturesBack) {
  Camera camera;
  const vdevice::DevicePorts device = Device("source=" + camera.Url("/h264"));
  const auto before = Watch(device, kBlue);
  camera.Stop();
  for (const int32_t c : before) {
    EXPECT_TRUE(seen.Wait([&] { return seen.events[{c, QCSDK_EVENT_REMOTE_CLOSED}] > 0; })) << c;
  }
  seen.Reset();  // the channel numbers are free again
  camera.Start();
  Watch(device, kBlue);
}

}  // namespace
}  // namespace qcsdk::test
