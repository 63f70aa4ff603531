#include "qcsdk/channel/recfile.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "platform/mp4pkg_api.h"
#include "qcsdk/base/assertion.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk {

// ---- .sv4 / .sv5 / .sv6 ----

namespace {
constexpr std::size_t kWriteBuffer = 256 * 1024;
}

SVXRecFile::~SVXRecFile() {
  Close();
}

bool SVXRecFile::Open(const char* szFilename, const uint8_t* pData) {
  QC_ASSERT(szFilename != NULL, "recfile");
  QC_ASSERT(pData != NULL, "recfile");
  if (szFilename == nullptr || pData == nullptr) return false;
  Close();
  std::memcpy(m_header, pData, sizeof m_header);
  m_pFile = std::fopen(szFilename, "wb");
  if (m_pFile == nullptr) return false;
  // Frames arrive one by one on the receiving thread: a large buffer turns
  // them into few writes.
  std::setvbuf(m_pFile, nullptr, _IOFBF, kWriteBuffer);
  m_bKeyFrameSeen = false;
  StoreLe32(m_header + svx::kFrameCount, 0);
  std::fwrite(m_header, 1, sizeof m_header, m_pFile);
  std::fwrite(m_header, 1, sizeof m_header, m_pFile);
  return true;
}

void SVXRecFile::Close() {
  if (m_pFile == nullptr) return;
  std::fseek(m_pFile, static_cast<long>(svx::kBlockSize), SEEK_SET);
  std::fwrite(m_header, 1, sizeof m_header, m_pFile);
  std::fclose(m_pFile);
  m_pFile = nullptr;
}

bool SVXRecFile::WriteFrame(const uint8_t* pData, int32_t dataSize, bool key, bool audio) {
  if (key) m_bKeyFrameSeen = true;
  if (!m_bKeyFrameSeen) return true;
  if (m_pFile == nullptr) return true;
  if (pData != nullptr && dataSize > 0) {
    std::fwrite(pData, 1, static_cast<std::size_t>(dataSize), m_pFile);
  }
  // Every video frame counts, an empty one too.
  if (!audio) StoreLe32(m_header + svx::kFrameCount, LoadLe32(m_header + svx::kFrameCount) + 1);
  return true;
}

// ---- MP4 ----

MP4RecFile::~MP4RecFile() {
  Close();
}

bool MP4RecFile::Open(const char* szFilename, const uint8_t* pData) {
  QC_ASSERT(szFilename != NULL, "recfile");
  QC_ASSERT(pData != NULL, "recfile");
  if (szFilename == nullptr || pData == nullptr) return false;
  Close();
  QP_VideoDesc video{};
  video.width = LoadLe16(pData + info::kWidth);
  video.height = LoadLe16(pData + info::kHeight);
  const uint16_t den = LoadLe16(pData + info::kRateDen);
  // A zero denominator would give a non-finite rate; the packager then
  // derives timestamps from its own default rate.
  video.frameRate =
      den == 0 ? 0.0f
               : static_cast<float>(LoadLe16(pData + info::kRateNum)) / static_cast<float>(den);
  const std::string index = std::string(szFilename) + ".qdx";
  const bool audio = LoadLe16(pData + info::kAudioPresent) == 1;
  int32_t audioValue = 0;
  if (audio) {
    switch (LoadLe16(pData + info::kAudioCodec)) {
      case 1: audioValue = QP_AUDIO_ALAW; break;
      case 2: audioValue = QP_AUDIO_ULAW; break;
      case 3: audioValue = QP_AUDIO_AAC; break;
      default: return false;
    }
  }
  m_bKeyFrameSeen = false;
  m_hPackage = platform::Mp4Pkg().OpenPackage(&video, 1, audio ? 1 : 0, szFilename, index.c_str(),
                                              audioValue, 0);
  return m_hPackage != nullptr;
}

void MP4RecFile::Close() {
  if (m_hPackage == nullptr) return;
  platform::Mp4Pkg().ClosePackage(m_hPackage);
  m_hPackage = nullptr;
}

bool MP4RecFile::WriteFrame(const uint8_t* pData, int32_t dataSize, bool key, bool audio) {
  QC_ASSERT(pData != NULL, "recfile");
  QC_ASSERT(dataSize > 0, "recfile");
  if (key) m_bKeyFrameSeen = true;
  if (!m_bKeyFrameSeen) return true;
  if (m_hPackage == nullptr || pData == nullptr || dataSize <= 0) return false;
  QP_Frame frame{};
  frame.kind = audio ? QP_FRAME_AUDIO : QP_FRAME_VIDEO;
  frame.data = pData;
  frame.length = dataSize;
  return platform::Mp4Pkg().PackageOneFrame(m_hPackage, &frame) != 0;
}

// ---- the holder ----

bool RecFilePtr::Create(int32_t kind) {
  QC_ASSERT(m_pRecFile == NULL, "recfile");
  if (m_pRecFile != nullptr) return false;
  try {
    if (kind >= 0 && kind <= 2) {
      m_pRecFile = std::make_unique<SVXRecFile>(kind);
    } else if (kind == 3 || kind == 4) {
      m_pRecFile = std::make_unique<MP4RecFile>(kind);
    } else {
      return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

RecFile* RecFilePtr::operator->() const {
  QC_ASSERT(m_pRecFile != NULL, "recfile");
  return m_pRecFile.get();
}

void RecFilePtr::Reset() {
  if (m_pRecFile == nullptr) return;
  m_pRecFile->Close();
  m_pRecFile.reset();
}

}  // namespace qcsdk
