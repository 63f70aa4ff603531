// The channel's local files: recordings of the live stream, downloads of
// remote recordings, and snapshots.
#include <cctype>
#include <cstring>
#include <mutex>

#include "platform/mp4pkg_api.h"
#include "qcsdk/bytes.h"
#include "qcsdk/callbacks.h"
#include "qcsdk/channel.h"

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
  m_bDownloadToMp4 = false;
  if (szFilename == nullptr) return false;
  if (m_downloadFile.is_open()) m_downloadFile.close();
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

void Channel::CloseDownloadFile() {
  m_strDownloadPath.clear();
  if (m_downloadFile.is_open()) m_downloadFile.close();
  if (m_hPackage != nullptr) {
    platform::Mp4Pkg().ClosePackage(m_hPackage);
    m_hPackage = nullptr;
  }
  m_nTotalFrames = 0;
}

// Download data and its conversion to MP4 arrive with local recording; until
// then only the end of a download is reported.
void Channel::OnDownloadData(int32_t nCode, const uint8_t* /*pData*/, int32_t /*nLength*/,
                             uint32_t /*nTotal*/) {
  if (nCode >= 1 && nCode <= 4) {
    CloseDownloadFile();
    if (DownloadCallback fn = g_pfnDownload.load(std::memory_order_acquire)) {
      fn(m_nChannel, nCode, 0, 0, m_pUserData);
    }
  }
}

// Snapshots arrive with the stream path's snapshot conversion; until then
// there is no picture to save.
bool Channel::SaveBitmap(const char* /*szFilename*/) {
  return false;
}

bool Channel::SaveBitmapToBuffer(uint8_t** /*ppBuffer*/, int32_t* /*pWidth*/,
                                 int32_t* /*pHeight*/) {
  return false;
}

}  // namespace qcsdk
