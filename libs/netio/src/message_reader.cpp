#include "netio/message_reader.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "netio/socket.h"

namespace netio {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

MessageReader::Result MessageReader::Read(int fd, int wait_ms, const uint8_t** head,
                                          std::vector<uint8_t>* body) {
  if (buffer_.size() == 0) {
    switch (WaitFor(fd, POLLIN, Clock::now() + std::chrono::milliseconds(wait_ms))) {
      case WaitResult::kReady: break;
      case WaitResult::kTimeout:
      case WaitResult::kWoken: return Result::kIdle;
      case WaitResult::kError: return Result::kError;
    }
  }
  Extent front = buffer_.Front();
  while (!front.error && (front.head == 0 || buffer_.size() < front.head)) {
    auto [room, size] = buffer_.Space(kReadChunk);
    ssize_t n = ::recv(fd, room, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return buffer_.size() == 0 ? Result::kClosed : Result::kError;
    if (n < 0) return Result::kError;
    buffer_.Commit(static_cast<size_t>(n));
    front = buffer_.Front();
  }
  if (front.error) return Result::kMalformed;
  *head = buffer_.data();
  body->resize(front.body);
  const size_t have = std::min(front.body, buffer_.size() - front.head);
  if (have > 0) std::memcpy(body->data(), buffer_.data() + front.head, have);
  buffer_.Consume(front.head + have);
  if (have < front.body &&
      ReceiveAll(fd, body->data() + have, front.body - have) != Received::kData) {
    return Result::kError;
  }
  return Result::kMessage;
}

}  // namespace netio
