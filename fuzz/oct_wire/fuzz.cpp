// The OCT link's receive path below the library's dispatcher: a byte stream
// through the buffered frame reader of a socket, and every whole frame's
// payload through the decoders of its type (the record-list answer as a
// count and items, as the library reads it).
#include <sys/socket.h>

#include "frame_io.h"
#include "messages.h"
#include "wire.h"

using namespace octc;

namespace {

// One structure read by its decoder.
template <class T>
void Read(wire::Reader& r, bool (*read)(wire::Reader&, T&)) {
  T data{};
  (void)read(r, data);
}

void DecodePayload(const wire::Frame& f) {
  wire::Reader r(f.payload);
  switch (f.header.type) {
    case wire::Type::kDevInfoResp:
    case wire::Type::kLoginResult: Read(r, wire::ReadDevInfo); break;
    case wire::Type::kMediaInfo: Read(r, wire::ReadMediaInfo); break;
    case wire::Type::kRecListReq: Read(r, wire::ReadRecQuery); break;
    case wire::Type::kSearchAnswer: Read(r, wire::ReadSearchAnswer); break;
    case wire::Type::kRecListResp: {
      r.I32();  // the result
      const uint32_t count = r.U32();
      if (count > r.remaining() / wire::kMinRecItemSize) break;
      for (uint32_t i = 0; i < count; ++i) {
        wire::RecItemData item;
        if (!wire::ReadRecItem(r, item)) break;
      }
      break;
    }
    default: {
      r.I32();
      (void)r.Blob();
      (void)r.Text();
      (void)r.Rest();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  netio::Fd reader(fds[0]);
  netio::Fd writer(fds[1]);
  int buffer = 1 << 20;
  ::setsockopt(writer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  if (!netio::SendAll(writer.get(), data, size)) return 0;
  ::shutdown(writer.get(), SHUT_WR);
  net::FrameReader frames;
  wire::Frame f;
  while (frames.Read(reader.get(), 0, f) == net::ReadResult::kFrame) DecodePayload(f);
  return 0;
}
