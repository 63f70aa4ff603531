// The Nxl wire format: framing under any split of the stream, header and
// payload checks at their limits and the login digest. (Random input is the
// fuzz target's business; discovery datagrams are read by the library's
// search and OKIP services in nxl_discovery_test.)
#include <gtest/gtest.h>

#include <algorithm>

#include "auth.h"
#include "byte_io.h"
#include "frame.h"
#include "messages.h"

namespace qvc::wire {
namespace {

std::vector<uint8_t> StreamOf(const std::vector<std::vector<uint8_t>>& payloads) {
  std::vector<uint8_t> stream;
  for (const auto& p : payloads) {
    auto frame = EncodeFrame(MsgType::kFileList, p.data(), p.size());
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

// Reads `stream` the way a link does, straight into the parser's space: the
// first read takes `first` bytes, the others up to `chunk`; every frame
// whole after a read is taken out at once.
std::vector<std::vector<uint8_t>> ReadThrough(const std::vector<uint8_t>& stream, size_t first,
                                              size_t chunk) {
  FrameParser parser;
  std::vector<std::vector<uint8_t>> got;
  for (size_t at = 0, n = first; at < stream.size(); at += n, n = chunk) {
    auto [room, size] = parser.Space(16);
    n = std::min({n, size, stream.size() - at});
    std::copy_n(stream.data() + at, n, room);
    parser.Commit(n);
    FrameView f;
    FrameParser::Status s;
    while ((s = parser.Next(&f)) == FrameParser::Status::kFrame) {
      got.emplace_back(f.payload, f.payload + f.size);
    }
    EXPECT_EQ(FrameParser::Status::kNeedMore, s) << "at " << at;
  }
  return got;
}

TEST(NxlWire, FramesSurviveAnySplitOfTheStream) {
  const std::vector<std::vector<uint8_t>> small = {{}, {'x'}, {'h', 'e', 'l', 'l', 'o'}, {}};
  std::vector<uint8_t> stream = StreamOf(small);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    EXPECT_EQ(small, ReadThrough(stream, cut, stream.size())) << "cut at " << cut;
  }
  const std::vector<std::vector<uint8_t>> large = {{'a'}, std::vector<uint8_t>(70000, 0xAB), {}};
  stream = StreamOf(large);
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{4096}, stream.size()}) {
    EXPECT_EQ(large, ReadThrough(stream, chunk, chunk)) << "chunk " << chunk;
  }
  // Once a header has announced a frame, one read can take the rest of it.
  FrameParser parser;
  parser.Feed(stream.data(), 9 + 8 + 10);
  Frame f;
  ASSERT_EQ(FrameParser::Status::kFrame, parser.Next(&f));
  ASSERT_EQ(FrameParser::Status::kNeedMore, parser.Next(&f));
  EXPECT_GE(parser.Space(16).second, 70000u - 10u);
}

TEST(NxlWire, ParserRefusesBadHeadersAtOnceAndForGood) {
  uint8_t largest[8] = {'N', 'X', 1, 32};
  PutU32(largest + 4, kMaxPayload);
  uint8_t tooLong[8] = {'N', 'X', 1, 32};
  PutU32(tooLong + 4, kMaxPayload + 1);
  const struct {
    std::vector<uint8_t> bytes;
    std::string why;  // empty: a header the parser waits behind
  } rows[] = {{{'X'}, "bad magic"},
              {{'N', 'Y'}, "bad magic"},
              {{'N', 'X', 2}, "unsupported protocol version"},
              {{'N', 'X', 1, 200}, "unknown message type"},
              {{largest, largest + 8}, ""},
              {{tooLong, tooLong + 8}, "message too long"},
              {{'N', 'X', 1, 32, 0xff, 0xff, 0xff, 0xff}, "message too long"}};
  for (const auto& row : rows) {
    FrameParser parser;
    parser.Feed(row.bytes.data(), row.bytes.size());
    Frame f;
    EXPECT_EQ(row.why.empty() ? FrameParser::Status::kNeedMore : FrameParser::Status::kError,
              parser.Next(&f))
        << row.why;
    if (row.why.empty()) continue;
    EXPECT_EQ(row.why, parser.error());
    // A failed parser stays failed, whatever follows.
    auto good = EncodeFrame(MsgType::kPing, nullptr, 0);
    parser.Feed(good.data(), good.size());
    EXPECT_EQ(FrameParser::Status::kError, parser.Next(&f));
  }
}

TEST(NxlWire, PayloadDecodersCheckSizesAndFields) {
  Login login;
  login.user = "admin";
  login.device_channel = 3;
  login.digest.fill(7);
  const auto bytes = Encode(login);
  Login back;
  ASSERT_TRUE(Decode(bytes, &back));
  EXPECT_EQ("admin", back.user);
  EXPECT_EQ(3, back.device_channel);
  EXPECT_EQ(login.digest, back.digest);
  // The user length byte must match what follows exactly.
  for (const int change : {1, -1}) {
    auto other = bytes;
    if (change > 0)
      other.push_back('x');
    else
      other.pop_back();
    EXPECT_FALSE(Decode(other, &back)) << change;
  }
  LoginRefused refused;
  EXPECT_FALSE(Decode(std::vector<uint8_t>{}, &refused));
  EXPECT_FALSE(Decode(std::vector<uint8_t>{9, 'a'}, &refused));
  EXPECT_FALSE(Decode(std::vector<uint8_t>(300, 1), &refused));
  ASSERT_TRUE(Decode(std::vector<uint8_t>{4, 'h', 'i'}, &refused));
  EXPECT_EQ(Refusal::kClientLimit, refused.reason);
  EXPECT_EQ("hi", refused.text);

  DirRegister reg{"abc", 12345, 0, 9000, 4};
  DirRegister regBack;
  ASSERT_TRUE(Decode(Encode(reg), &regBack));
  EXPECT_EQ("ABC", regBack.group);
  EXPECT_EQ(12345, regBack.number);
  EXPECT_EQ(9000, regBack.port);
  EXPECT_FALSE(Decode(Encode(DirRegister{"a1", 12345, 0, 9000, 4}), &regBack));
  EXPECT_FALSE(Decode(Encode(DirRegister{"abc", 12345, 0, 0, 4}), &regBack));
  DirAnswer answer;
  EXPECT_FALSE(Decode(std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &answer));
  EXPECT_FALSE(Decode(std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, &answer));
}

TEST(NxlWire, DigestDependsOnEveryInputAndNeverHoldsThePassword) {
  Nonce n1{}, n2{};
  ASSERT_TRUE(MakeNonce(&n1));
  ASSERT_TRUE(MakeNonce(&n2));
  EXPECT_NE(n1, n2);
  Digest d, other;
  ASSERT_TRUE(ComputeDigest(n1, "admin", "secret", &d));
  ASSERT_TRUE(ComputeDigest(n1, "admin", "secret", &other));
  EXPECT_TRUE(SameDigest(d, other));
  const struct {
    const Nonce& nonce;
    const char *user, *password;
  } changed[] = {{n2, "admin", "secret"}, {n1, "admin2", "secret"}, {n1, "admin", "secreT"}};
  for (const auto& c : changed) {
    ASSERT_TRUE(ComputeDigest(c.nonce, c.user, c.password, &other));
    EXPECT_FALSE(SameDigest(d, other)) << c.user << " " << c.password;
  }
  const std::string secret = "secret";
  EXPECT_EQ(std::search(d.begin(), d.end(), secret.begin(), secret.end()), d.end());
}

}  // namespace
}  // namespace qvc::wire
