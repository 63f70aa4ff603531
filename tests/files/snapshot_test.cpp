// Snapshots of the last decoded picture.
#include <array>

#include "files_fixture.h"
#include "qcsdk/channel/snapshot.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

// The conversion as documented, pixel by pixel: blue, green, red.
std::array<int, 3> Expected(int Y, int U, int V) {
  auto clamp = [](int z) { return z < 0 ? 0 : z > 255 ? 255 : z; };
  return {clamp((298 * Y + 516 * U - 70688) >> 8),
          clamp((298 * Y - 100 * U - 208 * V + 34784) >> 8),
          clamp((298 * Y + 409 * V - 56992) >> 8)};
}

// Flat pictures (black, white, clamped), then 3 x 4, padded strides, 2 x 2 chroma, rows bottom-up.
TEST(SnapshotConversionTest, ColoursClampingRowsAndSharedChroma) {
  for (const TableRow& row : Table("files/snapshot_colours.md")) {
    const auto value = [&](const char* column) { return static_cast<uint8_t>(row.Int(column)); };
    std::vector<uint8_t> py(4, value("Y")), pu(1, value("U")), pv(1, value("V")), out(16);
    ConvertToBgra({2, 2, py.data(), pu.data(), pv.data(), 2, 1, 1}, out.data());
    std::vector<uint8_t> want;
    for (int px = 0; px < 4; ++px) {
      want.insert(want.end(), {value("blue"), value("green"), value("red"), 255});
    }
    EXPECT_EQ(out, want) << row.Where();
  }
  const int w = 3, h = 4, ys = 5, cs = 4;
  std::vector<uint8_t> py(ys * h, 0);
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) py[r * ys + x] = static_cast<uint8_t>(16 + 50 * r + 10 * x);
  }
  const std::vector<uint8_t> pu = {128, 200, 0, 0, 60, 90, 0, 0};
  const std::vector<uint8_t> pv = {128, 100, 0, 0, 180, 30, 0, 0};
  std::vector<uint8_t> out(w * h * 4, 0xEE);
  ConvertToBgra({w, h, py.data(), pu.data(), pv.data(), ys, cs, cs}, out.data());
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) {
      const auto bgr = Expected(py[r * ys + x], pu[(r / 2) * cs + x / 2], pv[(r / 2) * cs + x / 2]);
      const uint8_t* p = &out[((h - 1 - r) * w + x) * 4];
      EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{bgr[0], bgr[1], bgr[2], 255}))
          << r << "," << x;
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

TEST_F(SnapshotTest, BufferAndFileFromTheLastPictureOnly) {
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);  // registers the decoded-picture function
  Describe(Record(0));
  uint8_t* buffer = nullptr;
  int32_t w = -1, h = -1;
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 0);
  EXPECT_EQ(QCSDK_SaveBitmap(0, Path("none.bmp").c_str()), 0);
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("none.bmp")));
  Picture(5, 2);
  ASSERT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 1);
  ASSERT_EQ(std::pair(w, h), std::pair(5, 2));
  // First stored row = bottom row (white); second = top row (black).
  for (int x = 0; x < 5; ++x)
    EXPECT_EQ(std::pair(buffer[x * 4], buffer[(5 + x) * 4]), (std::pair<uint8_t, uint8_t>(255, 0)))
        << x;
  ASSERT_EQ(QCSDK_SaveBitmap(0, Path("shot.bmp").c_str()), 1);
  auto file = ReadFile(Path("shot.bmp"));
  ASSERT_EQ(file.size(), 54u + 5 * 2 * 4);
  EXPECT_TRUE(std::equal(buffer, buffer + 40, file.begin() + 54));
  for (const TableRow& row : Table("files/bitmap_headers.md")) {
    const uint8_t* field = file.data() + row.Int("offset");
    EXPECT_EQ(row.Int("size") == 2 ? LoadLe16(field) : LoadLe32(field), row.Int("value"))
        << row.Where();
  }
  QCSDK_FreeBitmapBuffer(buffer);
  QCSDK_FreeBitmapBuffer(nullptr);
  EXPECT_EQ(QCSDK_SaveBitmap(0, (dir / "no" / "x.bmp").string().c_str()), 0);
  // Switching the decoder off (or on again) forgets the picture.
  ASSERT_EQ(QCSDK_EnableDecoder(0, 0), 1);
  EXPECT_EQ(QCSDK_SaveBitmapToBuffer(0, &buffer, &w, &h), 0);
  ASSERT_EQ(QCSDK_EnableDecoder(0, 1), 1);
  EXPECT_EQ(QCSDK_SaveBitmap(0, Path("none.bmp").c_str()), 0);
  QCSDK_ReleaseSDK();
}

}  // namespace
}  // namespace qcsdk::test
