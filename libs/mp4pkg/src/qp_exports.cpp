// The C entry points. Handles are numbers in a table of live packages (never
// reused), so a null, stale or made-up handle finds nothing and the call
// answers 0. A call copies the package's shared pointer out of the table and
// runs under the package's own lock, so different packages work in parallel
// and a close racing a frame on the same handle is still safe.
#include <qp/qp.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "package.h"

// The records' layout is part of the interface.
static_assert(sizeof(QP_VideoDesc) == 28);
static_assert(offsetof(QP_Frame, length) == 2 * sizeof(void*));
static_assert(sizeof(void*) != 4 ||
              (sizeof(QP_Frame) == 32 && offsetof(QP_Frame, timestamp) == 16));

namespace {

constexpr size_t kMaxPathLength = 4096;
constexpr int32_t kMaxFrameBytes = 64 * 1024 * 1024;
constexpr int kMaxDimension = 16384;

struct Entry {
  std::mutex mutex;
  std::unique_ptr<qp::Package> package;  // null once closed
};

class HandleTable {
 public:
  QP_Handle Add(std::unique_ptr<qp::Package> package) {
    auto entry = std::make_shared<Entry>();
    entry->package = std::move(package);
    std::lock_guard lock(m_mutex);
    m_next += kStep;
    m_entries.emplace(m_next, std::move(entry));
    return reinterpret_cast<QP_Handle>(m_next);
  }
  std::shared_ptr<Entry> Find(QP_Handle handle) {
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(reinterpret_cast<uintptr_t>(handle));
    return it == m_entries.end() ? nullptr : it->second;
  }
  std::shared_ptr<Entry> Remove(QP_Handle handle) {
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(reinterpret_cast<uintptr_t>(handle));
    if (it == m_entries.end()) return nullptr;
    auto entry = std::move(it->second);
    m_entries.erase(it);
    return entry;
  }

 private:
  // Handles look like aligned addresses but are never dereferenced.
  static constexpr uintptr_t kStep = 16;
  std::mutex m_mutex;
  uintptr_t m_next = 0x51500000;
  std::unordered_map<uintptr_t, std::shared_ptr<Entry>> m_entries;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

bool ValidPath(const char* path) {
  if (path == nullptr) return false;
  const size_t length = strnlen(path, kMaxPathLength);
  return length > 0 && length < kMaxPathLength;
}

template <class Fn>
int32_t WithPackage(QP_Handle handle, Fn&& fn) {
  try {
    auto entry = Handles().Find(handle);
    if (!entry) return 0;
    std::lock_guard lock(entry->mutex);
    return entry->package && fn(*entry->package) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace

extern "C" {

QP_Handle QP_OpenPackage(const QP_VideoDesc* video, int32_t one, int32_t hasAudio, const char* file,
                         const char* indexFile, int32_t format, int32_t zero) {
  try {
    if (video == nullptr || one != 1 || zero != 0 || (hasAudio != 0 && hasAudio != 1)) {
      return nullptr;
    }
    if (video->width <= 0 || video->height <= 0 || video->width > kMaxDimension ||
        video->height > kMaxDimension) {
      return nullptr;
    }
    if (!ValidPath(file) || (indexFile != nullptr && !ValidPath(indexFile))) return nullptr;
    if (indexFile != nullptr && std::strcmp(file, indexFile) == 0) return nullptr;
    const int32_t audio_part = format & 0xff;
    const int32_t video_part = format & ~0xff;
    if (audio_part > QP_AUDIO_AAC ||
        (video_part != 0 && video_part != QP_VIDEO_H264 && video_part != QP_VIDEO_H265)) {
      return nullptr;
    }
    qp::PackageSettings settings;
    settings.width = video->width;
    settings.height = video->height;
    settings.frame_rate = video->frameRate;
    settings.has_audio = hasAudio == 1;
    settings.audio_codec = audio_part == QP_AUDIO_ALAW   ? qp::AudioCodec::kAlaw
                           : audio_part == QP_AUDIO_ULAW ? qp::AudioCodec::kUlaw
                                                         : qp::AudioCodec::kAac;
    settings.video_codec = video_part == QP_VIDEO_H264   ? qp::VideoCodec::kH264
                           : video_part == QP_VIDEO_H265 ? qp::VideoCodec::kH265
                                                         : qp::VideoCodec::kUnknown;
    settings.file = file;
    if (indexFile != nullptr) settings.index_file = indexFile;
    auto package = qp::Package::Open(settings);
    if (!package) return nullptr;
    return Handles().Add(std::move(package));
  } catch (...) {
    return nullptr;
  }
}

int32_t QP_PackageOneFrame(QP_Handle package, const QP_Frame* frame) {
  if (frame == nullptr || frame->data == nullptr || frame->length <= 0 ||
      frame->length > kMaxFrameBytes ||
      (frame->kind != QP_FRAME_VIDEO && frame->kind != QP_FRAME_AUDIO)) {
    return 0;
  }
  const std::span<const uint8_t> data(frame->data, static_cast<size_t>(frame->length));
  const int64_t timestamp = frame->timestamp;
  const bool video = frame->kind == QP_FRAME_VIDEO;
  return WithPackage(package, [&](qp::Package& p) {
    return video ? p.AddVideo(data, timestamp) : p.AddAudio(data, timestamp);
  });
}

int32_t QP_SetAudioFormat(QP_Handle package, int32_t sampleRate, int32_t channels) {
  return WithPackage(package,
                     [&](qp::Package& p) { return p.SetAudioFormat(sampleRate, channels); });
}

int32_t QP_ClosePackage(QP_Handle package) {
  try {
    auto entry = Handles().Remove(package);
    if (!entry) return 0;
    std::lock_guard lock(entry->mutex);
    entry->package.reset();  // the destructor finishes the files
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
