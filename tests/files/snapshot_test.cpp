// Snapshots of the last decoded picture.
#include <array>
#include <cstdlib>

#include "files_fixture.h"
#include "qcsdk/channel/snapshot.h"

namespace qcsdk::test {
namespace {

// The conversion as documented, pixel by pixel: blue, green, red.
std::array<int, 3> Expected(int Y, int U, int V) {
  auto clamp = [](int z) { return z < 0 ? 0 : z > 255 ? 255 : z; };
  return {clamp((298 * Y + 516 * U - 70688) >> 8),
          clamp((298 * Y - 100 * U - 208 * V + 34784) >> 8),
          clamp((298 * Y + 409 * V - 56992) >> 8)};
}

DecodedFrame Frame(int w, int h, const std::vector<uint8_t>& y, const std::vector<uint8_t>& u,
                   const std::vector<uint8_t>& v, int ys, int cs) {
  return DecodedFrame{w, h, y.data(), u.data(), v.data(), ys, cs, cs};
}

TEST(SnapshotConversionTest, KnownColours) {
  const struct {
    uint8_t y, u, v;
    uint8_t b, g, r;
  } cases[] = {{16, 128, 128, 0, 0, 0},  {235, 128, 128, 255, 255, 255}, {81, 90, 240, 0, 0, 255},
               {145, 54, 34, 0, 255, 0}, {41, 240, 110, 255, 0, 0},      {0, 0, 0, 0, 135, 0}};
  for (const auto& c : cases) {
    std::vector<uint8_t> py(4, c.y), pu(1, c.u), pv(1, c.v), out(16);
    ConvertToBgra(Frame(2, 2, py, pu, pv, 2, 1), out.data());
    for (int px = 0; px < 4; ++px) {
      EXPECT_NEAR(out[px * 4 + 0], c.b, 2) << int(c.y) << "/" << int(c.u) << "/" << int(c.v);
      EXPECT_NEAR(out[px * 4 + 1], c.g, 2);
      EXPECT_NEAR(out[px * 4 + 2], c.r, 2);
      EXPECT_EQ(out[px * 4 + 3], 255);
    }
  }
  // Exact black and white.
  std::vector<uint8_t> black(4, 16), white(4, 235), grey(1, 128), out(16);
  ConvertToBgra(Frame(2, 2, black, grey, grey, 2, 1), out.data());
  EXPECT_EQ(out, std::vector<uint8_t>({0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
  ConvertToBgra(Frame(2, 2, white, grey, grey, 2, 1), out.data());
  EXPECT_EQ(out, std::vector<uint8_t>({255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                       255, 255, 255, 255}));
}

TEST(SnapshotConversionTest, BottomUpRowsSharedChromaAndOddWidth) {
  // 3 x 4 picture with padded strides: luma varies per pixel, chroma per
  // 2 x 2 block.
  const int w = 3, h = 4, ys = 5, cs = 4;
  std::vector<uint8_t> py(ys * h, 0);
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) py[r * ys + x] = static_cast<uint8_t>(16 + 50 * r + 10 * x);
  }
  const std::vector<uint8_t> pu = {128, 200, 0, 0, 60, 90, 0, 0};
  const std::vector<uint8_t> pv = {128, 100, 0, 0, 180, 30, 0, 0};
  std::vector<uint8_t> out(w * h * 4, 0xEE);
  ConvertToBgra(Frame(w, h, py, pu, pv, ys, cs), out.data());
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) {
      const auto bgr = Expected(py[r * ys + x], pu[(r / 2) * cs + x / 2], pv[(r / 2) * cs + x / 2]);
      const uint8_t* p = &out[((h - 1 - r) * w + x) * 4];  // row r is stored bottom-up
      EXPECT_EQ(p[0], bgr[0]) << r << "," << x;
      EXPECT_EQ(p[1], bgr[1]) << r << "," << x;
      EXPECT_EQ(p[2], bgr[2]) << r << "," << x;
      EXPECT_EQ(p[3], 255);
    }
  }
}

class SnapshotTest : public FilesFixture {
 protected:
  std::vector<uint8_t> y, u, v;

  // The player reports a w x h picture: top row black, the rest white.
  void Picture(int w, int h) {
    const int cw = (w + 1) / 2, ch2 = (h + 1) / 2;
    y.assign(static_cast<std::size_t>(w) * h, 235);
    std::fill(y.begin(), y.begin() + w, 16);
    u.assign(static_cast<std::size_t>(cw) * ch2, 128);
    v.assign(static_cast<std::size_t>(cw) * ch2, 128);
    fake.SetBitmapSize(w, h);
    QVSP_PictureCallback picture = fake.picture();
    ASSERT_NE(picture, nullptr);
    FakeLibraries::RunOnLibraryThread(
        [&] { picture(ch->PlayerHandle(), y.data(), u.data(), v.data(), w, cw); });
  }
};

TEST_F(SnapshotTest, SnapshotsNeedAPicture) {
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);  // registers the decoded-picture function
  Describe(Record(0));
  uint8_t* buffer = nullptr;
  int32_t w = 0, h = 0;
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 0);
  EXPECT_EQ(QCSDK_SaveBitmap(0, Path("none.bmp").c_str()), 0);
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 0);
  Picture(4, 2);
  ASSERT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 1);
  QCSDK_FreeBitmapBuffer(buffer);
  // Switching the decoder off (or on again) forgets the picture.
  ASSERT_EQ(QCSDK_EnableDecoder(0, 0), 1);
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 0);
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, nullptr, &w, &h), 0);
  QCSDK_FreeBitmapBuffer(nullptr);
  QCSDK_ReleaseSDK();
}

TEST_F(SnapshotTest, BufferAndFileFromTheLastPicture) {
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  Describe(Record(0));
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  Picture(5, 2);
  uint8_t* buffer = nullptr;
  int32_t w = -1, h = -1;
  ASSERT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 1);
  ASSERT_EQ(w, 5);
  ASSERT_EQ(h, 2);
  // First stored row = bottom row (white); second = top row (black).
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(buffer[x * 4], 255) << x;
    EXPECT_EQ(buffer[(5 + x) * 4], 0) << x;
  }
  ASSERT_EQ(QCSDK_SaveBitmap(0, Path("shot.bmp").c_str()), 1);
  auto file = ReadFile(Path("shot.bmp"));
  ASSERT_EQ(file.size(), 54u + 5 * 2 * 4);
  EXPECT_TRUE(std::equal(buffer, buffer + 40, file.begin() + 54));
  EXPECT_EQ(LoadLe32(file.data() + 18), 5u);
  EXPECT_EQ(static_cast<int32_t>(LoadLe32(file.data() + 22)), 2);
  QCSDK_FreeBitmapBuffer(buffer);
  EXPECT_EQ(QCSDK_SaveBitmap(0, (dir / "no" / "x.bmp").c_str()), 0);
  QCSDK_ReleaseSDK();
}

TEST(SnapshotHeaderTest, BitmapHeaderFields) {
  uint8_t header[kBitmapHeaderSize];
  BuildBitmapHeader(640, 480, header);
  EXPECT_EQ(header[0], 'B');
  EXPECT_EQ(header[1], 'M');
  EXPECT_EQ(LoadLe32(header + 2), 640u * 480u * 4u + 54u);
  EXPECT_EQ(LoadLe32(header + 10), 54u);
  EXPECT_EQ(LoadLe32(header + 14), 40u);
  EXPECT_EQ(LoadLe32(header + 18), 640u);
  EXPECT_EQ(static_cast<int32_t>(LoadLe32(header + 22)), 480);
  EXPECT_EQ(LoadLe16(header + 26), 1u);
  EXPECT_EQ(LoadLe16(header + 28), 32u);
  EXPECT_EQ(LoadLe32(header + 30), 0u);
  EXPECT_EQ(LoadLe32(header + 34), 640u * 480u * 4u);
  EXPECT_EQ(LoadLe32(header + 38), 300u);
  EXPECT_EQ(LoadLe32(header + 42), 300u);
  EXPECT_EQ(LoadLe32(header + 46), 0u);
}

}  // namespace
}  // namespace qcsdk::test
