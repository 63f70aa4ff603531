#include "qcsdk/snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "qcsdk/bytes.h"
#include "qcsdk/channel.h"

namespace qcsdk {
namespace {

// Pictures beyond this edge are not snapshots of a video stream.
constexpr int32_t kMaxEdge = 16384;

inline uint8_t Clamp(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The constants fold in the video-range offsets (16, 128) and the rounding.
inline void PutPixel(uint8_t* p, int32_t y, int32_t u, int32_t v) {
  const int32_t luma = 298 * y;
  p[0] = Clamp((luma + 516 * u - 70688) >> 8);
  p[1] = Clamp((luma - 100 * u - 208 * v + 34784) >> 8);
  p[2] = Clamp((luma + 409 * v - 56992) >> 8);
  p[3] = 255;
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

std::size_t SnapshotSize(const DecodedFrame& f) {
  if (f.y == nullptr || f.u == nullptr || f.v == nullptr) return 0;
  if (f.width <= 0 || f.height <= 0 || f.width > kMaxEdge || f.height > kMaxEdge) return 0;
  return static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height) * 4;
}

void ConvertToBgra(const DecodedFrame& f, uint8_t* out) {
  const int32_t w = f.width;
  const int32_t h = f.height;
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 4;
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* yRow = f.y + static_cast<std::ptrdiff_t>(r) * f.yStride;
    const uint8_t* uRow = f.u + static_cast<std::ptrdiff_t>(r / 2) * f.uStride;
    const uint8_t* vRow = f.v + static_cast<std::ptrdiff_t>(r / 2) * f.vStride;
    uint8_t* dst = out + static_cast<std::size_t>(h - 1 - r) * rowBytes;
    int32_t x = 0;
    for (; x + 1 < w; x += 2) {
      const int32_t u = uRow[x / 2];
      const int32_t v = vRow[x / 2];
      PutPixel(dst + static_cast<std::size_t>(x) * 4, yRow[x], u, v);
      PutPixel(dst + static_cast<std::size_t>(x + 1) * 4, yRow[x + 1], u, v);
    }
    if (x < w) {  // odd width: the last column uses its pair's chroma
      PutPixel(dst + static_cast<std::size_t>(x) * 4, yRow[x], uRow[x / 2], vRow[x / 2]);
    }
  }
}

void BuildBitmapHeader(int32_t width, int32_t height, uint8_t (&header)[kBitmapHeaderSize]) {
  const uint32_t image = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
  std::memset(header, 0, sizeof header);
  header[0] = 'B';
  header[1] = 'M';
  StoreLe32(header + 2, image + kBitmapHeaderSize);
  StoreLe32(header + 10, kBitmapHeaderSize);
  StoreLe32(header + 14, 40);
  StoreLe32(header + 18, static_cast<uint32_t>(width));
  StoreLe32(header + 22, static_cast<uint32_t>(height));
  StoreLe16(header + 26, 1);
  StoreLe16(header + 28, 32);
  StoreLe32(header + 34, image);
  StoreLe32(header + 38, 300);
  StoreLe32(header + 42, 300);
}

bool Channel::SaveBitmap(const char* szFilename) {
  if (szFilename == nullptr) return false;
  std::lock_guard<os::RecursiveLock> guard(*m_pDecodedLock);
  const std::size_t size = SnapshotSize(m_decodedFrame);
  if (size == 0) return false;
  std::unique_ptr<uint8_t, FreeDeleter> pixels(static_cast<uint8_t*>(std::malloc(size)));
  if (!pixels) return false;
  ConvertToBgra(m_decodedFrame, pixels.get());
  std::FILE* file = std::fopen(szFilename, "wb");
  if (file == nullptr) return false;
  uint8_t header[kBitmapHeaderSize];
  BuildBitmapHeader(m_decodedFrame.width, m_decodedFrame.height, header);
  // Once the file is open the snapshot counts as saved; write errors after
  // that are not reported.
  std::fwrite(header, 1, sizeof header, file);
  std::fwrite(pixels.get(), 1, size, file);
  std::fclose(file);
  return true;
}

bool Channel::SaveBitmapToBuffer(uint8_t** ppBuffer, int32_t* pWidth, int32_t* pHeight) {
  if (ppBuffer == nullptr || pWidth == nullptr || pHeight == nullptr) return false;
  std::lock_guard<os::RecursiveLock> guard(*m_pDecodedLock);
  const std::size_t size = SnapshotSize(m_decodedFrame);
  if (size == 0) return false;
  // Allocated with malloc: the host gives it back through QCSDK_FreeBitmapBuffer.
  auto* pixels = static_cast<uint8_t*>(std::malloc(size));
  if (pixels == nullptr) return false;
  ConvertToBgra(m_decodedFrame, pixels);
  *ppBuffer = pixels;
  *pWidth = m_decodedFrame.width;
  *pHeight = m_decodedFrame.height;
  return true;
}

}  // namespace qcsdk
