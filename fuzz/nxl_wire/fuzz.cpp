// Feeds arbitrary bytes to the link frame parser (in chunks whose sizes the
// input chooses), to every payload decoder and to the discovery decoders.
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "discovery.h"
#include "frame.h"
#include "messages.h"

using namespace qvc::wire;

// The payload through the decoder of each message, each into a fresh one.
template <class... Message>
void DecodeAs(const std::vector<uint8_t>& payload) {
  std::tuple<Message...> messages;
  ((void)Decode(payload, &std::get<Message>(messages)), ...);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t id = 0;
  SearchAnswer answer;
  const uint8_t* message = nullptr;
  (void)DecodeSearchProbe(data, size);
  (void)DecodeSearchAnswer(data, size, &id, &answer);
  (void)DecodeOkip(data, size, DiscoveryKind::kRequest, &id, &message);
  (void)DecodeOkip(data, size, DiscoveryKind::kAnswer, &id, &message);
  if (size == 0) return 0;
  // The first byte sets the chunk size, the small limit reaches the
  // too-long path without huge inputs.
  size_t chunk = 1 + data[0] % 16;
  FrameParser parser(4096);
  for (size_t at = 1; at < size; at += chunk) {
    parser.Feed(data + at, std::min(chunk, size - at));
    Frame frame;
    FrameParser::Status status;
    while ((status = parser.Next(&frame)) == FrameParser::Status::kFrame) {
      if (frame.payload.size() > 4096) __builtin_trap();
      DecodeAs<Hello, Challenge, Login, LoginRefused, DirRegister, DirLookup, DirAnswer>(
          frame.payload);
    }
    if (status == FrameParser::Status::kError) break;
  }
  return 0;
}
