// The buffered frame reader of the OCT link: the ends of a stream told apart.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

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
  {
    SocketPair s;
    net::FrameReader reader;
    wire::Frame f;
    EXPECT_EQ(reader.Read(s.reader.get(), 20, f), ReadResult::kIdle);
    auto bad = good;
    bad[0] ^= 0xFF;  // wrong magic after a good message in the same read
    std::vector<uint8_t> both = good;
    both.insert(both.end(), bad.begin(), bad.end());
    s.Write(both);
    EXPECT_EQ(reader.Read(s.reader.get(), 1000, f), ReadResult::kFrame);
    EXPECT_EQ(reader.Read(s.reader.get(), 1000, f), ReadResult::kMalformed);
  }
  {
    // A length above the maximum is refused before anything is allocated.
    SocketPair s;
    net::FrameReader reader;
    wire::Frame f;
    wire::Header h;
    h.type = wire::Type::kNotice;
    h.length = wire::kMaxPayload + 1;
    std::vector<uint8_t> head(wire::kHeaderSize);
    wire::EncodeHeader(h, head.data());
    s.Write(head);
    EXPECT_EQ(reader.Read(s.reader.get(), 1000, f), ReadResult::kMalformed);
  }
  for (size_t keep : {size_t{5}, good.size() + 3}) {
    // The stream ends inside a header or inside a body: an error, not a close.
    SocketPair s;
    net::FrameReader reader;
    wire::Frame f;
    auto m = wire::BuildMessage(wire::Type::kNotice, 0, 0, std::vector<uint8_t>(10, 1));
    std::vector<uint8_t> cut = good;
    cut.insert(cut.end(), m.begin(), m.end());
    cut.resize(keep);
    s.Write(cut);
    ::shutdown(s.writer.get(), SHUT_WR);
    ReadResult r = reader.Read(s.reader.get(), 1000, f);
    if (keep > good.size()) {
      EXPECT_EQ(r, ReadResult::kFrame);
      r = reader.Read(s.reader.get(), 1000, f);
    }
    EXPECT_EQ(r, ReadResult::kError) << "cut at " << keep;
  }
}

}  // namespace
}  // namespace octc::test
