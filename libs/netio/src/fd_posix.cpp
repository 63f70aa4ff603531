// Owned descriptors and the wake event on POSIX (an eventfd).
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "netio/fd.h"

namespace netio {

void Fd::Reset(Socket fd) {
  if (fd_ != kNoSocket) ::close(static_cast<int>(fd_));
  fd_ = fd;
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeEvent::Signal() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

void WakeEvent::Clear() {
  uint64_t value = 0;
  [[maybe_unused]] ssize_t n = ::read(fd_.get(), &value, sizeof value);
}

}  // namespace netio
