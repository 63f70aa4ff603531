// Describing devices (the --device syntax) and finding them: LAN search
// answers carry each device's number and link port.
#include <map>

#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

TEST(VdeviceSpec, ParsesEverySettingAndRejectsBadOnes) {
  vdevice::DeviceSpec spec;
  std::string error;
  ASSERT_TRUE(vdevice::ParseDeviceSpec(
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
  EXPECT_EQ(spec.codec, vdevice::VideoCodec::kH265);
  EXPECT_EQ(spec.width, 640);
  EXPECT_EQ(spec.fps, 30);
  EXPECT_TRUE(spec.mu_law);
  EXPECT_EQ(spec.header, vdevice::HeaderForm::kExtended);
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
  EXPECT_EQ(spec.faults.hostile_seed, 0u);
  for (const char* bad :
       {"type=0", "type=6", "channels=0", "kind=5", "codec=mpeg2", "width=15", "height=abc",
        "header=long", "header=short:300", "end=3", "number=123", "number=ABCDE1",
        "fault=drop-after:0", "fault=hostile:", "fault=melt", "colour=red", "type", "user="}) {
    vdevice::DeviceSpec s;
    error.clear();
    EXPECT_FALSE(vdevice::ParseDeviceSpec(bad, &s, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST_F(VdeviceTest, DevicesAnswerLanSearchWithTheirPorts) {
  host_.EnableDiscovery(0, -1);
  AddDevice("live=off,number=S501,channels=3");
  AddDevice("live=off,number=S502,type=4");
  const std::string first = host_.Describe(0);
  const size_t at = first.find(" search=");
  ASSERT_NE(at, std::string::npos) << first;
  const int searchPort = std::stoi(first.substr(at + 8));
  EXPECT_NE(host_.Describe(1).find(" search=" + std::to_string(searchPort)), std::string::npos);

  QVC_EnableSearchCache(0);
  ASSERT_EQ(1,
            QVC_StartLANSerchServer(nxl_test::FreeUdpPort(), searchPort, &nxl_test::OnSearch, 2));
  ASSERT_EQ(1, QVC_LANSerchDevice("", 0, 0, 0, "", static_cast<int32_t>(Scaled(1500).count()), 30));
  ASSERT_TRUE(recorder_.WaitFor([](const std::vector<Event>& events) {
    return !events.empty() && events.back().kind == Event::kSearch && events.back().end;
  }));
  std::map<int32_t, QVC_SearchResult> found;
  for (const auto& e : recorder_.Events(Event::kSearch)) {
    if (!e.end) found[e.search.number] = e.search;
  }
  QVC_StopLANSerchServer();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_STREQ(found[501].group, "S");
  EXPECT_EQ(found[501].port, Port(0));
  EXPECT_EQ(found[501].channelCount, 3);
  EXPECT_EQ(found[502].port, Port(1));
  EXPECT_EQ(found[502].cardType, 0xB1);  // read as device type 4
  EXPECT_STREQ(found[502].address, "127.0.0.1");
}

}  // namespace
}  // namespace vdevice_test
