#include "output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qp {

bool OutputFile::Open(const std::string& path) {
  Close();
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return m_fd >= 0;
}

void OutputFile::Close() {
  if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
}

bool OutputFile::Write(std::span<const uint8_t> bytes) {
  if (m_fd < 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

bool OutputFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  if (m_fd < 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

int64_t OutputFile::Seek(int64_t offset, int whence) {
  if (m_fd < 0) return -1;
  return ::lseek(m_fd, static_cast<off_t>(offset), whence);
}

bool OutputFile::Truncate() {
  return m_fd >= 0 && ::ftruncate(m_fd, 0) == 0 && ::lseek(m_fd, 0, SEEK_SET) == 0;
}

}  // namespace qp
