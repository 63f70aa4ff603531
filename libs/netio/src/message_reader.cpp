#include "netio/message_reader.h"

#include <algorithm>
#include <cstring>

#include "netio/socket.h"

namespace netio {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

MessageReader::Result MessageReader::Read(Socket fd, int wait_ms, const uint8_t** head,
                                          std::vector<uint8_t>* body) {
  if (buffer_.size() == 0) {
    switch (WaitFor(fd, Events::kReadable, Clock::now() + std::chrono::milliseconds(wait_ms))) {
      case WaitResult::kReady: break;
      case WaitResult::kTimeout:
      case WaitResult::kWoken: return Result::kIdle;
      case WaitResult::kError: return Result::kError;
    }
  }
  Extent front = buffer_.Front();
  while (!front.error && (front.head == 0 || buffer_.size() < front.head)) {
    auto [room, size] = buffer_.Space(kReadChunk);
    size_t n = 0;
    switch (ReceiveSome(fd, room, size, &n)) {
      case Received::kData: break;
      case Received::kEnded: return buffer_.size() == 0 ? Result::kClosed : Result::kError;
      default: return Result::kError;
    }
    buffer_.Commit(n);
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
