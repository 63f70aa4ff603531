// A file opened for writing (created or truncated), owned by RAII. Writes go
// straight to the system, unbuffered (output_file_posix.cpp,
// output_file_win32.cpp), so nothing is lost in user-space buffers when the
// process is killed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qp {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates `path`; false (and closed) on failure.
  bool Open(const std::string& path);
  bool IsOpen() const { return m_fd >= 0; }
  void Close();

  // Writes everything at the current position (retrying short writes).
  bool Write(std::span<const uint8_t> bytes);
  // Writes at an absolute offset without moving the position.
  bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes);
  // Moves the position like lseek(2); -1 on failure.
  int64_t Seek(int64_t offset, int whence);
  // Empties the file and moves the position to 0.
  bool Truncate();

 private:
  int m_fd = -1;
};

}  // namespace qp
