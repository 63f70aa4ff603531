// Live streams of virtual devices: the header forms, frames that decode,
// audio, control messages and user data both ways.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "support/pattern_encoder.h"
#include "vdevice_fixture.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vdevice_test {
namespace {

struct Picture {
  int width = 0, height = 0;
};

// Decodes access units with libavcodec; the sizes of the pictures it gave.
std::vector<Picture> Decode(AVCodecID id, const std::vector<std::vector<uint8_t>>& units) {
  std::vector<Picture> out;
  const AVCodec* codec = avcodec_find_decoder(id);
  if (!codec) return out;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  AVPacket* p = av_packet_alloc();
  AVFrame* f = av_frame_alloc();
  if (c && p && f && avcodec_open2(c, codec, nullptr) == 0) {
    auto drain = [&] {
      while (avcodec_receive_frame(c, f) == 0) {
        out.push_back({f->width, f->height});
        av_frame_unref(f);
      }
    };
    for (const auto& u : units) {
      std::vector<uint8_t> padded(u);
      padded.resize(u.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
      p->data = padded.data();
      p->size = static_cast<int>(u.size());
      if (avcodec_send_packet(c, p) == 0) drain();
    }
    avcodec_send_packet(c, nullptr);
    drain();
  }
  av_frame_free(&f);
  av_packet_free(&p);
  avcodec_free_context(&c);
  return out;
}

// Video frames after the first key frame, without their 8-byte "QVS" prefix
// when the header was a whole record.
std::vector<std::vector<uint8_t>> VideoUnits(const std::vector<Event>& live, bool prefixed,
                                             size_t max) {
  std::vector<std::vector<uint8_t>> units;
  for (const auto& e : live) {
    if (e.code != 1 && e.code != 3) continue;
    if (units.empty() && e.code != 1) continue;
    std::vector<uint8_t> d = e.data;
    if (prefixed) {
      EXPECT_GE(d.size(), 8u);
      EXPECT_EQ(0, std::memcmp(d.data(), "QVS", 3));
      EXPECT_EQ(d[4], e.code);
      EXPECT_EQ(d.size() - 8, d[5] | (d[6] << 8) | (d[7] << 16));
      d.erase(d.begin(), d.begin() + 8);
    }
    units.push_back(std::move(d));
    if (units.size() == max) break;
  }
  return units;
}

TEST_F(VdeviceTest, LiveStreamsWholeHeaderThenFramesThatDecode) {
  for (const char* codec : {"h264", "h265"}) {
    SCOPED_TRACE(codec);
    const bool h265 = std::string(codec) == "h265";
    // (The test support's encoder also brings the sanitizer suppressions
    // for libx265's own threads and buffers.)
    if (!qcsdk::test::PatternEncoderAvailable(h265 ? qcsdk::test::PatternCodec::kH265
                                                   : qcsdk::test::PatternCodec::kH264)) {
      continue;
    }
    const int32_t link = h265 ? 2 : 1;
    AddDevice(std::string("type=2,kind=3,width=176,height=144,fps=25,codec=") + codec);
    ASSERT_EQ(1, Connect(link, host_.size() - 1));
    ASSERT_TRUE(WaitFor(Event::kLive, link, 3, 5));
    const std::vector<Event> live = Of(Event::kLive, link);
    // A stream header comes first: sub-type 0, then the whole record.
    ASSERT_EQ(live.front().code, 8);
    const std::vector<uint8_t>& h = live.front().data;
    ASSERT_EQ(h.size(), 98u);
    EXPECT_EQ(h[0], 0);
    const uint8_t* r = h.data() + 2;
    EXPECT_EQ(0, std::memcmp(r + 32, "QFH", 3));
    EXPECT_EQ(Le16(r + 36), 2);
    EXPECT_EQ(Le16(r + 38), h265 ? 2 : 1);
    EXPECT_EQ(Le16(r + 44), 176);
    EXPECT_EQ(Le16(r + 46), 144);
    EXPECT_EQ(Le16(r + 48), 25);
    EXPECT_EQ(Le16(r + 52), 1);
    EXPECT_EQ(Le16(r + 64), 3);
    EXPECT_NE(r[66], 0);
    EXPECT_EQ(live[1].code, 1);  // a key frame first
    // Audio: G.711, 320 bytes a picture at 25 pictures a second.
    bool audio = false;
    for (const auto& e : live) {
      if (e.code == 4) {
        audio = true;
        EXPECT_EQ(e.data.size(), 8u + 320u);
      }
    }
    EXPECT_TRUE(audio);
    const auto units = VideoUnits(live, true, 5);
    const auto pictures = Decode(h265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264, units);
    ASSERT_GE(pictures.size(), 3u);
    for (const auto& p : pictures) {
      EXPECT_EQ(p.width, 176);
      EXPECT_EQ(p.height, 144);
    }
    QVC_DisConnect(link);
  }
}

TEST_F(VdeviceTest, ShortHeadersCarryEveryTagVersion) {
  int32_t link = 10;
  for (int version : {4, 5, 6, 7, 9, 10, 16, 17}) {
    for (bool extended : {false, true}) {
      SCOPED_TRACE(version);
      SCOPED_TRACE(extended);
      AddDevice(std::string("width=160,height=128,fps=30,header=") +
                (extended ? "ext:" : "short:") + std::to_string(version));
      ++link;
      ASSERT_EQ(1, Connect(link, host_.size() - 1));
      ASSERT_TRUE(WaitFor(Event::kLive, link, 1));
      const Event header = Of(Event::kLive, link).front();
      ASSERT_EQ(header.code, 8);
      ASSERT_EQ(header.data.size(), 40u);
      const uint8_t* d = header.data.data();
      EXPECT_EQ(d[0], 0);
      EXPECT_EQ(0, std::memcmp(d + 2, "QVS", 3));
      EXPECT_EQ(d[5], extended ? ' ' : version);
      if (extended) {
        EXPECT_EQ(0, std::memcmp(d + 26, "QVS", 3));
        EXPECT_EQ(d[29], version);
      }
      EXPECT_EQ(Le32(d + 6), 160u);
      EXPECT_EQ(Le32(d + 10), 128u);
      EXPECT_EQ(Le32(d + 18), 0u);    // standard word 0: 30 per second
      EXPECT_EQ(Le32(d + 36), 300u);  // rate x 10 for tag version 10
      EXPECT_EQ(d[35], 0);
      // Frames carry no prefix with the short headers and still decode.
      ASSERT_TRUE(WaitFor(Event::kLive, link, 3, 2));
      const auto units = VideoUnits(Of(Event::kLive, link), false, 3);
      const auto pictures = Decode(AV_CODEC_ID_H264, units);
      ASSERT_FALSE(pictures.empty());
      EXPECT_EQ(pictures.front().width, 160);
      QVC_DisConnect(link);
    }
  }
}

TEST_F(VdeviceTest, VideoOffAndOnRestartsWithHeaderAndKeyFrame) {
  AddDevice("fps=25");
  ASSERT_EQ(1, Connect(1, 0));
  ASSERT_TRUE(WaitFor(Event::kLive, 1, 3, 2));
  Send(1, 117);
  Send(1, 112);
  // Switching back on restarts the stream: a second header, then a key
  // frame after it.
  ASSERT_TRUE(WaitFor(Event::kLive, 1, 8, 2));
  const auto live = Of(Event::kLive, 1);
  size_t second = 0;
  for (size_t i = 1; i < live.size(); ++i) {
    if (live[i].code == 8) second = i;
  }
  ASSERT_GT(second, 0u);
  EXPECT_EQ(live[second].data[0], 0);
  ASSERT_TRUE(WaitUntil([&] {
    const auto now = Of(Event::kLive, 1);
    for (size_t i = second + 1; i < now.size(); ++i) {
      if (now[i].code == 1 || now[i].code == 3) return now[i].code == 1;
    }
    return false;
  }));
}

TEST_F(VdeviceTest, ControlMessagesAndUserDataBothWays) {
  AddDevice("type=3");
  ASSERT_EQ(1, Connect(1, 0));
  ASSERT_TRUE(WaitFor(Event::kLive, 1, 1));
  auto controls = [&](uint8_t first) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& e : Of(Event::kLive, 1, 8)) {
      if (!e.data.empty() && e.data[0] == first) out.push_back(e.data);
    }
    return out;
  };
  auto waitControls = [&](uint8_t first, size_t n) {
    return WaitUntil([&] { return controls(first).size() >= n; });
  };
  // Recording start and stop answer with the recording state (sub-type 1).
  const uint32_t start = 41, stop = 42, up = 0x7F000000u | 1;
  Send(1, 96, &start, 4);
  Send(1, 96, &up, 4);
  Send(1, 96, &stop, 4);
  ASSERT_TRUE(waitControls(1, 2));
  EXPECT_EQ(controls(1)[0], (std::vector<uint8_t>{1, 1}));
  EXPECT_EQ(controls(1)[1], (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(host_.device(0).Controls(), (std::vector<uint32_t>{41, 1, 42}));
  // User data from the client comes back; the device pushes its own.
  Send(1, 8, std::string("ALhello"));
  ASSERT_TRUE(waitControls('A', 1));
  EXPECT_EQ(controls('A')[0], (std::vector<uint8_t>{'A', 'L', 'h', 'e', 'l', 'l', 'o'}));
  host_.device(0).PushUserData({1, 2, 3});
  host_.device(0).PushRecordingState(true);
  ASSERT_TRUE(waitControls('A', 2));
  EXPECT_EQ(controls('A')[1], (std::vector<uint8_t>{'A', 'L', 1, 2, 3}));
  ASSERT_TRUE(waitControls(1, 3));
  EXPECT_EQ(controls(1)[2], (std::vector<uint8_t>{1, 1}));
}

TEST_F(VdeviceTest, StreamsAMediaFileGivenByPath) {
  // An elementary H.264 stream written from a pattern clip of another size.
  const auto clip = vdevice::TestPatternClip(vdevice::VideoCodec::kH264, 208, 112, 25, 50, 25);
  const std::string path =
      ::testing::TempDir() + "vdevice_media_" + std::to_string(::getpid()) + ".h264";
  {
    std::ofstream out(path, std::ios::binary);
    for (const auto& f : clip->frames) {
      out.write(reinterpret_cast<const char*>(f.data.data()),
                static_cast<std::streamsize>(f.data.size()));
    }
  }
  AddDevice("type=2,file=" + path);
  ASSERT_EQ(host_.device(0).clip().width, 208);
  EXPECT_EQ(host_.device(0).clip().frames.size(), clip->frames.size());
  EXPECT_TRUE(host_.device(0).clip().frames.front().key);
  ASSERT_EQ(1, Connect(1, 0));
  ASSERT_TRUE(WaitFor(Event::kLive, 1, 3, 3));
  const auto live = Of(Event::kLive, 1);
  EXPECT_EQ(Le16(live.front().data.data() + 2 + 44), 208);
  const auto pictures = Decode(AV_CODEC_ID_H264, VideoUnits(live, true, 4));
  ASSERT_GE(pictures.size(), 2u);
  EXPECT_EQ(pictures.front().width, 208);
  EXPECT_EQ(pictures.front().height, 112);
  std::remove(path.c_str());
  // A file that is not there is refused with a message.
  vdevice::DeviceSpec spec;
  spec.media_file = path + ".missing";
  std::string error;
  EXPECT_LT(host_.Add(spec, &error), 0);
  EXPECT_FALSE(error.empty());
}

TEST_F(VdeviceTest, ManyChannelsShareOneEncodedClip) {
  AddDevice("channels=16,width=128,height=96");
  AddDevice("channels=16,width=128,height=96");
  EXPECT_EQ(&host_.device(0).clip(), &host_.device(1).clip());
  for (int32_t link = 1; link <= 16; ++link) {
    QVC_Connect(0, link, link - 1, "127.0.0.1", Port(static_cast<size_t>(link % 2)), "admin",
                "admin", -1, nullptr, 0, 0, 0, 0, 0);
  }
  for (int32_t link = 1; link <= 16; ++link) {
    ASSERT_TRUE(WaitFor(Event::kLive, link, 1)) << link;
  }
}

}  // namespace
}  // namespace vdevice_test
