// The ownership of an OutputFile; opening, writing and closing are each
// platform's (output_file_posix.cpp, output_file_win32.cpp).
#include "output_file.h"

#include <utility>

namespace qp {

OutputFile::~OutputFile() {
  Close();
}

OutputFile::OutputFile(OutputFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

}  // namespace qp
