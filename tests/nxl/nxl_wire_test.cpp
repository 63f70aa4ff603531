// The Nxl wire format: framing, payload decoders and discovery datagrams,
// fed with valid, split, truncated, oversized and random input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "auth.h"
#include "byte_io.h"
#include "discovery.h"
#include "frame.h"
#include "messages.h"

namespace qvc::wire {
namespace {

std::vector<uint8_t> Text(const std::string& s) {
  return {s.begin(), s.end()};
}

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
      EXPECT_EQ(MsgType::kFileList, f.type);
      got.emplace_back(f.payload, f.payload + f.size);
    }
    EXPECT_EQ(FrameParser::Status::kNeedMore, s) << "at " << at;
  }
  return got;
}

TEST(NxlWire, FramesSurviveAnySplitOfTheStream) {
  std::vector<std::vector<uint8_t>> small = {{}, Text("x"), Text("hello"), {}, Text("yz")};
  std::vector<uint8_t> stream = StreamOf(small);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    EXPECT_EQ(small, ReadThrough(stream, cut, stream.size())) << "cut at " << cut;
  }
  std::vector<std::vector<uint8_t>> large = {Text("a"), std::vector<uint8_t>(70000, 0xAB), {}};
  stream = StreamOf(large);
  for (size_t chunk : {size_t{1}, size_t{3}, size_t{8}, size_t{4096}, stream.size()}) {
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

TEST(NxlWire, ParserRefusesBadHeadersAtOnce) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* why;
  };
  std::vector<Case> cases = {
      {{'X'}, "bad magic"},
      {{'N', 'Y'}, "bad magic"},
      {{'N', 'X', 2}, "unsupported protocol version"},
      {{'N', 'X', 1, 200}, "unknown message type"},
      {{'N', 'X', 1, 32, 0x01, 0x00, 0x40, 0x00}, "message too long"},  // 4 MiB + 1
      {{'N', 'X', 1, 32, 0xff, 0xff, 0xff, 0xff}, "message too long"},
  };
  for (const auto& c : cases) {
    FrameParser parser;
    parser.Feed(c.bytes.data(), c.bytes.size());
    Frame f;
    EXPECT_EQ(FrameParser::Status::kError, parser.Next(&f)) << c.why;
    EXPECT_EQ(c.why, parser.error());
    // A failed parser stays failed, whatever follows.
    auto good = EncodeFrame(MsgType::kPing, nullptr, 0);
    parser.Feed(good.data(), good.size());
    EXPECT_EQ(FrameParser::Status::kError, parser.Next(&f));
  }
  // Exactly the largest payload is accepted by its header.
  FrameParser parser;
  uint8_t header[8] = {'N', 'X', 1, 32};
  PutU32(header + 4, kMaxPayload);
  parser.Feed(header, sizeof header);
  Frame f;
  EXPECT_EQ(FrameParser::Status::kNeedMore, parser.Next(&f));
}

TEST(NxlWire, RandomBytesNeverOverrunTheParser) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    FrameParser parser(1024);
    std::vector<uint8_t> bytes(rng() % 64);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    // Start most inputs with a valid header prefix so deeper paths run.
    if (round % 2 == 0 && bytes.size() >= 4) {
      bytes[0] = 'N';
      bytes[1] = 'X';
      bytes[2] = 1;
    }
    parser.Feed(bytes.data(), bytes.size());
    Frame f;
    while (parser.Next(&f) == FrameParser::Status::kFrame) {
      EXPECT_LE(f.payload.size(), 1024u);
      // Every decoder must accept or refuse without reading out of bounds.
      Hello h;
      Challenge c;
      Login l;
      LoginRefused r;
      DirRegister dr;
      DirLookup dl;
      DirAnswer da;
      (void)Decode(f.payload, &h);
      (void)Decode(f.payload, &c);
      (void)Decode(f.payload, &l);
      (void)Decode(f.payload, &r);
      (void)Decode(f.payload, &dr);
      (void)Decode(f.payload, &dl);
      (void)Decode(f.payload, &da);
    }
    uint32_t id = 0;
    SearchAnswer a;
    const uint8_t* m = nullptr;
    EXPECT_FALSE(DecodeSearchProbe(bytes.data(), bytes.size()).has_value() && bytes.size() != 12);
    (void)DecodeSearchAnswer(bytes.data(), bytes.size(), &id, &a);
    (void)DecodeOkip(bytes.data(), bytes.size(), DiscoveryKind::kAnswer, &id, &m);
  }
}

TEST(NxlWire, PayloadDecodersCheckSizesAndFields) {
  Login login;
  login.user = "admin";
  login.device_channel = 3;
  login.connect_type = 1;
  login.digest.fill(7);
  auto bytes = Encode(login);
  Login back;
  ASSERT_TRUE(Decode(bytes, &back));
  EXPECT_EQ("admin", back.user);
  EXPECT_EQ(3, back.device_channel);
  EXPECT_EQ(login.digest, back.digest);
  // The user length byte must match what follows exactly.
  auto longer = bytes;
  longer.push_back('x');
  EXPECT_FALSE(Decode(longer, &back));
  auto shorter = bytes;
  shorter.pop_back();
  EXPECT_FALSE(Decode(shorter, &back));
  auto huge = bytes;
  huge[kDigestSize + 8] = 200;
  EXPECT_FALSE(Decode(huge, &back));

  LoginRefused refused;
  EXPECT_FALSE(Decode(std::vector<uint8_t>{}, &refused));
  EXPECT_FALSE(Decode(std::vector<uint8_t>{9, 'a'}, &refused));
  EXPECT_FALSE(Decode(std::vector<uint8_t>(300, 1), &refused));
  ASSERT_TRUE(Decode(std::vector<uint8_t>{4, 'h', 'i'}, &refused));
  EXPECT_EQ(Refusal::kClientLimit, refused.reason);
  EXPECT_EQ("hi", refused.text);

  DirRegister reg{"abc", 12345, 0, 9000, 4};
  DirRegister reg_back;
  ASSERT_TRUE(Decode(Encode(reg), &reg_back));
  EXPECT_EQ("ABC", reg_back.group);
  EXPECT_EQ(12345, reg_back.number);
  EXPECT_EQ(9000, reg_back.port);
  reg.group = "a1";
  EXPECT_FALSE(Decode(Encode(reg), &reg_back));
  reg.group = "abc";
  reg.port = 0;
  EXPECT_FALSE(Decode(Encode(reg), &reg_back));

  DirAnswer answer;
  EXPECT_FALSE(Decode(std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &answer));
  EXPECT_FALSE(Decode(std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, &answer));
}

TEST(NxlWire, DigestDependsOnEveryInputAndNeverEqualsThePassword) {
  Nonce n1{}, n2{};
  ASSERT_TRUE(MakeNonce(&n1));
  ASSERT_TRUE(MakeNonce(&n2));
  EXPECT_NE(n1, n2);
  Digest d, other;
  ASSERT_TRUE(ComputeDigest(n1, "admin", "secret", &d));
  ASSERT_TRUE(ComputeDigest(n1, "admin", "secret", &other));
  EXPECT_TRUE(SameDigest(d, other));
  ASSERT_TRUE(ComputeDigest(n2, "admin", "secret", &other));
  EXPECT_FALSE(SameDigest(d, other));
  ASSERT_TRUE(ComputeDigest(n1, "admin2", "secret", &other));
  EXPECT_FALSE(SameDigest(d, other));
  ASSERT_TRUE(ComputeDigest(n1, "admin", "secreT", &other));
  EXPECT_FALSE(SameDigest(d, other));
  std::string secret = "secret";
  EXPECT_EQ(std::search(d.begin(), d.end(), secret.begin(), secret.end()), d.end());
}

TEST(NxlWire, DiscoveryDatagramsRoundTripAndRefuseForeignOnes) {
  SearchAnswer a;
  a.group = "QV";
  a.number = 77;
  a.card_type = 0xB1;
  a.channel_count = 16;
  a.port = 5000;
  a.name = std::string(400, 'n');  // cut to the field
  auto bytes = EncodeSearchAnswer(99, a);
  ASSERT_EQ(kSearchAnswerSize, bytes.size());
  uint32_t id = 0;
  SearchAnswer back;
  ASSERT_TRUE(DecodeSearchAnswer(bytes.data(), bytes.size(), &id, &back));
  EXPECT_EQ(99u, id);
  EXPECT_EQ(255u, back.name.size());
  EXPECT_EQ(16, back.channel_count);
  EXPECT_FALSE(DecodeSearchAnswer(bytes.data(), bytes.size() - 1, &id, &back));
  auto probe = EncodeSearchProbe(5);
  EXPECT_EQ(5u, DecodeSearchProbe(probe.data(), probe.size()).value_or(0));
  // A probe is not an answer, an answer not a probe, a search datagram not OKIP.
  EXPECT_FALSE(DecodeSearchProbe(bytes.data(), bytes.size()).has_value());
  probe[5] = 2;
  EXPECT_FALSE(DecodeSearchProbe(probe.data(), probe.size()).has_value());
  std::vector<uint8_t> message(kOkipMessageSize, 0x5A);
  auto okip = EncodeOkip(DiscoveryKind::kRequest, 42, message.data());
  const uint8_t* m = nullptr;
  EXPECT_FALSE(DecodeOkip(okip.data(), okip.size(), DiscoveryKind::kAnswer, &id, &m));
  ASSERT_TRUE(DecodeOkip(okip.data(), okip.size(), DiscoveryKind::kRequest, &id, &m));
  EXPECT_EQ(42u, id);
  EXPECT_EQ(0, std::memcmp(m, message.data(), kOkipMessageSize));
  okip[0] = 'M';
  EXPECT_FALSE(DecodeOkip(okip.data(), okip.size(), DiscoveryKind::kRequest, &id, &m));
}

}  // namespace
}  // namespace qvc::wire
