// Display into a host's X11 window under a private Xvfb: what lands where; losing window or server.
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "hostlib/virtual_display.h"
#include "player_fixture.h"
#include "qcview/x_window.h"

namespace qvsp_test {
namespace {

// Slack for the scaler's fixed-point rounding, in 8-bit levels.
constexpr int kTolerance = 8;

// A host's window on the test's own X connection, in the host's colour, read back as 0xRRGGBB.
struct HostWindow {
  HostWindow(int w, int h) : width(w), height(h) {
    std::string error;
    opened = window.Open(w, h, "host", error);
    EXPECT_TRUE(opened) << error;
    if (opened) Paint();
  }
  void Paint() {
    window.Fill({0, 0, width, height}, kHostColour);
    window.Sync();
  }
  std::vector<uint32_t> Pixels() {
    std::vector<uint8_t> bgra;
    std::string error;
    EXPECT_TRUE(window.Capture(width, height, bgra, error)) << error;
    std::vector<uint32_t> out(bgra.size() / 4);
    for (size_t i = 0; i < out.size(); ++i)
      out[i] = bgra[4 * i] | bgra[4 * i + 1] << 8 | bgra[4 * i + 2] << 16;
    return out;
  }
  void* Handle() const { return window.handle(); }

  qcview::XWindow window;
  const int width, height;
  bool opened = false;
};

// Whether each channel of `pixel` (0xRRGGBB) lies within what BT.601 studio-range conversion makes
// of the lowest and highest Y, U and V, clamped to 8 bits, with slack.
bool Covers(uint32_t pixel, const int low[3], const int high[3]) {
  // The U and V weights of R, G and B: G falls as U and V rise.
  constexpr double kWeights[3][2] = {{0, 1.596}, {-0.391, -0.813}, {2.018, 0}};
  for (int c = 0; c < 3; ++c) {
    double lo = 1.164 * (low[0] - 16), hi = 1.164 * (high[0] - 16);
    for (int k = 0; k < 2; ++k) {
      const double w = kWeights[c][k];
      lo += w * ((w > 0 ? low : high)[k + 1] - 128);
      hi += w * ((w > 0 ? high : low)[k + 1] - 128);
    }
    const int value = static_cast<int>(pixel >> (16 - 8 * c)) & 0xFF;
    if (value < std::clamp(static_cast<int>(lo), 0, 255) - kTolerance ||
        value > std::clamp(static_cast<int>(hi), 0, 255) + kTolerance)
      return false;
  }
  return true;
}

// Shared-memory segments this process created that still exist.
int SharedSegments() {
  std::ifstream in("/proc/sysvipc/shm");
  int n = 0;
  in.ignore(1 << 16, '\n');  // the column names
  for (long key, id, perms, size, creator; in >> key >> id >> perms >> size >> creator;) {
    n += creator == ::getpid() ? 1 : 0;
    in.ignore(1 << 16, '\n');
  }
  return n;
}

// Every test draws on a private server (skipped when none starts), never on the developer's
// display, and leaves no thread, descriptor (X connection) or shared-memory segment behind.
class Display : public PlayerTest {
 protected:
  virtual bool Shm() const { return true; }
  void SetUp() override {
    unsetenv("DISPLAY");
    std::thread([] {}).join();  // a sanitizer's helper thread starts with the first
    m_left = Left();
    std::string error;
    if (!m_server.Start(640, 480, error, Shm())) GTEST_SKIP() << error;
    setenv("DISPLAY", m_server.name().c_str(), 1);
    PlayerTest::SetUp();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    PlayerTest::TearDown();
    m_server.Kill();
    qcsdk::test::WaitUntil([&] { return Left() == m_left; });
    EXPECT_EQ(Left(), m_left) << "threads, descriptors, segments";
    unsetenv("DISPLAY");
  }
  static std::array<int, 3> Left() {
    return {qcsdk::test::ThreadCount(), qcsdk::test::HandleCount(), SharedSegments()};
  }

  // Every pixel of `rect` must lie within the colour range of the source pixels around the point
  // it was scaled from (one luma and one chroma sample each way): any interpolating scaler passes,
  // a wrong picture, offset, size or colour conversion does not.
  static int Mismatches(const std::vector<uint32_t>& window, int windowWidth, const QVSP_Rect& r,
                        const Picture& p) {
    int bad = 0;
    const int w = r.right - r.left, h = r.bottom - r.top;
    for (int dy = 0; dy < h; ++dy) {
      for (int dx = 0; dx < w; ++dx) {
        const double sx = (dx + 0.5) * p.width / w - 0.5, sy = (dy + 0.5) * p.height / h - 0.5;
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        auto widen = [&](int plane, int value) {
          low[plane] = std::min(low[plane], value);
          high[plane] = std::max(high[plane], value);
        };
        for (int y = static_cast<int>(sy) - 1; y <= static_cast<int>(sy) + 2; ++y) {
          for (int x = static_cast<int>(sx) - 1; x <= static_cast<int>(sx) + 2; ++x) {
            const int cx = std::clamp(x, 0, p.width - 1), cy = std::clamp(y, 0, p.height - 1);
            widen(0, p.y[cy * p.yStride + cx]);
            for (int c = -1; c <= 1; ++c) {
              const int chroma = std::clamp(cy / 2 + c, 0, (p.height + 1) / 2 - 1) * p.uvStride +
                                 std::clamp(cx / 2 + c, 0, (p.width + 1) / 2 - 1);
              widen(1, p.u[chroma]);
              widen(2, p.v[chroma]);
            }
          }
        }
        if (!Covers(window[(r.top + dy) * windowWidth + r.left + dx], low, high)) ++bad;
      }
    }
    return bad;
  }

  hostlib::VirtualDisplay m_server;
  std::array<int, 3> m_left{};
};

class DisplayInto : public Display, public ::testing::WithParamInterface<bool> {
  bool Shm() const override { return GetParam(); }
};

TEST_P(DisplayInto, EachPlayerDrawsItsPictureScaledIntoItsOwnRectangleOnly) {
  constexpr int kWidth = 320, kHeight = 240;
  HostWindow window(kWidth, kHeight);
  ASSERT_TRUE(window.opened);

  // A pattern shrunk into one rectangle, a flat colour enlarged into another, in one window.
  const int32_t a = OpenPlayer(MakeRecord(PatternCodec::kH264, 160, 120));
  const int32_t b = OpenPlayer(MakeRecord(PatternCodec::kH264, 64, 48));
  const QVSP_Rect rectA{10, 10, 110, 90}, rectB{150, 30, 310, 230};
  ASSERT_EQ(QVSP_SetVideoPreview(a, window.Handle(), &rectA, 1), 1);
  ASSERT_EQ(QVSP_SetVideoPreview(b, window.Handle(), &rectB, 1), 1);
  const std::array<uint8_t, 3> flat = {41, 240, 110};
  WriteAll(a, Encode(PatternCodec::kH264, 160, 120, 5, 5));
  WriteAll(b, Encode(PatternCodec::kH264, 64, 48, 2, 2, flat));
  // A picture is drawn before it is reported.
  ASSERT_TRUE(m_log.WaitFor(a, 5, Timeout()));
  ASSERT_TRUE(m_log.WaitFor(b, 2, Timeout()));

  std::vector<uint32_t> pixels = window.Pixels();
  ASSERT_EQ(pixels.size(), static_cast<size_t>(kWidth * kHeight));
  const Picture lastA = m_log.Pictures(a).back();
  EXPECT_EQ(Mismatches(pixels, kWidth, rectA, lastA), 0);
  EXPECT_EQ(Mismatches(pixels, kWidth, rectB, m_log.Pictures(b).back()), 0);
  EXPECT_EQ(Touched(pixels, kWidth, {rectA, rectB}), 0);
  EXPECT_EQ(std::tuple(Stats(a).picturesDrawn, Stats(b).picturesDrawn), std::tuple(5u, 2u));
  uint32_t times[8] = {};
  EXPECT_EQ(QVSP_GetDrawTimes(a, times, 8), 5);

  // The host clears its window and moves the rectangle: a refresh draws the last picture there.
  window.Paint();
  const QVSP_Rect movedA{20, 130, 120, 210};
  ASSERT_EQ(QVSP_SetVideoPreview(a, window.Handle(), &movedA, 1), 1);
  EXPECT_EQ(QVSP_RefreshWindow(a), 1);
  pixels = window.Pixels();
  EXPECT_EQ(Mismatches(pixels, kWidth, movedA, lastA), 0);
  EXPECT_EQ(Touched(pixels, kWidth, {movedA}), 0);
  EXPECT_EQ(Stats(a).picturesReported, 5u);

  // Off: later pictures are decoded and reported but not drawn.
  ASSERT_EQ(QVSP_SetVideoPreview(a, nullptr, nullptr, 0), 1);
  window.Paint();
  ASSERT_TRUE(Play(a, Encode(PatternCodec::kH264, 160, 120, 3, 3), 8));
  EXPECT_EQ(Touched(window.Pixels(), kWidth, {}), 0);
  EXPECT_EQ(Stats(a).picturesDrawn, 5u);
  EXPECT_EQ(QVSP_RefreshWindow(a), 1) << "nothing to draw while off";
}

INSTANTIATE_TEST_SUITE_P(SharedMemoryOrNot, DisplayInto, ::testing::Bool());

TEST_F(Display, RefusalsAndLostWindowsOrServersStopDrawingButNotDecoding) {
  const QVSP_Rect rect{0, 0, 64, 48};
  const int32_t player = OpenPlayer(MakeRecord(PatternCodec::kH264, 64, 48));
  const auto packets = Encode(PatternCodec::kH264, 64, 48, 4, 4);
  unsetenv("DISPLAY");
  EXPECT_EQ(QVSP_SetVideoPreview(player, reinterpret_cast<void*>(1), &rect, 1), 0);
  setenv("DISPLAY", m_server.name().c_str(), 1);
  auto window = std::make_unique<HostWindow>(64, 48);
  ASSERT_TRUE(window->opened);
  const auto noSuchWindow = reinterpret_cast<void*>(uintptr_t{0x7FFFFFF});
  EXPECT_EQ(QVSP_SetVideoPreview(player, noSuchWindow, &rect, 1), 0);
  EXPECT_EQ(QVSP_SetVideoPreview(player, window->Handle(), nullptr, 1), 0);
  for (const QVSP_Rect& bad : {QVSP_Rect{10, 10, 10, 40}, QVSP_Rect{10, 10, 40, 9},
                               QVSP_Rect{0, 0, 40000, 10}, QVSP_Rect{-40000, 0, 10, 10}})
    EXPECT_EQ(QVSP_SetVideoPreview(player, window->Handle(), &bad, 1), 0);

  ASSERT_EQ(QVSP_SetVideoPreview(player, window->Handle(), &rect, 1), 1);
  ASSERT_TRUE(Play(player, packets, 4));
  EXPECT_EQ(Stats(player).picturesDrawn, 4u);

  // The host destroys its window: one failed draw, then no more drawing.
  window.reset();
  ASSERT_TRUE(Play(player, packets, 8));
  QVSP_Statistics stats = Stats(player);
  EXPECT_EQ(std::tuple(stats.picturesDrawn, stats.drawFailures), std::tuple(4u, 1u));
  EXPECT_EQ(QVSP_RefreshWindow(player), 0);

  // A new window draws again; then the server dies mid-stream.
  HostWindow second(64, 48);
  ASSERT_EQ(QVSP_SetVideoPreview(player, second.Handle(), &rect, 1), 1);
  ASSERT_TRUE(Play(player, packets, 12));
  EXPECT_EQ(Stats(player).picturesDrawn, 8u);
  m_server.Kill();
  ASSERT_TRUE(Play(player, packets, 16));
  stats = Stats(player);
  EXPECT_EQ(std::tuple(stats.picturesDrawn, stats.drawFailures), std::tuple(8u, 2u));
  EXPECT_EQ(stats.picturesReported, 16u);
  EXPECT_EQ(QVSP_RefreshWindow(player), 0);
  EXPECT_EQ(QVSP_SetVideoPreview(player, second.Handle(), &rect, 1), 0);
}

}  // namespace
}  // namespace qvsp_test
