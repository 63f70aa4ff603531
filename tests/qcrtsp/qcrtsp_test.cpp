#include <gtest/gtest.h>
#include <signal.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/child_process.h"
#include "qcrtsp/audio_blocks.h"
#include "support/event_log.h"
#include "support/simulated_devices.h"

namespace {

using qcsdk::test::ScaledMs;

struct ClientRun {
  int status = -1;
  std::string out;  // standard output and error together
};

// A client program to its end (bounded), with everything it printed.
ClientRun Client(const std::string& command) {
  ClientRun run;
  hostlib::ChildProcess p;
  if (!p.Start("/bin/sh", {"-c", "exec " + command + " 2>&1"})) return run;
  for (std::string line; p.ReadLine(line);) run.out += line + "\n";
  run.status = p.Wait(ScaledMs(60000));
  return run;
}

// The simulator's devices and one qcrtsp serving them, for every test here.
class QcrtspServer : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    // The clients are real-time players: under the race checker the server falls behind them
    // (frames short of the count, first key frames late), and GStreamer's own threads are
    // invisible to the checker. The SDK's raw-data path it uses is checked by the stream tests.
    GTEST_SKIP() << "qcrtsp's real-time clients are not served at race-checker speed";
#endif
    std::string error;
    const int h264 = devices.AddDevice("type=2", &error).nxl;
    const int h265 = devices.AddDevice("type=2,codec=h265", &error).oct;
    const int cut = devices.AddDevice("type=2,fault=drop-after:60", &error).nxl;
    ASSERT_TRUE(h264 > 0 && h265 > 0 && cut > 0) << error;
    ASSERT_TRUE(server.Start(
        QCRTSP_PROGRAM,
        {"--port", "0", "--linger", "1", "--user", "u", "--password", "p",
         "h264=nxl://127.0.0.1:" + std::to_string(h264) + "/0",
         "h265=oct://127.0.0.1:" + std::to_string(h265) + "/1",
         "cut=nxl://127.0.0.1:" + std::to_string(cut) + "/0", "none=nxl://127.0.0.1:1/0"}));
    reader = std::thread([this] {
      for (std::string line; server.ReadLine(line);) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
        changed.notify_all();
      }
    });
    ASSERT_TRUE(WaitLines("listening on", 1));
    const std::string first = [&] {
      std::lock_guard lock(mutex);
      return lines.front();
    }();
    base = "rtsp://u:p@127.0.0.1:" +
           first.substr(first.find("127.0.0.1:") + 10,
                        first.find("/ mounts") - first.find("127.0.0.1:") - 10) +
           "/";
  }
  void TearDown() override {
    // The reader ends with qcrtsp's output; only then is the output closed.
    if (server.running()) kill(server.pid(), SIGTERM);
    if (reader.joinable()) reader.join();
    server.Stop();
  }
  int Count(const std::string& text) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const std::string& l : lines) n += l.find(text) != std::string::npos;
    return n;
  }
  // Waits until `n` lines of qcrtsp hold `text`.
  bool WaitLines(const std::string& text, int n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, qcsdk::test::Scaled(20000), [&] {
      int k = 0;
      for (const std::string& l : lines) k += l.find(text) != std::string::npos;
      return k >= n;
    });
  }
  // ffmpeg copies `seconds` of the mount into an MP4 (video as sent, audio
  // decoded and coded anew by the client); then ffprobe decodes the file:
  // "codec width height frames duration" of the video, "codec rate" of the
  // audio, and any decode error.
  std::string Record(const std::string& mount, const std::string& transport, int seconds,
                     const std::string& file) {
    const ClientRun copy = Client(
        "ffmpeg -nostdin -v error -rtsp_transport " + transport + " -i " + base + mount +
        (seconds > 0 ? " -t " + std::to_string(seconds) : "") + " -c:v copy -c:a aac -y " + file);
    EXPECT_EQ(copy.status, 0) << copy.out;
    EXPECT_EQ(copy.out, "") << mount << " " << transport;
    return Client(
               "ffprobe -v error -count_frames -show_entries "
               "stream=codec_name,width,height,nb_read_frames,sample_rate:format=duration "
               "-of default=nw=1:nk=1 " +
               file)
        .out;
  }

  qcsdk::test::SimulatedDevices devices;
  hostlib::ChildProcess server;
  std::thread reader;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> lines;
  std::string base;  // rtsp://u:p@127.0.0.1:PORT/
};

TEST_F(QcrtspServer, FfmpegFfprobeAndRtspsrcReadH264AndH265OverUdpAndTcp) {
  const std::string dir = ::testing::TempDir();
  for (const std::string mount : {"h264", "h265"}) {
    const std::string codec = mount == "h264" ? "h264" : "hevc";
    for (const std::string transport : {"tcp", "udp"}) {
      SCOPED_TRACE(mount + " over " + transport);
      std::istringstream probe(Record(mount, transport, 3, dir + "qcrtsp_" + mount + ".mp4"));
      std::string vcodec, acodec;
      int width = 0, height = 0, frames = 0, aframes = 0, rate = 0;
      double seconds = 0;
      probe >> vcodec >> width >> height >> frames >> acodec >> rate >> aframes >> seconds;
      EXPECT_EQ(std::tuple(vcodec, width, height, acodec, rate),
                std::tuple(codec, 320, 240, std::string("aac"), 8000));
      // The device sends 25 frames a second: none lost on the way (a frame
      // of rounding at either end).
      EXPECT_NEAR(frames, 25 * seconds, 2.0) << seconds;
      EXPECT_GE(seconds, 2.8);
      // The live stream as ffprobe describes it: the device's own audio.
      const ClientRun live = Client("ffprobe -v error -rtsp_transport " + transport +
                                    " -show_entries stream=codec_name,width,height,sample_rate "
                                    "-of default=nw=1:nk=1 " +
                                    base + mount);
      EXPECT_EQ(live.out, codec + "\n320\n240\npcm_alaw\n8000\n");
      // GStreamer's client decodes 50 pictures (its sink then ends the stream).
      const ClientRun gst = Client("gst-launch-1.0 rtspsrc location=" + base + mount +
                                   " protocols=" + transport + " ! rtp" + mount + "depay ! " +
                                   mount + "parse ! avdec_" + mount + " ! fakesink num-buffers=50");
      EXPECT_NE(gst.out.find("Got EOS from element"), std::string::npos) << gst.out;
    }
  }
}

TEST_F(QcrtspServer, ClientsOfAMountShareOneChannelClosedAfterTheLastAndPasswordsChecked) {
  const std::string dir = ::testing::TempDir();
  std::string first, second;
  std::thread one([&] { first = Record("h264", "udp", 4, dir + "qcrtsp_first.mp4"); });
  EXPECT_TRUE(WaitLines("client plays mount h264", 1));
  std::thread two([&] { second = Record("h264", "tcp", 2, dir + "qcrtsp_second.mp4"); });
  EXPECT_TRUE(WaitLines("client plays mount h264", 2));
  EXPECT_EQ(devices.nxl(0).client_count(), 1u);  // both clients, one device link
  two.join();
  one.join();
  EXPECT_EQ(Count("client plays mount h264"), 2);
  EXPECT_EQ(Count("mount h264: channel open"), 1);
  EXPECT_EQ(first.substr(0, 13), "h264\n320\n240\n");
  EXPECT_EQ(second.substr(0, 13), "h264\n320\n240\n");
  // The device saw one link; it ends a linger time after the last client.
  ASSERT_TRUE(WaitLines("mount h264: channel closed", 1));
  EXPECT_TRUE(qcsdk::test::WaitUntil([&] { return devices.nxl(0).client_count() == 0; }));

  // The command line: help, and usage errors that start nothing.
  EXPECT_EQ(Client(std::string(QCRTSP_PROGRAM) + " --help").status, 0);
  EXPECT_EQ(Client(std::string(QCRTSP_PROGRAM) + " --port 1 --user u a=nxl://127.0.0.1:1").status,
            2);
  EXPECT_EQ(Client(std::string(QCRTSP_PROGRAM) + " a=nxl://127.0.0.1:1 a=nxl://127.0.0.1:2").status,
            2);

  const std::string wrong = "rtsp://u:x@" + base.substr(base.find('@') + 1) + "h264";
  const ClientRun refused = Client("ffprobe -v error " + wrong);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.out.find("401"), std::string::npos) << refused.out;
  EXPECT_EQ(Count("mount h264: opening channel"), 1);
  // A device that cannot be reached: the client is told so at once.
  const ClientRun none = Client("ffprobe -v error " + base + "none");
  EXPECT_NE(none.out.find("400 Bad Request"), std::string::npos) << none.out;
  EXPECT_EQ(Count("mount none: channel not opened: "), 1);
}

TEST_F(QcrtspServer, ALinkCutEndsItsClientsAndTheNextClientPlaysAgain) {
  const std::string dir = ::testing::TempDir();
  for (const std::string transport : {"udp", "tcp"}) {
    SCOPED_TRACE(transport);
    // No time limit: the client ends when the device drops the link.
    std::istringstream probe(Record("cut", transport, 0, dir + "qcrtsp_cut.mp4"));
    std::string vcodec;
    int width = 0, height = 0, frames = 0;
    probe >> vcodec >> width >> height >> frames;
    EXPECT_EQ(vcodec, "h264");
    EXPECT_GT(frames, 10);
    EXPECT_LE(frames, 60);
  }
  EXPECT_EQ(Count("mount cut: link ended"), 2);
  EXPECT_EQ(Count("mount cut: channel open"), 2);
}

}  // namespace

namespace {

// IMA ADPCM blocks as libavcodec codes them come out as the same sound in
// mu-law, a sample for each sample.
TEST(QcrtspAudio, ImaAdpcmBlocksBecomeTheSameSoundInMuLaw) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV);
  ASSERT_NE(codec, nullptr);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> c(
      avcodec_alloc_context3(codec), [](AVCodecContext* p) { avcodec_free_context(&p); });
  c->sample_rate = 8000;
  c->ch_layout = AV_CHANNEL_LAYOUT_MONO;
  c->sample_fmt = AV_SAMPLE_FMT_S16P;
  ASSERT_EQ(avcodec_open2(c.get(), codec, nullptr), 0);
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* f) { av_frame_free(&f); });
  frame->nb_samples = c->frame_size;
  frame->format = c->sample_fmt;
  ASSERT_EQ(av_channel_layout_copy(&frame->ch_layout, &c->ch_layout), 0);
  ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  auto* samples = reinterpret_cast<int16_t*>(frame->data[0]);
  for (int i = 0; i < c->frame_size; ++i)
    samples[i] = static_cast<int16_t>(8000 * std::sin(i * 0.3));
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                        [](AVPacket* p) { av_packet_free(&p); });
  ASSERT_EQ(avcodec_send_frame(c.get(), frame.get()), 0);
  ASSERT_EQ(avcodec_receive_packet(c.get(), packet.get()), 0);

  std::vector<uint8_t> mu;
  qcrtsp::ImaAdpcmToMuLaw(packet->data, static_cast<size_t>(packet->size), 1, mu);
  ASSERT_EQ(static_cast<int>(mu.size()), c->frame_size);
  double error = 0;
  for (int i = 0; i < c->frame_size; ++i) {
    const int v = ~mu[static_cast<size_t>(i)] & 0xFF;  // G.711 mu-law back to linear
    const int magnitude = (((v & 0x0F) << 3) + 0x84) << ((v >> 4) & 7);
    error += std::abs(((v & 0x80) ? 0x84 - magnitude : magnitude - 0x84) - samples[i]);
  }
  EXPECT_LT(error / c->frame_size, 400) << "of a sine of amplitude 8000";
  mu.clear();
  qcrtsp::ImaAdpcmToMuLaw(packet->data, 3, 1, mu);  // shorter than its header
  EXPECT_TRUE(mu.empty());
}

}  // namespace
