// Search and OKIP end to end: the SDK over the real transport libraries,
// virtual devices of both kinds answering on loopback at the SDK's target,
// on ports of their own (support/device_ports.h); device numbers carry the
// process id so that parallel test processes never mix their devices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "discovery/discovery_sinks.h"
#include "octc_device/device.h"
#include "qvc/device/discovery_responder.h"
#include "support/device_ports.h"
#include "support/host_recorder.h"

namespace qcsdk::test {
namespace {

using qvc::device::DiscoveryInfo;
using qvc::device::DiscoveryResponder;
using ::testing::ElementsAre;

// Device numbers unique to this process.
int32_t Number(int32_t n) {
  return static_cast<int32_t>(getpid() % 100000) * 100 + n;
}

std::string Text(const std::string& group, int32_t n) {
  return group + std::to_string(Number(n));
}

DiscoveryInfo NxlInfo(const std::string& group, int32_t n, int32_t cardType, const char* name) {
  DiscoveryInfo info;
  info.group = group;
  info.number = Number(n);
  info.card_type = cardType;
  info.channel_count = 8;
  info.port = 9000;
  info.name = name;
  info.user = "admin";
  info.password = "pw";
  info.net_config = {1, 0x0A01A8C0, 0x00FFFFFF, 0x0101A8C0, 0};  // 192.168.1.10
  info.answer_word16 = 5;
  info.answer_word124 = 6;
  return info;
}

class DiscoveryE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    octc::device::DeviceConfig config;
    config.device_id = Text("OC", 3);
    config.name = "oct nvr";
    config.device_type = 3;
    config.channel_count = 4;
    octDevice = std::make_unique<octc::device::DeviceEngine>(config, nullptr);
    ASSERT_TRUE(octDevice->Start());
    ASSERT_TRUE(octDevice->StartSearchResponder(kBroadcast, 0));

    // Several Nxl devices on one pair of ports, as on one machine; two of
    // them answer with the same device number. Like the OCT device they hear
    // only the loopback broadcast.
    nxl.push_back(std::make_unique<DiscoveryResponder>(NxlInfo("QV", 1, 0xB1, "front door")));
    nxl.push_back(std::make_unique<DiscoveryResponder>(NxlInfo("QV", 1, 0xB1, "front door")));
    nxl.push_back(std::make_unique<DiscoveryResponder>(NxlInfo("", 2, 0xD, "recorder")));
    nxl.push_back(std::make_unique<DiscoveryResponder>(NxlInfo("OC", 3, 0xE0, "nvr over nxl")));
    ASSERT_TRUE(nxl[0]->Start(0, 0, kBroadcast));
    for (size_t i = 1; i < nxl.size(); ++i) {
      ASSERT_TRUE(nxl[i]->Start(nxl[0]->search_port(), nxl[0]->okip_port(), kBroadcast));
    }
    ports = std::make_unique<DevicePorts>(nxl[0]->search_port(), octDevice->search_port());
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  }

  void TearDown() override {
    QCSDK_OKIP_StopService();
    QCSDK_ReleaseSDK();
    ports.reset();
    for (auto& device : nxl) device->Stop();
    octDevice->Stop();
  }

  // This process's devices among the records (a stranger's device could
  // share an OS-chosen port by chance).
  static std::map<std::string, std::vector<QCSDK_SearchResult>> Ours(
      const std::vector<QCSDK_SearchResult>& records) {
    std::map<std::string, std::vector<QCSDK_SearchResult>> ours;
    const std::string suffix = std::to_string(Number(0) / 100);
    for (const auto& r : records) {
      const std::string number = r.deviceNumber;
      if (number.find(suffix) != std::string::npos) ours[number].push_back(r);
    }
    return ours;
  }

  static constexpr const char* kBroadcast = "127.255.255.255";
  std::unique_ptr<DevicePorts> ports;
  std::unique_ptr<octc::device::DeviceEngine> octDevice;
  std::vector<std::unique_ptr<DiscoveryResponder>> nxl;
  // They outlive the SDK's release in TearDown, which joins the threads
  // that report to them.
  SearchSink sink;
  OkipSink okipSink;
};

// One search over both transports reports each device once; OKIP finds
// every answering device and sets one device's network configuration.
TEST_F(DiscoveryE2eTest, SearchAndOkipOverTheRealTransports) {
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, ScaledMs(400)), 1);
  EXPECT_EQ(QCSDK_LanSeartchDevice(0, ScaledMs(400)), 0);
  ASSERT_TRUE(sink.WaitEnds(1, 10000));
  auto ours = Ours(sink.Records());
  ASSERT_EQ(ours.size(), 3u);
  ASSERT_EQ(ours[Text("QV", 1)].size(), 1u);
  ASSERT_EQ(ours[Text("A", 2)].size(), 1u);
  ASSERT_EQ(ours[Text("OC", 3)].size(), 1u) << "seen by both transports, reported once";
  const QCSDK_SearchResult& qv = ours[Text("QV", 1)][0];
  EXPECT_STREQ(qv.address, "127.0.0.1");
  EXPECT_EQ(qv.port, 9000);
  EXPECT_STREQ(qv.name, "front door");
  EXPECT_EQ(qv.deviceType, 4);
  EXPECT_EQ(qv.channelCount, 8);
  EXPECT_EQ(qv.transport, QCSDK_TRANSPORT_NXL);
  EXPECT_EQ(ours[Text("A", 2)][0].deviceType, 2);
  // Without the Nxl copy the OCT device shows its own fields.
  nxl[3]->Stop();
  sink.Clear();
  ASSERT_EQ(QCSDK_LanSeartchDevice(3, ScaledMs(400)), 1);
  ASSERT_TRUE(sink.WaitEnds(1, 10000));
  ours = Ours(sink.Records());
  ASSERT_EQ(ours.size(), 1u) << "a filtered search reports its type only";
  ASSERT_EQ(ours[Text("OC", 3)].size(), 1u);
  const QCSDK_SearchResult& oc = ours[Text("OC", 3)][0];
  EXPECT_EQ(oc.transport, QCSDK_TRANSPORT_OCT);
  EXPECT_EQ(oc.port, octDevice->port());
  EXPECT_STREQ(oc.name, "oct nvr");
  EXPECT_EQ(oc.deviceType, 3);
  EXPECT_EQ(oc.channelCount, 4);

  ASSERT_EQ(QCSDK_OKIP_StartService(okipSink.Callback()), 1);
  ports->SetNxlPort(nxl[0]->okip_port());
  ASSERT_EQ(QCSDK_SetBroadcastTarget(nullptr), 1);
  ASSERT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 1);
  ASSERT_TRUE(okipSink.WaitEnds(1, 10000));
  std::map<std::string, std::vector<QCSDK_OkipResult>> found;
  for (const auto& r : okipSink.Records()) found[r.deviceNumber].push_back(r);
  // Every answer counts here: both devices numbered QV1 answer.
  ASSERT_EQ(found[Text("QV", 1)].size(), 2u);
  ASSERT_EQ(found[Text("", 2)].size(), 1u) << "OKIP numbers have no default group";
  const QCSDK_OkipResult& answer = found[Text("QV", 1)][0];
  EXPECT_STREQ(answer.address, "192.168.1.10");
  EXPECT_EQ(answer.word16, 5);
  EXPECT_EQ(answer.word124, 6);
  EXPECT_STREQ(answer.name, "front door");
  EXPECT_EQ(answer.deviceType, 4);

  std::atomic<int> applied{0};
  nxl[2]->OnNetConfigSet([&](const DiscoveryInfo&) { applied.fetch_add(1); });
  const int32_t config[5] = {2, 0x6300000A, 0x000000FF, 0x0100000A, 7};
  ASSERT_EQ(QCSDK_OKIP_SetNetCfg(Text("", 2).c_str(), "admin", "pw", config), 1);
  ASSERT_TRUE(okipSink.WaitEnds(2, 10000));
  EXPECT_EQ(applied.load(), 1);
  EXPECT_THAT(nxl[2]->info().net_config, ElementsAre(2u, 0x6300000Au, 0xFFu, 0x0100000Au, 7u));
  EXPECT_EQ(QCSDK_OKIP_StopService(), 1);
  EXPECT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 0) << "no service to send from";
}

}  // namespace
}  // namespace qcsdk::test
