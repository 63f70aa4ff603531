// Describing devices: the --device syntax, every key and its limits.
#include <gtest/gtest.h>

#include "vdevice/device_settings.h"

namespace vdevice {
namespace {

TEST(VdeviceSpec, ParsesEverySettingAndRejectsBadOnes) {
  DeviceSpec spec;
  std::string error;
  ASSERT_TRUE(ParseDeviceSpec(
      "type=3,channels=4,user=op,password=,limit=2,kind=4,codec=h265,width=640,height=360,"
      "fps=30,audio=ulaw,header=ext:10,pace=off,live=off,end=w,cfgkind=-3,number=ab12,port=0,"
      "fault=drop-after:5,fault=slow:20,fault=refuse-text,fault=hostile:0",
      &spec, &error))
      << error;
  EXPECT_EQ(spec.device_type, 3);
  EXPECT_EQ(spec.channels, 4);
  EXPECT_EQ(spec.user, "op");
  EXPECT_EQ(spec.password, "");
  EXPECT_EQ(spec.client_limit, 2);
  EXPECT_EQ(spec.recording_kind, 4);
  EXPECT_EQ(spec.codec, VideoCodec::kH265);
  EXPECT_EQ(spec.width, 640);
  EXPECT_EQ(spec.fps, 30);
  EXPECT_TRUE(spec.mu_law);
  EXPECT_EQ(spec.header, HeaderForm::kExtended);
  EXPECT_EQ(spec.tag_version, 10);
  EXPECT_FALSE(spec.paced);
  EXPECT_FALSE(spec.live);
  EXPECT_EQ(spec.playback_end, 'w');
  EXPECT_EQ(spec.cfg_param_kind, -3);
  EXPECT_EQ(spec.group, "AB");
  EXPECT_EQ(spec.number, 12);
  EXPECT_EQ(spec.faults.drop_after_frames, 5);
  EXPECT_EQ(spec.faults.slow_ms, 20);
  EXPECT_TRUE(spec.faults.refuse_text);
  // The first value out of each range, and malformed keys.
  for (const char* bad :
       {"type=0", "type=6", "channels=0", "kind=5", "codec=mpeg2", "width=15", "height=abc",
        "header=long", "header=short:300", "end=3", "number=123", "number=ABCDE1",
        "fault=drop-after:0", "fault=hostile:", "fault=melt", "colour=red", "type", "user="}) {
    DeviceSpec s;
    error.clear();
    EXPECT_FALSE(ParseDeviceSpec(bad, &s, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
  for (const char* good :
       {"type=1", "type=5", "channels=1", "kind=0", "width=16", "number=ABCD1"}) {
    DeviceSpec s;
    EXPECT_TRUE(ParseDeviceSpec(good, &s, &error)) << good << ": " << error;
  }
}

}  // namespace
}  // namespace vdevice
