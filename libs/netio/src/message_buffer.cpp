#include "netio/message_buffer.h"

#include <algorithm>
#include <cstring>

namespace netio {
namespace {

// A buffer left larger than this by a big message is given back once empty.
constexpr size_t kKeptCapacity = 256 * 1024;

}  // namespace

void MessageBuffer::Feed(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  std::memcpy(Space(size).first, data, size);
  Commit(size);
}

std::pair<uint8_t*, size_t> MessageBuffer::Space(size_t min) {
  size_t avail = end_ - start_;
  size_t want = min;
  if (avail > 0) {
    Extent front = Front();
    size_t whole = front.head + front.body;
    if (!front.error && front.head != 0 && whole > avail) want = std::max(want, whole - avail);
  }
  if (avail == 0) {
    start_ = end_ = 0;
    if (capacity_ > kKeptCapacity && want <= kKeptCapacity) {
      buffer_.reset();
      capacity_ = 0;
    }
  }
  if (capacity_ - end_ < want) {
    // Move the partial message to the front; grow when that is not enough.
    if (start_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + start_, avail);
      start_ = 0;
      end_ = avail;
    }
    if (capacity_ - end_ < want) {
      size_t capacity = std::max(end_ + want, capacity_ * 2);
      auto bigger = std::make_unique_for_overwrite<uint8_t[]>(capacity);
      if (avail > 0) std::memcpy(bigger.get(), buffer_.get(), avail);
      buffer_ = std::move(bigger);
      capacity_ = capacity;
    }
  }
  return {buffer_.get() + end_, capacity_ - end_};
}

void MessageBuffer::Commit(size_t size) {
  end_ = std::min(capacity_, end_ + size);
}

MessageBuffer::Status MessageBuffer::Fail(const char* why) {
  failed_ = true;
  error_ = why;
  start_ = end_ = 0;
  return Status::kError;
}

MessageBuffer::Status MessageBuffer::Next(MessageView* out) {
  if (failed_) return Status::kError;
  Extent front = Front();
  if (front.error) return Fail(front.error);
  if (front.head == 0 || size() < front.head || size() - front.head < front.body) {
    return Status::kNeedMore;
  }
  out->head = data();
  out->body = data() + front.head;
  out->body_size = front.body;
  start_ += front.head + front.body;
  return Status::kMessage;
}

}  // namespace netio
