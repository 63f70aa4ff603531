// Dispatch of what the Nxl transport delivers: each callback finds its
// channel at registry slot link id - 1, holds a reference while it works,
// and hands the message to the channel.
#include "qcsdk/nxl/nxl_callbacks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/nxl_api.h"
#include "platform/oct_api.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/base/callback_edge.h"
#include "qcsdk/base/callbacks.h"
#include "qcsdk/channel/registry.h"
#include "qcsdk/nxl/nxl_channel.h"

namespace qcsdk {

namespace {

std::shared_ptr<NxlChannel> FindNxl(int32_t linkId) {
  return std::dynamic_pointer_cast<NxlChannel>(FindChannel(linkId - 1));
}

bool StartsWith10(const char* text, const char* expected) {
  return text != nullptr && std::strncmp(text, expected, 10) == 0;
}

// Columns of the tag table, by the version byte of "QVS" + version.
struct TagRow {
  uint8_t version;
  uint16_t deviceType, videoCodec, audioPresent, audioCodec, audio54, audio56, audio58, kind;
};
constexpr TagRow kTagTable[] = {
    {0x04, 1, 0, 1, 0, 8000, 1, 8, 0},  {0x05, 2, 1, 1, 0, 8000, 1, 8, 1},
    {0x06, 1, 1, 1, 0, 8000, 1, 8, 2},  {0x07, 1, 1, 1, 0, 8000, 1, 8, 2},
    {0x09, 1, 0, 1, 0, 8000, 1, 16, 0}, {0x0A, 1, 1, 1, 1, 8000, 1, 16, 3},
    {0x10, 3, 1, 1, 0, 8000, 1, 8, 1},  {0x11, 3, 1, 1, 0, 8000, 1, 8, 1},
};

uint32_t Dword(const uint8_t* data, int32_t length, int32_t offset) {
  return offset + 4 <= length ? LoadLe32(data + offset) : 0;
}

}  // namespace

StreamInfoRecord NxlChannel::DecodeHeader(const uint8_t* data, int32_t length, bool playback) {
  StreamInfoRecord r{};
  if (data == nullptr || length < 0) return r;
  if (length >= 98 && std::memcmp(data + 34, "QFH", 3) == 0) {
    std::memcpy(r.data(), data + 2, kStreamInfoSize);
    return r;
  }
  uint8_t* p = r.data();
  // The 32 header bytes, from offset 2 (live) or 0 (playback); bytes the
  // device did not send stay zero.
  const int32_t from = playback ? 0 : 2;
  if (playback && length >= 5 && std::memcmp(data + 2, "QVS", 3) == 0) {
    // A playback header with its own tag at byte 2: only its three leading
    // words are taken; its tag matches no row of the table.
    StoreLe32(p + 4, Dword(data, length, 0));
    StoreLe32(p + 8, Dword(data, length, 4));
    StoreLe32(p + 12, Dword(data, length, 8));
  } else if (length > from) {
    std::memcpy(p, data + from, static_cast<std::size_t>(std::min(32, length - from)));
  }
  StoreLe16(p + 44, static_cast<uint16_t>(LoadLe32(p + 4)));
  StoreLe16(p + 46, static_cast<uint16_t>(LoadLe32(p + 8)));
  if (LoadLe32(p + 16) == 0) {
    StoreLe16(p + 42, 1);
    StoreLe16(p + 48, 30);
  } else {
    StoreLe16(p + 42, 0);
    StoreLe16(p + 48, 25);
  }
  StoreLe16(p + 50, 1);
  StoreLe32(p + 60, LoadLe32(p + 12));
  bool extended = false;
  if (std::memcmp(p, "QVS ", 4) == 0) {
    std::memcpy(p, p + 24, 4);
    extended = true;
  }
  if (std::memcmp(p, "QVS", 3) == 0) {
    const uint8_t version = p[3];
    for (const TagRow& row : kTagTable) {
      if (row.version != version) continue;
      StoreLe16(p + 36, row.deviceType);
      StoreLe16(p + 38, row.videoCodec);
      uint16_t audioPresent = row.audioPresent;
      if (version == 0x0A) audioPresent = length > 35 && data[35] != 0 ? 0 : 1;
      StoreLe16(p + 40, audioPresent);
      StoreLe16(p + 52, row.audioCodec);
      StoreLe16(p + 54, row.audio54);
      StoreLe16(p + 56, row.audio56);
      StoreLe16(p + 58, row.audio58);
      StoreLe16(p + 64, row.kind);
      if (version == 0x0A) {
        StoreLe16(p + 48, static_cast<uint16_t>(Dword(data, length, 36) / 10));
        StoreLe16(p + 50, 1000);
      }
      break;
    }
  }
  if (extended) StoreLe16(p + 36, 4);
  return r;
}

void NxlChannel::CloseDialog() const {
  if (m_bTextBusy) ExitDialog(2);
}

void NxlChannel::HandleConnectResult(uint8_t result, const char* text) {
  switch (result) {
    case 1: OnLinkEvent(0, text); break;
    case 2:
      CloseDialog();
      OnLinkEvent(7, text);
      break;
    case 4: {
      int32_t code = 6;
      if (StartsWith10(text, "Passwords is wrong"))
        code = 2;
      else if (StartsWith10(text, "No Channel service!"))
        code = 3;
      else if (StartsWith10(text, "connect type invalid!"))
        code = 4;
      else if (StartsWith10(text, "client count limit"))
        code = 5;
      OnLinkEvent(code, text);
      break;
    }
    case 6:
      CloseDialog();
      OnLinkEvent(8, text);
      break;
    case 7:
      CloseDialog();
      OnLinkEvent(9, text);
      break;
    default: break;
  }
}

void NxlChannel::HandleStreamData(uint8_t frameType, const uint8_t* data, int32_t length,
                                  bool playback) {
  if (data == nullptr) length = 0;
  switch (frameType) {
    case 1:
    case 2:
    case 3:
    case 4: {
      static constexpr int32_t kTypes[] = {0, 0, 2, 1, 3};
      if (length >= 8 && InfoSnapshot()[info::kFileTag] == 'Q' &&
          std::memcmp(data, "QVS", 3) == 0) {
        data += 8;
        length -= 8;
      }
      OnFrame(kTypes[frameType], data, length);
      return;
    }
    case 8: {
      const uint8_t sub = length > 0 ? data[0] : 0;
      if (!playback && sub == 1) {
        OnRemoteRecordingState(length > 1 ? data[1] : 0);
        return;
      }
      if (!playback && sub == 'A' && length >= 2 && data[1] == 'L') {
        if (UserDataCallback fn = g_pfnUserData.load(std::memory_order_acquire)) {
          fn(m_nChannel, data + 2, length - 2);
        }
        return;
      }
      if (!playback && sub != 0) return;
      const StreamInfoRecord record = DecodeHeader(data, length, playback);
      {
        std::lock_guard<std::mutex> guard(m_headerMutex);
        (playback ? m_playInfo : m_liveInfo) = record;
      }
      if (playback) m_bPlayInfoActive = true;
      if (playback == m_bPlayInfoActive) OnStreamInfo(record.data());
      return;
    }
    case '2':
    case '9':
    case 'w': {
      // A playback end may come on either callback.
      const int32_t event = frameType == '2' ? 13 : frameType == '9' ? 14 : 15;
      m_bPlayInfoActive = false;
      RaiseEvent(m_nChannel, event, nullptr, 0, m_pUserData);
      StreamInfoRecord live;
      {
        std::lock_guard<std::mutex> guard(m_headerMutex);
        live = m_liveInfo;
      }
      OnStreamInfo(live.data());
      return;
    }
    default: return;
  }
}

void NxlChannel::HandleFileList(const uint8_t* data, int32_t length) {
  const uint16_t kind = InfoWord(info::kRecordKind);
  static constexpr const char* kExt[] = {"sv4", "sv5", "sv6", "mp4", "mp4"};
  const uint16_t device = InfoWord(info::kDeviceType);
  int32_t entrySize = 0;
  if (device == 1 || device == 5) entrySize = 7;
  if (device >= 2 && device <= 4) entrySize = 10;
  if (kind > 4 || entrySize == 0) {
    OnRemoteRecFileList(nullptr, -1);
    return;
  }
  int32_t dates[6];
  {
    std::lock_guard<std::mutex> guard(m_headerMutex);
    std::memcpy(dates, m_queryDate, sizeof dates);
  }
  // Entries beyond the most a list holds are not read: a hostile length
  // would otherwise cost gigabytes here.
  const int32_t count =
      data != nullptr && length > 0 ? std::min(length / entrySize, kRecListMax) : 0;
  std::vector<RecEntry> entries(static_cast<std::size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* e = data + i * entrySize;
    uint8_t* out = entries[static_cast<std::size_t>(i)].data();
    StoreLe32(out, static_cast<uint32_t>(i));
    StoreLe32(out + 4, kind + 1u);
    // Copied whole into the entry: zeroed, so that nothing but zeros
    // follows each terminator.
    char name[8] = {};
    std::snprintf(name, sizeof name, "%c%c%c%c%c%c", e[1], e[2], e[3], e[4], e[5], e[6]);
    char fileName[64] = {};  // at most 11 + 6 + 4 characters
    char path[128] = {};
    if (entrySize == 7) {
      std::snprintf(fileName, sizeof fileName, "%02d%s.%s", m_nDeviceChannel.load(), name,
                    kExt[kind]);
      std::snprintf(path, sizeof path, "%c:\\QdvrFile\\%04d%02d%02d\\%s", e[0], dates[0], dates[1],
                    dates[2], fileName);
    } else {
      std::snprintf(fileName, sizeof fileName, "%c%c%c%s.%s", e[7], e[8], e[9], name, kExt[kind]);
      std::snprintf(path, sizeof path, "./rec/%02d/%04d%02d%02d/%s", e[0] - 'C', dates[0], dates[1],
                    dates[2], fileName);
    }
    std::memcpy(out + 8, name, sizeof name);
    std::memcpy(out + 16, fileName, sizeof fileName);
    std::memcpy(out + 2064, path, sizeof path);
  }
  OnRemoteRecFileList(std::move(entries));
}

void NxlChannel::HandleText(uint8_t type, const uint8_t* data, int32_t length) {
  if (Status() != QCLS_Connected || !m_bTextBusy) return;
  if (data == nullptr) length = 0;
  if (type == nxlmsg::kText && length > 5 && std::memcmp(data, "grpc:", 5) == 0) {
    {
      std::lock_guard<std::mutex> guard(m_respMutex);
      m_pGrpcResp.assign(data + 5, data + length);
      m_eGrpcState = kGrpcAnswered;  // after the answer is stored
    }
    m_hGrpcEvent.Set();
    return;
  }
  if (type == nxlmsg::kTextAccepted || type == nxlmsg::kTextClose) {
    m_eGrpcState = type == nxlmsg::kTextAccepted ? kGrpcAccepted : kGrpcRefused;
    m_hGrpcEvent.Set();
  }
  if (InfoWord(info::kDeviceType) != 3) return;
  switch (type) {
    case nxlmsg::kText: {
      std::vector<uint8_t> copy;
      {
        std::lock_guard<os::RecursiveLock> guard(m_csText);
        m_textBuf.assign(kTextBufferSize, 0);
        // A message longer than the buffer is cut to it.
        std::memcpy(m_textBuf.data(), data,
                    static_cast<std::size_t>(std::min(length, kTextBufferSize)));
        copy = m_textBuf;
      }
      // The dialog gets its own copy on a worker thread; the previous worker
      // is let go (the dialog's end waits for every worker's call).
      auto worker = std::make_unique<os::Thread>();
      if (PassTextToDialog(*worker, std::move(copy))) {
        m_hDlgThread = std::move(worker);
      } else {
        m_nTextType = nxlmsg::kText;
        m_hTextEvent.Set();
      }
      return;
    }
    case nxlmsg::kTextAccepted:
      m_nTextType = nxlmsg::kTextAccepted;
      m_hTextEvent.Set();
      return;
    case nxlmsg::kTextClose: ExitDialog(2); return;
    default: return;
  }
}

namespace nxl {

constexpr const char* kSource = "nxl_callbacks";

void OnConnectResult(int32_t linkId, uint8_t result, const char* text) {
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->HandleConnectResult(result, text);
  });
}

void OnLiveData(int32_t linkId, uint8_t frameType, const uint8_t* data, int32_t length) {
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->HandleStreamData(frameType, data, length, false);
  });
}

void OnPlaybackData(int32_t linkId, uint8_t frameType, const uint8_t* data, int32_t length) {
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->HandleStreamData(frameType, data, length, true);
  });
}

void OnFileList(int32_t linkId, const uint8_t* data, int32_t length) {
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->HandleFileList(data, length);
  });
}

void OnTalkData(int32_t linkId, uint8_t kind, const uint8_t* data, int32_t length) {
  int32_t code = -1;
  if (kind == 'A') code = 1;
  if (kind == 'B') code = 0;
  if (kind == 'C') code = 2;
  if (code < 0) return;
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->OnTalkEvent(code, data, length);
  });
}

void OnTextData(int32_t linkId, uint8_t type, const uint8_t* data, int32_t length) {
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->HandleText(type, data, length);
  });
}

void OnDownloadData(int32_t linkId, uint8_t type, const uint8_t* data, int32_t length,
                    uint32_t total) {
  int32_t code = -1;
  switch (type) {
    case 33:
    case 37:
    case 41: code = 0; break;
    case 34: code = 1; break;
    case 36: code = 2; break;
    case 35: code = 3; break;
    case 118: code = 4; break;
    default: return;  // no defined code: not passed on
  }
  AtCallbackEdge(kSource, [&] {
    if (auto ch = FindNxl(linkId)) ch->OnDownloadData(code, data, length, total);
  });
}

}  // namespace nxl

int32_t GetOnlineStatus(const char* number, int32_t timeoutMs) {
  if (number == nullptr || number[0] == '\0') return -1;
  if (number[0] >= '0' && number[0] <= '9') {
    const char* numbers[1] = {number};
    OctOnlineStatus* status = nullptr;
    const int32_t r = platform::Oct().get_dev_online_status(1, numbers, &status);
    if (r < 0) return -1;
    platform::Oct().free_dev_online_status(status);
    return r;
  }
  if (timeoutMs <= 0) return -1;
  char group[5] = {};
  int n = 0;
  const char* p = number;
  for (; n < 4 && ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')); ++p) {
    group[n++] = static_cast<char>(*p >= 'a' ? *p - 'a' + 'A' : *p);
  }
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = std::min<int64_t>(value * 10 + (*p - '0'), INT32_MAX);
  if (n == 0 || value <= 0) return -2;
  const int32_t r =
      platform::Nxl().WANGetChannelCount(group, static_cast<int32_t>(value), timeoutMs);
  if (r > 0) return 1;
  if (r == -1) return 0;
  return -1;
}

}  // namespace qcsdk
