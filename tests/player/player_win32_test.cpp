// Display into a host's HWND through GDI, read back from the window: what
// lands in the window, where, and what happens when the window goes away.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "host_window_win32.h"
#include "player_fixture.h"

namespace qvsp_test {
namespace {

constexpr uint32_t kHostColour = 0x336699;

// What the scaler makes of Y, U and V (BT.601 studio range), as 0xRRGGBB.
uint32_t Rgb(int y, int u, int v) {
  const double l = 1.164 * (y - 16);
  auto c = [](double x) { return static_cast<uint32_t>(std::clamp(x + 0.5, 0.0, 255.0)); };
  return c(l + 1.596 * (v - 128)) << 16 | c(l - 0.391 * (u - 128) - 0.813 * (v - 128)) << 8 |
         c(l + 2.018 * (u - 128));
}

int Channel(uint32_t rgb, int c) {
  return static_cast<int>(rgb >> (16 - 8 * c) & 0xFF);
}

// Mean distance of the luma of `rect`'s pixels from the picture's, pixel for
// pixel (the picture drawn at its own size): about 4 after the round trip
// through RGB, above 10 for a picture one pixel off or upside down.
double LumaError(const std::vector<uint32_t>& pixels, int width, const QVSP_Rect& r,
                 const Picture& p) {
  double error = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const uint32_t rgb = pixels[y * width + x];
      const int luma =
          16 + (66 * Channel(rgb, 0) + 129 * Channel(rgb, 1) + 25 * Channel(rgb, 2) + 128) / 256;
      error += std::abs(luma - p.y[(y - r.top) * p.yStride + x - r.left]);
    }
  }
  return error / ((r.right - r.left) * (r.bottom - r.top));
}

// Pixels inside `rect` farther than 8 levels from `rgb` in any channel, and
// pixels outside every rectangle that are not the host's colour.
int Wrong(const std::vector<uint32_t>& pixels, int width, std::initializer_list<QVSP_Rect> rects,
          const QVSP_Rect* flat = nullptr, uint32_t rgb = 0) {
  int wrong = 0;
  for (size_t i = 0; i < pixels.size(); ++i) {
    const int x = static_cast<int>(i) % width;
    const int y = static_cast<int>(i) / width;
    auto in = [x, y](const QVSP_Rect& r) {
      return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    if (flat != nullptr && in(*flat)) {
      for (int c = 0; c < 3; ++c) wrong += std::abs(Channel(pixels[i], c) - Channel(rgb, c)) > 8;
    } else if (std::none_of(rects.begin(), rects.end(), in)) {
      wrong += pixels[i] != kHostColour;
    }
  }
  return wrong;
}

using PlayerWin32 = PlayerTest;

TEST_F(PlayerWin32, PicturesLandInTheirRectanglesOfTheHostsWindowUntilItIsDestroyed) {
  constexpr int kWidth = 320;
  auto window = std::make_unique<HostWindowWin32>(kWidth, 240, kHostColour);
  const int32_t a = OpenPlayer(MakeRecord(PatternCodec::kMpeg4, 160, 120));
  const int32_t b = OpenPlayer(MakeRecord(PatternCodec::kMpeg4, 64, 48));
  EXPECT_EQ(DecoderThreads(), 2);
  const QVSP_Rect rectA{10, 10, 170, 130};   // the picture's own size
  const QVSP_Rect rectB{180, 30, 310, 230};  // enlarged
  EXPECT_EQ(QVSP_SetVideoPreview(a, nullptr, &rectA, 1), 0);
  EXPECT_EQ(QVSP_SetVideoPreview(a, reinterpret_cast<void*>(uintptr_t{0x7FFFFF0}), &rectA, 1), 0);
  EXPECT_EQ(QVSP_SetVideoPreview(a, window->Handle(), nullptr, 1), 0);
  ASSERT_EQ(QVSP_SetVideoPreview(a, window->Handle(), &rectA, 1), 1);
  ASSERT_EQ(QVSP_SetVideoPreview(b, window->Handle(), &rectB, 1), 1);
  const std::array<uint8_t, 3> flat = {120, 90, 200};
  WriteAll(a, Encode(PatternCodec::kMpeg4, 160, 120, 5, 5));
  WriteAll(b, Encode(PatternCodec::kMpeg4, 64, 48, 2, 2, flat));
  ASSERT_TRUE(m_log.WaitFor(a, 5, Timeout()));
  ASSERT_TRUE(m_log.WaitFor(b, 2, Timeout()));

  // Upright, in place, in the right colours, and nothing outside.
  const uint32_t flatRgb = Rgb(flat[0], flat[1], flat[2]);
  const Picture lastA = m_log.Pictures(a).back();
  std::vector<uint32_t> pixels = window->Pixels();
  EXPECT_LT(LumaError(pixels, kWidth, rectA, lastA), 6);
  EXPECT_EQ(Wrong(pixels, kWidth, {rectA, rectB}, &rectB, flatRgb), 0);
  EXPECT_EQ(Stats(a).picturesDrawn, 5u);
  EXPECT_EQ(Stats(b).picturesDrawn, 2u);

  // The host repaints and moves a's rectangle: a refresh draws it there.
  window->Paint();
  const QVSP_Rect movedA{0, 120, 160, 240};
  ASSERT_EQ(QVSP_SetVideoPreview(a, window->Handle(), &movedA, 1), 1);
  EXPECT_EQ(QVSP_RefreshWindow(a), 1);
  pixels = window->Pixels();
  EXPECT_LT(LumaError(pixels, kWidth, movedA, lastA), 6);
  EXPECT_EQ(Wrong(pixels, kWidth, {movedA}), 0);

  // Off: decoded, not drawn. Then the host destroys its window under b.
  ASSERT_EQ(QVSP_SetVideoPreview(a, nullptr, nullptr, 0), 1);
  window->Paint();
  ASSERT_TRUE(Play(a, Encode(PatternCodec::kMpeg4, 160, 120, 3, 3), 8));
  EXPECT_EQ(Wrong(window->Pixels(), kWidth, {}), 0);
  window.reset();
  ASSERT_TRUE(Play(b, Encode(PatternCodec::kMpeg4, 64, 48, 2, 2, flat), 4));
  EXPECT_EQ(Stats(b).picturesDrawn, 2u);
  EXPECT_EQ(Stats(b).drawFailures, 1u);
  EXPECT_EQ(QVSP_RefreshWindow(b), 0);
}

}  // namespace
}  // namespace qvsp_test
