// Display into a host's HWND through GDI, read back: upright, in place, in colour; a lost window.
#include <memory>

#include "player_fixture.h"

namespace qvsp_test {
namespace {

constexpr int kWidth = 320;

// Mean luma distance of `r` from the picture drawn at its own size: about 4 after the round trip
// through RGB, above 10 one pixel off, upside down or with red and blue swapped.
double LumaError(const std::vector<uint32_t>& pixels, const QVSP_Rect& r, const Picture& p) {
  double error = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x)
      error += std::abs(qcsdk::test::Luma(pixels[y * kWidth + x]) -
                        p.y[(y - r.top) * p.yStride + x - r.left]);
  }
  return error / ((r.right - r.left) * (r.bottom - r.top));
}

using PlayerWin32 = PlayerTest;

TEST_F(PlayerWin32, PicturesLandInTheirRectanglesOfTheHostsWindowUntilItIsDestroyed) {
  auto window = std::make_unique<qcsdk::test::HostWindow>(kWidth, 240);
  const int32_t a = OpenPlayer(MakeRecord(PatternCodec::kMpeg4, 160, 120));
  const int32_t b = OpenPlayer(MakeRecord(PatternCodec::kMpeg4, 64, 48));
  // Named at creation; wine lists a thread only once it has started.
  EXPECT_TRUE(qcsdk::test::WaitUntil([] { return DecoderThreads() == 2; })) << "named";
  const QVSP_Rect rectA{10, 10, 170, 130};   // the picture's own size
  const QVSP_Rect rectB{180, 30, 310, 230};  // enlarged
  EXPECT_EQ(QVSP_SetVideoPreview(a, reinterpret_cast<void*>(uintptr_t{0x7FFFFF0}), &rectA, 1), 0);
  ASSERT_EQ(QVSP_SetVideoPreview(a, window->handle(), &rectA, 1), 1);
  ASSERT_EQ(QVSP_SetVideoPreview(b, window->handle(), &rectB, 1), 1);
  ASSERT_TRUE(Play(a, Encode(PatternCodec::kMpeg4, 160, 120, 5, 5), 5));
  ASSERT_TRUE(Play(b, Encode(PatternCodec::kMpeg4, 64, 48, 2, 2), 2));
  const std::vector<uint32_t> pixels = window->Pixels();
  EXPECT_LT(LumaError(pixels, rectA, m_log.Pictures(a).back()), 6);
  EXPECT_EQ(Touched(pixels, kWidth, {rectA, rectB}), 0);
  EXPECT_EQ(Stats(b).picturesDrawn, 2u);

  // The host destroys its window: one failed draw, then none.
  window.reset();
  ASSERT_TRUE(Play(b, Encode(PatternCodec::kMpeg4, 64, 48, 2, 2), 4));
  EXPECT_EQ(std::tuple(Stats(b).picturesDrawn, Stats(b).drawFailures), std::tuple(2u, 1u));
  EXPECT_EQ(QVSP_RefreshWindow(b), 0);
}

}  // namespace
}  // namespace qvsp_test
