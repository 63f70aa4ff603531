// Local recording writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "qcsdk/base/nocopyable.h"

namespace qcsdk {

// The .sv4/.sv5/.sv6 container: a 32-byte block (the first 32 bytes of the
// stream header) twice, then the frames. The block's fields are the
// stream header's own.
namespace svx {
constexpr std::size_t kBlockSize = 32;
constexpr std::size_t kFramesAt = 2 * kBlockSize;  // where the frames begin
constexpr std::size_t kTag = 0;                    // "QVS" + version
constexpr std::size_t kWidth = 4;                  // 32-bit
constexpr std::size_t kHeight = 8;                 // 32-bit
constexpr std::size_t kFrameCount = 12;  // 32-bit video frames; set in the second copy at close
constexpr std::size_t kStandard = 16;    // 32-bit: 0 for 30 pictures a second, else 25
}  // namespace svx

// Abstract writer of one local recording; the kind (0..4) is fixed at
// creation.
class RecFile : public asl::NoCopyable {
 public:
  explicit RecFile(int32_t kind) : m_nKind(kind) {}
  virtual ~RecFile() = default;
  // Opens `szFilename` for the stream described by the 96-byte record pData.
  virtual bool Open(const char* szFilename, const uint8_t* pData) = 0;
  // Finishes and closes the file; harmless when nothing is open.
  virtual void Close() = 0;
  virtual bool WriteFrame(const uint8_t* pData, int32_t dataSize, bool key, bool audio) = 0;

  int32_t Kind() const { return m_nKind; }

 private:
  int32_t m_nKind;
};

// Writer of the device's own containers (.sv4, .sv5, .sv6): two copies of
// the stream header's first 32 bytes, then the frames as received from the
// first key frame on. The second copy carries the video frame count when the
// file is closed.
class SVXRecFile : public RecFile {
 public:
  explicit SVXRecFile(int32_t kind) : RecFile(kind) {}
  ~SVXRecFile() override;
  bool Open(const char* szFilename, const uint8_t* pData) override;
  void Close() override;
  bool WriteFrame(const uint8_t* pData, int32_t dataSize, bool key, bool audio) override;

 private:
  std::FILE* m_pFile = nullptr;
  bool m_bKeyFrameSeen = false;
  uint8_t m_header[svx::kBlockSize] = {};
};

// Writer of MP4 recordings through the packaging library, with a ".qdx"
// index beside the file.
class MP4RecFile : public RecFile {
 public:
  explicit MP4RecFile(int32_t kind) : RecFile(kind) {}
  ~MP4RecFile() override;
  bool Open(const char* szFilename, const uint8_t* pData) override;
  void Close() override;
  bool WriteFrame(const uint8_t* pData, int32_t dataSize, bool key, bool audio) override;

 private:
  void* m_hPackage = nullptr;
  bool m_bKeyFrameSeen = false;
};

// The channel's owning holder of at most one writer.
class RecFilePtr {
 public:
  RecFilePtr() = default;
  ~RecFilePtr() { Reset(); }
  RecFilePtr(const RecFilePtr&) = delete;
  RecFilePtr& operator=(const RecFilePtr&) = delete;

  // Creates the writer for a recording kind; false for an unknown kind or
  // when a writer exists already.
  bool Create(int32_t kind);
  RecFile* operator->() const;
  explicit operator bool() const { return m_pRecFile != nullptr; }
  // Closes and destroys the writer.
  void Reset();

 private:
  std::unique_ptr<RecFile> m_pRecFile;
};

}  // namespace qcsdk
