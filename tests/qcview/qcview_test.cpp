#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "hostlib/child_process.h"
#include "hostlib/simulator.h"
#include "support/event_log.h"
#include "vdevice/av_owners.h"

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const {
    const uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    return uint32_t{p[0]} << 16 | p[1] << 8 | p[2];
  }
};

Picture ReadPng(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
  Picture picture;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
  vdevice::ContextPtr ctx(avcodec_alloc_context3(codec));
  vdevice::PacketPtr packet(av_packet_alloc());
  vdevice::FramePtr frame(av_frame_alloc());
  if (bytes.empty() || avcodec_open2(ctx.get(), codec, nullptr) < 0 ||
      av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0)
    return picture;
  std::copy(bytes.begin(), bytes.end(), packet->data);
  if (avcodec_send_packet(ctx.get(), packet.get()) < 0 ||
      avcodec_receive_frame(ctx.get(), frame.get()) < 0 || frame->format != AV_PIX_FMT_RGB24)
    return picture;
  picture.width = frame->width;
  picture.height = frame->height;
  for (int y = 0; y < frame->height; ++y) {
    const uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
    picture.rgb.insert(picture.rgb.end(), row, row + frame->width * 3);
  }
  return picture;
}

struct Tile {
  int video[4], picture[4], status[4];  // left, top, right, bottom
  std::string text;
};

struct ViewerRun {
  int exitStatus = -1, width = 0, height = 0;
  std::vector<Tile> tiles;
  Picture picture;
};

// qcview headless under its own Xvfb, with what it says of its window.
ViewerRun RunViewer(const std::string& name, std::vector<std::string> args) {
  const std::string png = ::testing::TempDir() + name + ".png";
  std::remove(png.c_str());
  // Options given later take precedence.
  args.insert(args.begin(), {"--xvfb", "--screenshot", png, "--after", "1", "--timeout",
                             std::to_string(qcsdk::test::ScaledMs(30000) / 1000)});
  ViewerRun run;
  hostlib::ChildProcess viewer;
  if (!viewer.Start(QCVIEW_PROGRAM, args)) return run;
  for (std::string line; viewer.ReadLine(line);) {
    Tile t;
    int n = 0, used = 0;
    if (std::sscanf(line.c_str(), "window %dx%d", &run.width, &run.height) == 2) continue;
    if (std::sscanf(line.c_str(),
                    "tile %d video %d,%d,%d,%d picture %d,%d,%d,%d status %d,%d,%d,%d: %n", &n,
                    &t.video[0], &t.video[1], &t.video[2], &t.video[3], &t.picture[0],
                    &t.picture[1], &t.picture[2], &t.picture[3], &t.status[0], &t.status[1],
                    &t.status[2], &t.status[3], &used) == 13) {
      t.text = line.substr(static_cast<std::size_t>(used));
      run.tiles.push_back(t);
    }
  }
  run.exitStatus = viewer.Wait(qcsdk::test::ScaledMs(60000));
  run.picture = ReadPng(png);
  return run;
}

std::set<uint32_t> Colours(const Picture& p, const int box[4]) {
  std::set<uint32_t> colours;
  for (int y = box[1]; y < box[3]; ++y) {
    for (int x = box[0]; x < box[2]; ++x) colours.insert(p.At(x, y));
  }
  return colours;
}

// The stream's picture (width x height) drawn in its aspect ratio inside the tile's video box, with
// black bars around it, and the bars where the ratios differ.
void ExpectFittedPicture(const Picture& p, const Tile& t, int width, int height) {
  const int* v = t.video;
  const int* f = t.picture;
  EXPECT_NEAR((f[2] - f[0]) * height, (f[3] - f[1]) * width, std::max(width, height));
  EXPECT_GE(Colours(p, f).size(), 16u) << "no picture in the tile";
  std::size_t barPixels = 0;
  for (const auto& bar : {std::array{v[0], v[1], v[2], f[1]}, std::array{v[0], f[3], v[2], v[3]},
                          std::array{v[0], f[1], f[0], f[3]}, std::array{f[2], f[1], v[2], f[3]}}) {
    const std::set<uint32_t> colours = Colours(p, bar.data());
    EXPECT_LE(colours, std::set<uint32_t>{0}) << "picture drawn over a bar";
    barPixels += static_cast<std::size_t>(bar[2] - bar[0]) * (bar[3] - bar[1]);
  }
  EXPECT_GT(barPixels, 0u);
}

// A 2x2 grid of the simulator's channels: the PNG is the window, each tile a picture and a status
// line naming a connected link; a refused connect still gets a screenshot, status, exit status.
TEST(QcviewTest, ScreenshotShowsEveryTilesPictureAndStatus) {
  if (hostlib::FindProgram("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
  const ViewerRun grid = RunViewer("grid", {"--grid", "2x2", "--size", "500x400"});
  ASSERT_EQ(grid.exitStatus, 0);
  EXPECT_EQ(std::pair(grid.width, grid.height), std::pair(500, 400));
  ASSERT_EQ(std::pair(grid.picture.width, grid.picture.height), std::pair(500, 400));
  ASSERT_EQ(grid.tiles.size(), 4u);
  for (const Tile& t : grid.tiles) {
    SCOPED_TRACE(t.text);
    for (const char* word : {"connected", " fps"}) EXPECT_NE(t.text.find(word), std::string::npos);
    // Text and its background only: nothing drew over the status line.
    EXPECT_EQ(Colours(grid.picture, t.status), (std::set<uint32_t>{0x202020, 0xe0e0e0}));
  }
  // Tiles 1 and 3 show 4:3 pictures, 2 and 4 16:9 ones, each into a 246x180 box.
  for (std::size_t i = 0; i < grid.tiles.size(); ++i) {
    ExpectFittedPicture(grid.picture, grid.tiles[i], i % 2 ? 384 : 320, i % 2 ? 216 : 240);
  }

  const ViewerRun refused = RunViewer("refused", {"--timeout", "2.5", "nxl://127.0.0.1:1/0"});
  EXPECT_EQ(refused.exitStatus, 3);
  ASSERT_EQ(refused.tiles.size(), 1u);
  EXPECT_NE(refused.tiles[0].text.find("connection refused"), std::string::npos);
  EXPECT_NE(refused.tiles[0].text.find("reconnecting in"), std::string::npos);
  EXPECT_EQ(refused.picture.width, refused.width);
}

// Scripted keys: Tab and f show the 16:9 tile alone in the whole window, with bars beside it; p
// and Return list a tile's recordings and play the first of them in the tile until it ends.
TEST(QcviewTest, KeysShowATileAloneAndPlayARecording) {
  if (hostlib::FindProgram("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
  const ViewerRun alone =
      RunViewer("alone", {"--grid", "2x1", "--size", "648x260", "--keys", "Tab,f"});
  ASSERT_EQ(alone.exitStatus, 0);
  ASSERT_EQ(alone.tiles.size(), 2u);
  EXPECT_EQ(alone.tiles[0].video[2], 0) << "the other tile is still laid out";
  const Tile& shown = alone.tiles[1];
  EXPECT_EQ(std::vector(shown.video, shown.video + 4), (std::vector{2, 2, 646, 242}));
  ExpectFittedPicture(alone.picture, shown, 384, 216);

  const ViewerRun play =
      RunViewer("play", {"--grid", "1x1", "--after", "0.2", "--keys", "p,Return"});
  ASSERT_EQ(play.exitStatus, 0);
  ASSERT_EQ(play.tiles.size(), 1u);
  EXPECT_NE(play.tiles[0].text.find("PLAY "), std::string::npos) << play.tiles[0].text;
  EXPECT_GE(Colours(play.picture, play.tiles[0].picture).size(), 16u);

  // A playback that runs out gives the tile back to live pictures (the OCT tile, with the grid's).
  const ViewerRun ended = RunViewer("ended", {"--grid", "2x1", "--keys", "Tab,p,Return,live"});
  ASSERT_EQ(ended.tiles.size(), 2u);
  for (const Tile& t : ended.tiles) {
    int fps = 0;  // 25 live; what is left of a playback's last second when live does not come back
    const std::size_t at = t.text.find("connected");
    ASSERT_NE(at, std::string::npos) << t.text;
    std::sscanf(t.text.c_str() + at, "connected %*dx%*d %d fps", &fps);
    EXPECT_GE(fps, 10) << t.text;
  }
  EXPECT_NE(ended.tiles[1].text.find("playback ended"), std::string::npos);
}

// A device that goes away and comes back on the same ports: the tile connects again by itself and
// shows pictures again.
TEST(QcviewTest, TileReconnectsWhenItsDeviceReturns) {
  if (hostlib::FindProgram("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
  hostlib::Simulator first, second;
  ASSERT_TRUE(first.Start(VDEVICE_PROGRAM, {"--until-stdin-closes", "--device", "type=2"}));
  const hostlib::SimDevice device = first.devices().at(0);
  hostlib::ChildProcess viewer;
  ASSERT_TRUE(viewer.Start(QCVIEW_PROGRAM,
                           {"--xvfb", "nxl://localhost:" + std::to_string(device.port) + "/0"}));
  // The viewer is ended when a line does not come in time.
  std::atomic<bool> done{false};
  std::thread guard([&] {
    if (!qcsdk::test::WaitUntil([&] { return done.load(); }, 60000, 20))
      kill(viewer.pid(), SIGTERM);
  });
  auto waitFor = [&](const std::string& text) {
    for (std::string line; viewer.ReadLine(line);) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(waitFor("tile 1: showing pictures"));
  first.Stop();
  EXPECT_TRUE(second.Start(VDEVICE_PROGRAM, {"--until-stdin-closes", "--device",
                                             "type=2,port=" + std::to_string(device.port) +
                                                 ",oct_port=" + std::to_string(device.oct_port)}));
  EXPECT_TRUE(waitFor("tile 1: showing pictures"));
  done = true;
  guard.join();
  EXPECT_EQ(viewer.Stop(SIGTERM), 0);
}

}  // namespace
