// The buffered frame reader of the OCT link: whole messages out of a byte
// stream cut anywhere, and the ends of a stream told apart.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>
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

std::vector<uint8_t> Payload(size_t size, uint8_t seed) {
  std::vector<uint8_t> p(size);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 7);
  return p;
}

TEST(OctFrameReader, WholeMessagesComeOutOfAStreamCutAnywhere) {
  // Sizes around the reader's 64 KiB buffer and the header, empty ones too.
  const std::vector<size_t> sizes = {0,     1,     15, 16,     17, 1000,   65535 - 16,
                                     65536, 65537, 0,  200000, 3,  131072, 7};
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const auto m = wire::BuildMessage(wire::Type::kNotice, static_cast<int32_t>(i + 1),
                                      static_cast<uint32_t>(i), Payload(sizes[i], uint8_t(i)));
    stream.insert(stream.end(), m.begin(), m.end());
  }
  SocketPair s;
  ASSERT_TRUE(s.reader.valid());
  std::thread writer([&] {
    std::mt19937 random(12345);
    for (size_t at = 0; at < stream.size();) {
      const size_t n = std::min<size_t>(stream.size() - at, 1 + random() % 40000);
      s.Write(std::vector<uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                   stream.begin() + static_cast<std::ptrdiff_t>(at + n)));
      at += n;
    }
    ::shutdown(s.writer.get(), SHUT_WR);
  });
  net::FrameReader reader;
  wire::Frame f;
  for (size_t i = 0; i < sizes.size(); ++i) {
    ReadResult r;
    do {
      r = reader.Read(s.reader.get(), 5000, f);
    } while (r == ReadResult::kIdle);
    ASSERT_EQ(r, ReadResult::kFrame) << "message " << i;
    EXPECT_EQ(f.header.handle, static_cast<int32_t>(i + 1));
    EXPECT_EQ(f.header.seq, i);
    EXPECT_EQ(f.payload, Payload(sizes[i], uint8_t(i))) << "message " << i;
  }
  // The writer's orderly end at a message boundary is a close.
  EXPECT_EQ(reader.Read(s.reader.get(), 5000, f), ReadResult::kClosed);
  writer.join();
}

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
    auto m = wire::BuildMessage(wire::Type::kNotice, 0, 0, Payload(10, 1));
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
