// Whole messages read from a blocking socket through a buffer, so that a run
// of small messages costs one receive call rather than several each. The
// protocol tells how long the message at the front is (see MessageBuffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "netio/fd.h"
#include "netio/message_buffer.h"

namespace netio {

class MessageReader {
 public:
  enum class Result { kMessage, kIdle, kClosed, kError, kMalformed };

  explicit MessageReader(Measure measure) : buffer_(std::move(measure)) {}
  // Waits up to wait_ms for a message to begin (kIdle when none does), then
  // reads it whole, each part within the socket's receive time-out. The head
  // stays valid until the next Read; the body is received into `body`. kClosed
  // is the peer's orderly end between messages. Use one reader per socket for
  // every read after the first through it.
  Result Read(Socket fd, int wait_ms, const uint8_t** head, std::vector<uint8_t>* body);

 private:
  MessageBuffer buffer_;
};

}  // namespace netio
