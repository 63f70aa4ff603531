// Descriptors the code owns: a socket closed when its owner goes, and an
// eventfd that wakes a poll or epoll loop from another thread.
#pragma once

namespace netio {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held, then holds `fd`.
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

class WakeEvent {
 public:
  WakeEvent();
  bool valid() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  void Signal();
  void Clear();

 private:
  Fd fd_;
};

}  // namespace netio
