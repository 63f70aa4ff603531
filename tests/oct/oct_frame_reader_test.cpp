// The buffered frame reader of the OCT link: the ends of a stream told apart.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "frame_io.h"
#include "wire.h"

namespace octc::test {
namespace {

using net::ReadResult;

struct SocketPair {
  netio::Fd reader, writer;
  SocketPair() {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
      reader = netio::Fd(fds[0]);
      writer = netio::Fd(fds[1]);
    }
  }
  void Write(const std::vector<uint8_t>& bytes) const {
    ASSERT_TRUE(netio::SendAll(writer.get(), bytes.data(), bytes.size()));
  }
};

TEST(OctFrameReader, IdleMalformedAndCutOffStreamsAreToldApart) {
  const auto good = wire::BuildMessage(wire::Type::kPing, 0, 1, {});
  const auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b, size_t keep = -1) {
    a.insert(a.end(), b.begin(), b.end());
    a.resize(std::min(keep, a.size()));
    return a;
  };
  auto bad = good;
  bad[0] ^= 0xFF;
  // A length above the maximum is refused before anything is allocated.
  wire::Header h;
  h.type = wire::Type::kNotice;
  h.length = wire::kMaxPayload + 1;
  std::vector<uint8_t> oversize(wire::kHeaderSize);
  wire::EncodeHeader(h, oversize.data());
  const auto body = wire::BuildMessage(wire::Type::kNotice, 0, 0, std::vector<uint8_t>(10, 1));
  // What the peer writes, whether it then closes, and the reads that follow:
  // a stream ending inside a header or a body is an error, not a close.
  const struct {
    std::vector<uint8_t> bytes;
    bool close;
    std::vector<ReadResult> reads;
  } rows[] = {{{}, false, {ReadResult::kIdle}},
              {join(good, bad), false, {ReadResult::kFrame, ReadResult::kMalformed}},
              {oversize, false, {ReadResult::kMalformed}},
              {join(good, body, 5), true, {ReadResult::kError}},
              {join(good, body, good.size() + 3), true, {ReadResult::kFrame, ReadResult::kError}}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SocketPair s;
    net::FrameReader reader;
    wire::Frame f;
    if (!rows[i].bytes.empty()) s.Write(rows[i].bytes);
    if (rows[i].close) ::shutdown(s.writer.get(), SHUT_WR);
    for (ReadResult expected : rows[i].reads) {
      const int timeoutMs = expected == ReadResult::kIdle ? 20 : 1000;
      EXPECT_EQ(reader.Read(s.reader.get(), timeoutMs, f), expected) << "row " << i;
    }
  }
}

}  // namespace
}  // namespace octc::test
