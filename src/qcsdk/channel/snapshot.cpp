#include "qcsdk/channel/snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk {
namespace {

// Pictures beyond this edge are not snapshots of a video stream.
constexpr int32_t kMaxEdge = 16384;

inline uint8_t Clamp(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One pixel from its luma and the chroma terms of its 2 x 2 block; the
// constants fold in the video-range offsets (16, 128) and the rounding.
inline void PutPixel(uint8_t* p, int32_t y, int32_t blue, int32_t green, int32_t red) {
  const int32_t luma = 298 * y;
  p[0] = Clamp((luma + blue) >> 8);
  p[1] = Clamp((luma + green) >> 8);
  p[2] = Clamp((luma + red) >> 8);
  p[3] = 255;
}

// On x86 with ifunc support the row conversion is compiled for several
// instruction sets and the best one is picked at load time.
// (Not in sanitizer builds: their runtimes are not ready when the loader
// runs the resolver.)
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define QCSDK_VECTOR_CLONES __attribute__((target_clones("avx2", "sse4.1", "default")))
#else
#define QCSDK_VECTOR_CLONES
#endif

// Converts one source row into one destination row.
QCSDK_VECTOR_CLONES void ConvertRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t w,
                                    uint8_t* dst) {
  const int32_t pairs = w / 2;
  for (int32_t i = 0; i < pairs; ++i) {
    const int32_t cu = u[i];
    const int32_t cv = v[i];
    const int32_t blue = 516 * cu - 70688;
    const int32_t green = -100 * cu - 208 * cv + 34784;
    const int32_t red = 409 * cv - 56992;
    PutPixel(dst + i * 8, y[2 * i], blue, green, red);
    PutPixel(dst + i * 8 + 4, y[2 * i + 1], blue, green, red);
  }
  if (w % 2 != 0) {  // an odd last column takes its pair's chroma
    const int32_t cu = u[pairs];
    const int32_t cv = v[pairs];
    PutPixel(dst + pairs * 8, y[2 * pairs], 516 * cu - 70688, -100 * cu - 208 * cv + 34784,
             409 * cv - 56992);
  }
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
  const std::size_t rowBytes = static_cast<std::size_t>(f.width) * 4;
  for (int32_t r = 0; r < f.height; ++r) {
    ConvertRow(f.y + static_cast<std::ptrdiff_t>(r) * f.yStride,
               f.u + static_cast<std::ptrdiff_t>(r / 2) * f.uStride,
               f.v + static_cast<std::ptrdiff_t>(r / 2) * f.vStride, f.width,
               out + static_cast<std::size_t>(f.height - 1 - r) * rowBytes);
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
