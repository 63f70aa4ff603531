// Splits a byte stream into whole messages. The buffer knows no format: the
// protocol supplies a function that tells, from the bytes at the front, how
// long the message there is (a head, then a body) or that those bytes can
// never begin a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace netio {

struct Extent {
  size_t head = 0;              // 0: more bytes are needed to tell
  size_t body = 0;              // the bytes after the head
  const char* error = nullptr;  // set: the stream is unusable, and why
};

// Called with the bytes at the front of the stream (possibly none).
using Measure = std::function<Extent(const uint8_t* data, size_t size)>;

// A message still inside the buffer.
struct MessageView {
  const uint8_t* head = nullptr;
  const uint8_t* body = nullptr;
  size_t body_size = 0;
};

// Feed bytes as they arrive (or receive them straight into Space and Commit
// them), then take messages with Next until it answers kNeedMore. Once it
// answers kError the stream is unusable: the caller ends the connection.
class MessageBuffer {
 public:
  enum class Status { kNeedMore, kMessage, kError };

  explicit MessageBuffer(Measure measure) : measure_(std::move(measure)) {}
  void Feed(const uint8_t* data, size_t size);
  // Free room at the end of the buffer for at least `min` bytes, and for the
  // whole of a message whose head has arrived, so one read can complete it.
  // Commit tells how much was written there.
  std::pair<uint8_t*, size_t> Space(size_t min);
  void Commit(size_t size);
  // A view stays valid until the next Feed or Space.
  Status Next(MessageView* out);
  // Why the last kError was answered.
  const std::string& error() const { return error_; }

  // The bytes held and not yet handed out, and what the protocol says of
  // them; Consume drops bytes from the front.
  const uint8_t* data() const { return buffer_.get() + start_; }
  size_t size() const { return end_ - start_; }
  Extent Front() const { return measure_(data(), size()); }
  void Consume(size_t size) { start_ += std::min(size, end_ - start_); }

 private:
  Status Fail(const char* why);

  Measure measure_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  size_t start_ = 0;  // first byte not yet handed out
  size_t end_ = 0;    // one past the last byte received
  bool failed_ = false;
  std::string error_;
};

}  // namespace netio
