#include "output_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <utility>

// The C runtime's low-level files: unbuffered like write(2), binary so that
// no byte is translated, not inherited by child processes.
namespace qp {

bool OutputFile::Open(const std::string& path) {
  Close();
  m_fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
  return m_fd >= 0;
}

void OutputFile::Close() {
  if (m_fd >= 0) ::_close(std::exchange(m_fd, -1));
}

bool OutputFile::Write(std::span<const uint8_t> bytes) {
  if (m_fd < 0) return false;
  while (!bytes.empty()) {
    const unsigned chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<unsigned>(bytes.size());
    const int n = ::_write(m_fd, bytes.data(), chunk);
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

// No positional write in the C runtime: move there, write, move back.
bool OutputFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  if (m_fd < 0) return false;
  const int64_t position = ::_lseeki64(m_fd, 0, SEEK_CUR);
  if (position < 0 || ::_lseeki64(m_fd, static_cast<int64_t>(offset), SEEK_SET) < 0) return false;
  const bool written = Write(bytes);
  return ::_lseeki64(m_fd, position, SEEK_SET) == position && written;
}

int64_t OutputFile::Seek(int64_t offset, int whence) {
  if (m_fd < 0) return -1;
  return ::_lseeki64(m_fd, offset, whence);
}

bool OutputFile::Truncate() {
  return m_fd >= 0 && ::_chsize_s(m_fd, 0) == 0 && ::_lseeki64(m_fd, 0, SEEK_SET) == 0;
}

}  // namespace qp
