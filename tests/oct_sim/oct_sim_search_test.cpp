// The SDK finds the simulator's devices over OCT: the search probe goes to
// the loopback broadcast address on the port the devices' search responders
// got from the system (support/device_ports.h); cloud numbers go through
// the simulator's directory.
#include <map>

#include "discovery/discovery_sinks.h"
#include "oct_sim/oct_sim_fixture.h"
#include "support/device_ports.h"

namespace qcsdk::test {
namespace {

TEST_F(OctSimTest, SearchFindsTheSimulatorsDevicesAndAResultConnects) {
  // The SDK's search service starts with it: set the probe's target first.
  QCSDK_ReleaseSDK();
  devices.EnableOctSearch(0);
  // Device numbers of this process only.
  const std::string number = "OS" + std::to_string(::getpid() % 100000 * 10);
  const size_t nvr = Add("type=3,channels=4,number=" + number + "1");
  const size_t other = Add("type=5,channels=1,number=" + number + "2");
  DevicePorts ports(0, Oct(nvr).engine().search_port());
  SearchSink sink;
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  auto ours = [&] {
    std::map<std::string, std::vector<QCSDK_SearchResult>> found;
    for (const QCSDK_SearchResult& r : sink.Records()) {
      if (std::string(r.deviceNumber).rfind(number, 0) == 0) found[r.deviceNumber].push_back(r);
    }
    return found;
  };
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, ScaledMs(400)), 1);
  ASSERT_TRUE(sink.WaitEnds(1, ScaledMs(10000)));
  auto found = ours();
  ASSERT_EQ(found.size(), 2u);
  ASSERT_EQ(found[number + "1"].size(), 1u);
  ASSERT_EQ(found[number + "2"].size(), 1u);
  const QCSDK_SearchResult a = found[number + "1"][0];
  const QCSDK_SearchResult b = found[number + "2"][0];
  EXPECT_STREQ(a.address, "127.0.0.1");
  EXPECT_EQ(a.port, Oct(nvr).port());
  EXPECT_STREQ(a.name, "vdevice 0");
  EXPECT_EQ(a.deviceType, 3);
  EXPECT_EQ(a.channelCount, 4);
  EXPECT_EQ(a.transport, QCSDK_TRANSPORT_OCT);
  EXPECT_EQ(b.port, Oct(other).port());
  EXPECT_EQ(b.deviceType, 4);  // device type 5: other kinds
  EXPECT_EQ(b.channelCount, 1);
  // A search for one type reports only devices of it.
  ASSERT_EQ(QCSDK_LanSeartchDevice(4, ScaledMs(400)), 1);
  ASSERT_TRUE(sink.WaitEnds(2, ScaledMs(10000)));
  found = ours();
  EXPECT_EQ(found[number + "1"].size(), 1u);
  EXPECT_EQ(found[number + "2"].size(), 2u);

  // What a result says is enough to connect.
  ASSERT_GE(QCSDK_Connect2(b.transport, b.address, b.port, 1, 0, "admin", "admin", 0, nullptr), 0);
  EXPECT_TRUE(WaitUntil([&] { return Oct(other).live_pictures() > 0; }));
  EXPECT_EQ(Oct(other).client_count(), 1u);
  EXPECT_EQ(Oct(nvr).client_count(), 0u);
  QCSDK_ReleaseSDK();  // the search threads end before the sink goes
}

TEST_F(OctSimTest, CloudNumbersReachDevicesThroughTheDirectory) {
  ASSERT_TRUE(devices.RunDirectory(0, 0));
  devices.UseDirectory(0, devices.oct_directory_port());  // the OCT directory only
  ASSERT_EQ(octc_set_directory("127.0.0.1", devices.oct_directory_port()), 0);
  // A cloud number of digits: its online status is asked over OCT.
  vdevice::DeviceSpec spec;
  std::string error;
  ASSERT_TRUE(vdevice::ParseDeviceSpec("width=160,height=120,channels=2", &spec, &error));
  spec.group.clear();
  spec.number = 700000 + ::getpid() % 100000;
  const std::string id = std::to_string(spec.number);
  const int d = devices.Add(spec, &error);
  ASSERT_GE(d, 0) << error;
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus(id.c_str(), ScaledMs(3000)), 1);
  EXPECT_EQ(QCSDK_GetNxlOnlineStatus((id + "9").c_str(), ScaledMs(3000)), 0);

  // Channels to one cloud number with the same credentials share one
  // session, whatever port they give; a number nobody registered fails.
  auto byNumber = [&](const std::string& number, int32_t port, int32_t channel) {
    return QCSDK_Connect2(QCSDK_TRANSPORT_OCT, number.c_str(), port, channel, 0, "admin", "admin",
                          1, nullptr);
  };
  const int32_t a = ConnectLive(0, 1, [&] { return byNumber(id, 0, 1); });
  const int32_t b = ConnectLive(0, 2, [&] { return byNumber(id, 4321, 2); });
  EXPECT_EQ(Oct(static_cast<size_t>(d)).client_count(), 1u);
  EXPECT_TRUE(WaitFrames(a));
  EXPECT_TRUE(WaitFrames(b));
  const int32_t unknown = byNumber(id + "9", 0, 1);
  ASSERT_GE(unknown, 0);
  EXPECT_TRUE(WaitEvent(unknown, QCSDK_EVENT_CONNECT_FAILED)) << Codes(unknown);
  octc_set_directory("127.0.0.1", 29800);
}

}  // namespace
}  // namespace qcsdk::test
