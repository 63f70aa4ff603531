// Stream headers, frames, control messages and playback.
#include "nxl_fixture.h"

namespace qcsdk::test {
namespace {

using ::testing::ElementsAre;
using NxlStreamTest = NxlFixture;

TEST_F(NxlStreamTest, TagTableAndStandardWord) {
  const struct {
    uint8_t version;
    int32_t device, codec, kind, audio58;
  } rows[] = {{0x04, 1, 1, 1, 8},  {0x05, 2, 2, 2, 8}, {0x06, 1, 2, 3, 8}, {0x07, 1, 2, 3, 8},
              {0x09, 1, 1, 1, 16}, {0x11, 3, 2, 2, 8}, {0x33, 0, 1, 1, 0}};
  for (const auto& row : rows) {
    const int32_t n = ConnectLive(row.version);
    StreamInfo info{};
    ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1) << int(row.version);
    int32_t device = -1;
    QCSDK_GetDeviceInfo(n, &device);
    EXPECT_EQ(device, row.device) << int(row.version);
    EXPECT_EQ(info.videoCodec, row.codec) << int(row.version);
    EXPECT_EQ(info.recordingKind, row.kind) << int(row.version);
    EXPECT_EQ(info.audioParam3, row.audio58) << int(row.version);
    EXPECT_EQ(info.width, 704);
    EXPECT_EQ(info.height, 576);
    EXPECT_EQ(info.frameRateNum, 25);  // standard word 1
    EXPECT_EQ(info.frameRateDen, 1);
    EXPECT_EQ(info.totalFrames, 300);
    QCSDK_Disconnect(n);
    Fire([&] { cb().connect(n + 1, 2, ""); });
  }
  const int32_t n = ConnectLive(0x05);
  LiveHeader(n, 0x05, 0);  // standard word 0: 30 frames per second
  StreamInfo info{};
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.frameRateNum, 30);
  EXPECT_EQ(host.Codes().back(), QCSDK_EVENT_STREAM_CHANGED);
}

TEST_F(NxlStreamTest, VersionTenAndExtendedHeaders) {
  const int32_t n = QCSDK_Connect("127.0.0.1", 1, 1, "u", "p", 0, nullptr);
  Fire([&] { cb().connect(n + 1, 1, nullptr); });
  // Version 0x0A: frame rate from data bytes 36..39 / 10 over 1000; audio
  // present when data byte 35 is 0.
  std::vector<uint8_t> h(40, 0);
  std::memcpy(h.data() + 2, "QVS\x0A", 4);
  StoreLe32(h.data() + 36, 250000);
  Fire([&] { cb().live(n + 1, 8, h.data(), 40); });
  StreamInfo info{};
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.frameRateNum, 25000);
  EXPECT_EQ(info.frameRateDen, 1000);
  EXPECT_EQ(info.audioCodec, 4);
  EXPECT_EQ(info.recordingKind, 4);
  // "QVS " takes its real tag from dword 24 and makes the device type 4.
  std::vector<uint8_t> x(34, 0);
  std::memcpy(x.data() + 2, "QVS ", 4);
  std::memcpy(x.data() + 26, "QVS\x05", 4);
  Fire([&] { cb().live(n + 1, 8, x.data(), 34); });
  int32_t device = 0;
  ASSERT_EQ(QCSDK_GetDeviceInfo(n, &device), 1);
  EXPECT_EQ(device, 4);
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.recordingKind, 2);
  // Short and empty headers still give a record; nothing reads past them.
  const uint8_t tiny[1] = {0};
  Fire([&] {
    cb().live(n + 1, 8, tiny, 1);
    cb().live(n + 1, 8, nullptr, 0);
    cb().live(n + 1, 8, tiny, -4);
  });
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), 4);
}

TEST_F(NxlStreamTest, FramesControlAndUserData) {
  static std::vector<int32_t>* lengths = nullptr;
  std::vector<int32_t> seen;
  lengths = &seen;
  QCSDK_RegisterUserDataCallback(
      [](int32_t, const uint8_t*, int32_t length) { lengths->push_back(length); });
  const int32_t n = ConnectLive(0x05);
  // Frame types 1..4 map to key, B, P, audio; the rest are dropped.
  const uint8_t f[6] = {1, 2, 3, 4, 5, 6};
  Fire([&] {
    for (uint8_t type : {1, 2, 3, 4, 5, 0}) cb().live(n + 1, type, f, 6);
    cb().live(n + 1, 8, reinterpret_cast<const uint8_t*>("\x01\x01"), 2);  // recording state 1
    cb().live(n + 1, 8, reinterpret_cast<const uint8_t*>("ALdata"), 6);    // user data
    cb().live(n + 1, 8, reinterpret_cast<const uint8_t*>("Z"), 1);         // ignored
  });
  std::vector<int32_t> types;
  for (const auto& r : host.Raw()) types.push_back(r.type);
  EXPECT_THAT(types, ElementsAre(0, 2, 1, 3));
  EXPECT_EQ(host.Events().back().code, QCSDK_EVENT_RECORDING_STATE);
  EXPECT_EQ(host.Events().back().data, 1);
  EXPECT_THAT(seen, ElementsAre(4));
  QCSDK_RegisterUserDataCallback(nullptr);

  // With a whole device record, frames lose their 8-byte "QVS" prefix.
  WholeRecord(n, 2, 0);
  const uint8_t q[12] = {'Q', 'V', 'S', 0, 0, 0, 0, 0, 9, 9, 9, 9};
  Fire([&] { cb().live(n + 1, 1, q, 12); });
  EXPECT_EQ(host.Raw().back().length, 4);
}

TEST_F(NxlStreamTest, PlaybackHeadersAndEnds) {
  const int32_t n = ConnectLive(0x05);
  std::vector<uint8_t> play(32, 0);
  std::memcpy(play.data(), "QVS\x04", 4);
  StoreLe32(play.data() + 4, 352);
  StoreLe32(play.data() + 8, 288);
  StoreLe32(play.data() + 12, 750);
  Fire([&] { cb().playback(n + 1, 8, play.data(), 32); });
  StreamInfo info{};
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.width, 352);
  EXPECT_EQ(info.totalFrames, 750);
  // A live header during playback is kept but not applied.
  LiveHeader(n, 0x06);
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.width, 352);
  const int before = host.Count(QCSDK_EVENT_STREAM_CHANGED);
  Fire([&] { cb().playback(n + 1, '9', nullptr, 0); });
  const auto codes = host.Codes();
  EXPECT_THAT(std::vector<int32_t>(codes.end() - 2, codes.end()),
              ElementsAre(14, QCSDK_EVENT_STREAM_CHANGED));
  EXPECT_EQ(host.Count(QCSDK_EVENT_STREAM_CHANGED), before + 1);
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.width, 704);
  EXPECT_EQ(info.recordingKind, 3);  // the held live header (version 0x06)
  Fire([&] {
    cb().playback(n + 1, '2', nullptr, 0);
    cb().playback(n + 1, 8, play.data(), 32);
    cb().live(n + 1, 'w', nullptr, 0);  // the live callback ends a playback too
  });
  EXPECT_EQ(host.Count(13), 1);
  EXPECT_EQ(host.Count(15), 1);
  // The playback is over: the next live header is applied.
  LiveHeader(n, 0x04);
  ASSERT_EQ(QCSDK_GetStreamInfo(n, &info), 1);
  EXPECT_EQ(info.width, 704);
  EXPECT_EQ(info.recordingKind, 1);
}

}  // namespace
}  // namespace qcsdk::test
