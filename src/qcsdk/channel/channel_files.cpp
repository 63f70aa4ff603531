// The channel's local files: recordings of the live stream, downloads of
// remote recordings, and snapshots.
#include <cctype>
#include <cstring>
#include <mutex>

#include "platform/mp4pkg_api.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/base/callbacks.h"
#include "qcsdk/channel/channel.h"

namespace qcsdk {
namespace {

constexpr const char* kExtensions[] = {".sv4", ".sv5", ".sv6", ".mp4", ".mp4"};

// The last four characters must be the extension: the dot and the last
// character exactly, the middle two regardless of ASCII letter case.
bool HasExtension(const char* name, const char* extension) {
  const std::size_t length = std::strlen(name);
  if (length < 4) return false;  // too short to carry an extension at all
  const char* end = name + length - 4;
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  return end[0] == extension[0] && lower(end[1]) == extension[1] && lower(end[2]) == extension[2] &&
         end[3] == extension[3];
}

}  // namespace

bool Channel::StartRecord(const char* szFilename) {
  if (Status() != QCLS_Connected || szFilename == nullptr) return false;
  StopRecord();
  const uint16_t kind = InfoWord(info::kRecordKind);
  if (kind > 4) return false;
  if (!HasExtension(szFilename, kExtensions[kind])) return false;
  std::lock_guard<os::RecursiveLock> guard(*m_pRecFileLock);
  if (!m_recFile.Create(kind)) return false;
  const StreamInfoRecord record = InfoSnapshot();
  if (m_recFile->Open(szFilename, record.data())) return true;
  m_recFile.Reset();
  return false;
}

bool Channel::StopRecord() {
  std::lock_guard<os::RecursiveLock> guard(*m_pRecFileLock);
  m_recFile.Reset();
  return true;
}

bool Channel::DownloadRemoteFile(int32_t /*nIndex*/, const char* szFilename) {
  std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
  CloseDownloadFile();  // a download still running, and its package, are finished first
  m_bDownloadToMp4 = false;
  if (szFilename == nullptr) return false;
  m_downloadFile.clear();
  m_downloadFile.open(szFilename, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!m_downloadFile.good()) return false;
  m_strDownloadPath = szFilename;
  m_nDownloadedBytes = 0;
  m_nPackagedFrames = 0;
  return true;
}

bool Channel::StopDownload() {
  CloseDownloadFile();
  return true;
}

// Waits for a block the transport's thread is writing: the library may still
// deliver data for a download the host is stopping.
void Channel::CloseDownloadFile() {
  std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
  m_strDownloadPath.clear();
  if (m_downloadFile.is_open()) m_downloadFile.close();
  if (m_hPackage != nullptr) {
    platform::Mp4Pkg().ClosePackage(m_hPackage);
    m_hPackage = nullptr;
  }
  m_nTotalFrames = 0;
}

void Channel::OnDownloadData(int32_t nCode, const uint8_t* pData, int32_t nLength, uint32_t nTotal,
                             int32_t nSource) {
  if (nCode < 0 || nCode > 4) return;  // no defined code: nothing changes
  DownloadCallback fn = g_pfnDownload.load(std::memory_order_acquire);
  if (pData == nullptr || nLength < 0) nLength = 0;
  int32_t progress = 0;
  {
    // Held for the block only: the host's callback below may hand a stop to
    // another thread and wait for it.
    std::lock_guard<os::RecursiveLock> guard(*m_pDownloadLock);
    switch (DownloadReportFate(nCode, nSource)) {
      case DownloadFate::kDropped: return;
      case DownloadFate::kStoppedEnd: break;
      case DownloadFate::kCurrent:
        if (nCode != 0) {
          CloseDownloadFile();
        } else if (nLength >= static_cast<int32_t>(kStreamInfoSize) &&
                   std::memcmp(pData + info::kFileTag, "QFH", 3) == 0) {
          OpenDownloadConversion(pData);
          return;
        } else if (m_bDownloadToMp4) {
          progress = PackageDownloadBlock(pData, nLength);
        } else {
          m_nDownloadedBytes += static_cast<uint64_t>(nLength);
          // A download whose size is unknown (total 0) reports no progress.
          progress = nTotal == 0 ? 0 : static_cast<int32_t>(m_nDownloadedBytes * 10000u / nTotal);
          if (m_downloadFile.good() && nLength > 0) {
            m_downloadFile.write(reinterpret_cast<const char*>(pData), nLength);
          }
        }
        break;
    }
  }
  if (fn == nullptr) return;
  if (nCode != 0) {
    fn(m_nChannel, nCode, 0, 0, m_pUserData);
  } else {
    fn(m_nChannel, 0, progress, static_cast<int32_t>(nTotal), m_pUserData);
  }
}

void Channel::OpenDownloadConversion(const uint8_t* header) {
  // A header for a download that was stopped or has ended opens nothing.
  if (m_strDownloadPath.empty()) return;
  m_bDownloadToMp4 = true;
  if (m_hPackage != nullptr) {
    // A second header in one download: the first package is finished and
    // the conversion starts afresh at the same name.
    platform::Mp4Pkg().ClosePackage(m_hPackage);
    m_hPackage = nullptr;
  } else if (!m_downloadFile.good()) {
    return;
  }
  if (m_downloadFile.is_open()) m_downloadFile.close();
  os::RemoveFile(m_strDownloadPath.c_str());
  m_nPackagedFrames = 0;
  QP_VideoDesc video{};
  video.width = LoadLe16(header + info::kWidth);
  video.height = LoadLe16(header + info::kHeight);
  const uint16_t den = LoadLe16(header + info::kRateDen);
  video.frameRate = static_cast<float>(static_cast<double>(LoadLe16(header + info::kRateNum)) /
                                       static_cast<double>(den == 0 ? 1 : den));
  const bool audio = LoadLe16(header + info::kAudioPresent) == 1;
  int32_t format = 0;
  switch (LoadLe16(header + info::kAudioCodec)) {
    case 2: format = QP_AUDIO_ULAW; break;
    case 3: format = QP_AUDIO_AAC; break;
    default: format = QP_AUDIO_ALAW; break;
  }
  switch (LoadLe16(header + info::kVideoCodec)) {
    case 1: format += QP_VIDEO_H264; break;
    case 2: format += QP_VIDEO_H265; break;
    default: break;
  }
  m_hPackage = platform::Mp4Pkg().OpenPackage(&video, 1, audio ? 1 : 0, m_strDownloadPath.c_str(),
                                              nullptr, format, 0);
  m_nTotalFrames = static_cast<int32_t>(LoadLe32(header + info::kTotalFrames));
}

int32_t Channel::PackageDownloadBlock(const uint8_t* pData, int32_t nLength) {
  constexpr int32_t kChunkHeader = 16;
  int32_t offset = 0;
  while (nLength - offset >= kChunkHeader) {
    const uint8_t* chunk = pData + offset;
    if (std::memcmp(chunk, "QVS", 3) != 0) break;
    const int32_t payload = static_cast<int32_t>(chunk[5] | (chunk[6] << 8) | (chunk[7] << 16));
    if (payload == 0 || payload > nLength - offset - kChunkHeader) break;
    const bool audio = chunk[4] == 4;
    if (m_hPackage != nullptr) {
      QP_Frame frame{};
      frame.kind = audio ? QP_FRAME_AUDIO : QP_FRAME_VIDEO;
      frame.data = chunk + kChunkHeader;
      frame.length = payload;
      frame.timestamp = static_cast<int64_t>(LoadLe64(chunk + 8));
      platform::Mp4Pkg().PackageOneFrame(m_hPackage, &frame);
    }
    if (!audio) ++m_nPackagedFrames;
    offset += kChunkHeader + payload;
  }
  if (m_nTotalFrames < 1) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(m_nPackagedFrames) * 10000 / m_nTotalFrames);
}

}  // namespace qcsdk
