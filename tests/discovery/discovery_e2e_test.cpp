// Search and OKIP end to end: the SDK over the real transport libraries,
// virtual devices of both kinds answering on loopback at the SDK's target,
// on ports of their own (support/device_ports.h); device numbers carry the
// process id so that parallel test processes never mix their devices.
#include <arpa/inet.h>
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <qcsdk/qcsdk.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery.h"
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
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

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

// Inodes of the UDP sockets this process holds, with their local ports.
std::map<uint64_t, uint16_t> OwnUdpSockets() {
  std::set<uint64_t> inodes;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(dir)) {
      char target[64] = {};
      const std::string path = std::string("/proc/self/fd/") + e->d_name;
      if (::readlink(path.c_str(), target, sizeof target - 1) <= 0) continue;
      unsigned long long inode = 0;
      if (std::sscanf(target, "socket:[%llu]", &inode) == 1) inodes.insert(inode);
    }
    ::closedir(dir);
  }
  std::map<uint64_t, uint16_t> sockets;
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // heading
  while (std::getline(table, line)) {
    std::istringstream in(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    unsigned long long uid = 0, timeout = 0, inode = 0;
    in >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
        inode;
    const size_t colon = local.find(':');
    if (!in || colon == std::string::npos || inodes.count(inode) == 0) continue;
    sockets[inode] = static_cast<uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16));
  }
  return sockets;
}

void SendTo(uint16_t port, const std::vector<uint8_t>& bytes) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
  ::close(fd);
}

// A device that answers every search probe on a shared port with broken and
// borderline answers carrying the probe's own id.
class HostileDevice {
 public:
  explicit HostileDevice(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    sa.sin_port = htons(port);
    m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    m_thread = std::thread([this] { Run(); });
  }
  ~HostileDevice() {
    m_stop.store(true);
    m_thread.join();
    ::close(m_fd);
  }
  bool bound() const { return m_bound; }
  int probes() const { return m_probes.load(); }

 private:
  void Run() {
    std::vector<uint8_t> buffer(2048);
    while (!m_stop.load()) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 20) != 1) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      const auto id = qvc::wire::DecodeSearchProbe(buffer.data(), static_cast<size_t>(n));
      if (!id) continue;
      for (const auto& answer : Answers(*id)) {
        ::sendto(m_fd, answer.data(), answer.size(), MSG_NOSIGNAL,
                 reinterpret_cast<sockaddr*>(&from), len);
      }
      m_probes.fetch_add(1);
    }
  }

  static std::vector<std::vector<uint8_t>> Answers(uint32_t id) {
    qvc::wire::SearchAnswer a;
    a.group = "HX";
    a.number = Number(40);
    a.card_type = 0xD1;
    a.channel_count = 300;  // the library passes it, the SDK does not
    const std::vector<uint8_t> tooMany = qvc::wire::EncodeSearchAnswer(id, a);
    a.number = Number(41);
    a.channel_count = 0;
    const std::vector<uint8_t> none = qvc::wire::EncodeSearchAnswer(id, a);
    a.number = Number(42);
    a.channel_count = 2;
    std::vector<uint8_t> full = qvc::wire::EncodeSearchAnswer(id, a);
    // Group and name fill their fields without terminators.
    std::memset(full.data() + 12, 'Z', 8);
    std::memset(full.data() + 40, 'n', 256);
    std::vector<uint8_t> truncated = full;
    truncated.resize(full.size() - 1);
    std::vector<uint8_t> oversized = full;
    oversized.resize(full.size() + 700, 0xEE);
    std::vector<uint8_t> garbage(full.size());
    std::mt19937 random(id);
    for (auto& b : garbage) b = static_cast<uint8_t>(random());
    std::memcpy(garbage.data(), full.data(), 12);  // a valid header before it
    return {tooMany, none, truncated, oversized, garbage, full, full, {}, {'N', 'X'}};
  }

  int m_fd = -1;
  bool m_bound = false;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_probes{0};
  std::thread m_thread;
};

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
    before = OwnUdpSockets();
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
  std::map<uint64_t, uint16_t> before;
  // They outlive the SDK's release in TearDown, which joins the threads
  // that report to them.
  SearchSink sink;
  OkipSink okipSink;
};

TEST_F(DiscoveryE2eTest, OneSearchReportsEveryDeviceOnceOverBothTransports) {
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
  EXPECT_EQ(qv.word396, 1);
  EXPECT_EQ(qv.transport, QCSDK_TRANSPORT_NXL);
  EXPECT_EQ(ours[Text("A", 2)][0].deviceType, 2);
  // Whichever transport answered first, the device is an NVR.
  EXPECT_EQ(ours[Text("OC", 3)][0].deviceType, 3);
  const size_t firstCount = sink.Records().size();

  // Without the Nxl copy the OCT device shows its own fields; from inside
  // the null callback that ends this search the host starts the next one.
  nxl[3]->Stop();
  std::atomic<int32_t> restarted{-1};
  sink.OnReport([&](const QCSDK_SearchResult* r) {
    if (r == nullptr && restarted.load() < 0) restarted.store(QCSDK_LanSeartchDevice(2, 300));
  });
  ASSERT_EQ(QCSDK_LanSeartchDevice(3, ScaledMs(400)), 1);
  ASSERT_TRUE(sink.WaitEnds(3, 10000));
  EXPECT_EQ(restarted.load(), 1);
  QCSDK_ReleaseSDK();  // every library thread joined: the counts are final
  EXPECT_EQ(sink.Ends(), 3);

  const auto records = sink.Records();
  const std::vector<QCSDK_SearchResult> later(records.begin() + static_cast<ptrdiff_t>(firstCount),
                                              records.end());
  ours = Ours(later);
  ASSERT_EQ(ours.size(), 2u);
  ASSERT_EQ(ours[Text("OC", 3)].size(), 1u);
  ASSERT_EQ(ours[Text("A", 2)].size(), 1u);
  const QCSDK_SearchResult& oc = ours[Text("OC", 3)][0];
  EXPECT_EQ(oc.transport, QCSDK_TRANSPORT_OCT);
  EXPECT_STREQ(oc.address, "127.0.0.1");
  EXPECT_EQ(oc.port, octDevice->port());
  EXPECT_STREQ(oc.name, "oct nvr");
  EXPECT_EQ(oc.deviceType, 3);
  EXPECT_EQ(oc.channelCount, 4);
  EXPECT_EQ(oc.word396, 0) << "not registered with a directory";
  // The filtered searches reported their own type only, in order.
  const auto numbers = sink.Numbers();
  const auto from = numbers.begin() + static_cast<ptrdiff_t>(firstCount);
  const auto ocAt = std::find(from, numbers.end(), Text("OC", 3));
  const auto aAt = std::find(from, numbers.end(), Text("A", 2));
  EXPECT_LT(ocAt, aAt);
}

TEST_F(DiscoveryE2eTest, OkipFindsDevicesAndSetsOneNetworkConfiguration) {
  OkipSink& sink = okipSink;
  ASSERT_EQ(QCSDK_OKIP_StartService(sink.Callback()), 1);
  ports->SetNxlPort(nxl[0]->okip_port());
  ASSERT_EQ(QCSDK_SetBroadcastTarget(nullptr), 1);
  ASSERT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 1);
  ASSERT_TRUE(sink.WaitEnds(1, 10000));
  std::map<std::string, std::vector<QCSDK_OkipResult>> found;
  for (const auto& r : sink.Records()) found[r.deviceNumber].push_back(r);
  // Every answer counts here: both devices numbered QV1 answer.
  ASSERT_EQ(found[Text("QV", 1)].size(), 2u);
  ASSERT_EQ(found[Text("", 2)].size(), 1u) << "OKIP numbers have no default group";
  ASSERT_EQ(found[Text("OC", 3)].size(), 1u);
  const QCSDK_OkipResult& qv = found[Text("QV", 1)][0];
  EXPECT_STREQ(qv.address, "192.168.1.10");
  EXPECT_EQ(qv.word16, 5);
  EXPECT_EQ(qv.word124, 6);
  EXPECT_STREQ(qv.name, "front door");
  EXPECT_EQ(qv.deviceType, 4);
  EXPECT_EQ(found[Text("OC", 3)][0].deviceType, 3);

  std::atomic<int> applied{0};
  nxl[3]->OnNetConfigSet([&](const DiscoveryInfo&) { applied.fetch_add(1); });
  // 10.0.0.99/8 via 10.0.0.1; group letters in another case still name
  // the device.
  const int32_t config[5] = {2, 0x6300000A, 0x000000FF, 0x0100000A, 7};
  ASSERT_EQ(QCSDK_OKIP_SetNetCfg(Text("Oc", 3).c_str(), "admin", "pw", config), 1);
  ASSERT_TRUE(sink.WaitEnds(2, 10000));
  EXPECT_EQ(applied.load(), 1);
  const auto stored = nxl[3]->info().net_config;
  EXPECT_THAT(stored, ElementsAre(2u, 0x6300000Au, 0xFFu, 0x0100000Au, 7u));

  sink.Clear();
  ASSERT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 1);
  ASSERT_TRUE(sink.WaitEnds(1, 10000));
  found.clear();
  for (const auto& r : sink.Records()) found[r.deviceNumber].push_back(r);
  ASSERT_EQ(found[Text("OC", 3)].size(), 1u);
  EXPECT_STREQ(found[Text("OC", 3)][0].address, "10.0.0.99");
  EXPECT_STREQ(found[Text("QV", 1)][0].address, "192.168.1.10") << "the others are unchanged";

  EXPECT_EQ(QCSDK_OKIP_StopService(), 1);
  EXPECT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 0) << "no service to send from";
}

TEST_F(DiscoveryE2eTest, TheHostsTargetMovesSearchAndOkipAlike) {
  // One device per transport that hears only datagrams sent to 127.0.0.1,
  // on the others' ports.
  DiscoveryResponder nxlUnicast(NxlInfo("UN", 5, 0xD, "unicast camera"));
  ASSERT_TRUE(nxlUnicast.Start(nxl[0]->search_port(), nxl[0]->okip_port(), "127.0.0.1"));
  octc::device::DeviceConfig config;
  config.device_id = Text("OU", 6);
  octc::device::DeviceEngine octUnicast(config, nullptr);
  ASSERT_TRUE(octUnicast.StartSearchResponder("127.0.0.1", octDevice->search_port()));
  // This process's devices one search finds, with the transport of each.
  auto search = [&] {
    const auto from = static_cast<ptrdiff_t>(sink.Records().size());
    const int ends = sink.Ends();
    EXPECT_EQ(QCSDK_LanSeartchDevice(0, ScaledMs(400)), 1);
    EXPECT_TRUE(sink.WaitEnds(ends + 1, 10000));
    const auto records = sink.Records();
    std::map<std::string, int32_t> found;
    for (const auto& [number, copies] : Ours({records.begin() + from, records.end()})) {
      found[number] = copies[0].transport;
    }
    return found;
  };
  const std::map<std::string, int32_t> unicast = {{Text("UN", 5), QCSDK_TRANSPORT_NXL},
                                                  {Text("OU", 6), QCSDK_TRANSPORT_OCT}};
  ASSERT_EQ(QCSDK_SetBroadcastTarget("127.0.0.1"), 1);
  EXPECT_EQ(search(), unicast);
  for (const char* bad : {"localhost", "127.0.0", "127.1", "127.0.0.256", "0x7f.0.0.1",
                          " 127.0.0.2", "127.0.0.2 ", "::1", "127.0.0.1.1"}) {
    EXPECT_EQ(QCSDK_SetBroadcastTarget(bad), 0) << bad;
  }
  EXPECT_EQ(search(), unicast) << "a refused address changes nothing";
  ASSERT_EQ(QCSDK_SetBroadcastTarget("127.0.0.2"), 1);
  EXPECT_THAT(search(), IsEmpty()) << "no device listens there";
  ASSERT_EQ(QCSDK_SetBroadcastTarget(nullptr), 1);
  EXPECT_EQ(search().size(), 3u) << "QV1, A2 and OC3 hear the default again";

  // OKIP messages go where the search probes go.
  ports->SetNxlPort(nxl[0]->okip_port());
  ASSERT_EQ(QCSDK_OKIP_StartService(okipSink.Callback()), 1);
  auto find = [&] {
    okipSink.Clear();
    EXPECT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 1);
    EXPECT_TRUE(okipSink.WaitEnds(1, 10000));
    std::set<std::string> numbers;
    for (const auto& r : okipSink.Records()) numbers.insert(r.deviceNumber);
    return numbers;
  };
  ASSERT_EQ(QCSDK_SetBroadcastTarget("127.0.0.1"), 1);
  EXPECT_THAT(find(), ElementsAre(Text("UN", 5)));
  ASSERT_EQ(QCSDK_SetBroadcastTarget(""), 1);
  EXPECT_THAT(find(), UnorderedElementsAre(Text("QV", 1), Text("", 2), Text("OC", 3)));
}

TEST_F(DiscoveryE2eTest, HostileDatagramsNeverHurtTheHost) {
  ASSERT_EQ(QCSDK_OKIP_StartService(okipSink.Callback()), 1);
  std::vector<uint16_t> sdkPorts;
  for (const auto& [inode, port] : OwnUdpSockets()) {
    if (before.count(inode) == 0) sdkPorts.push_back(port);
  }
  ASSERT_GE(sdkPorts.size(), 3u) << "Nxl search, OCT search and OKIP";

  std::mt19937 random(1234);
  std::vector<std::vector<uint8_t>> hostile = {{}, {0}, {'N', 'X', 'L', 'S'}};
  for (size_t size : {11u, 12u, 13u, 295u, 296u, 297u, 755u, 756u, 757u, 4000u, 65000u}) {
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    hostile.push_back(bytes);
    if (size >= 12) {
      // Valid-looking headers of both kinds of Nxl datagram, and the OCT
      // header's place filled with extremes.
      for (const char* magic : {"NXLS", "NXLB"}) {
        std::memcpy(bytes.data(), magic, 4);
        bytes[4] = 1;
        bytes[5] = 2;
        hostile.push_back(bytes);
      }
      std::fill(bytes.begin(), bytes.begin() + 12, 0xFF);
      hostile.push_back(bytes);
    }
  }
  for (uint16_t port : sdkPorts) {
    for (const auto& bytes : hostile) SendTo(port, bytes);
  }

  // A device answering a live search with broken answers.
  HostileDevice hostileDevice(nxl[0]->search_port());
  ASSERT_TRUE(hostileDevice.bound());
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, ScaledMs(400)), 1);
  ASSERT_TRUE(sink.WaitEnds(1, 10000));
  EXPECT_EQ(hostileDevice.probes(), 1);
  auto ours = Ours(sink.Records());
  // The full answer, sent twice with its fields cut; the others are gone.
  const std::string cut = std::string(7, 'Z') + std::to_string(Number(42));
  EXPECT_EQ(ours.size(), 4u);
  ASSERT_EQ(ours[cut].size(), 1u);
  EXPECT_EQ(std::string(ours[cut][0].name), std::string(255, 'n'));
  EXPECT_EQ(ours[cut][0].deviceType, 2);
  EXPECT_EQ(ours.count(Text("HX", 40)), 0u);
  EXPECT_EQ(ours.count(Text("HX", 41)), 0u);
  EXPECT_EQ(ours[Text("QV", 1)].size(), 1u);

  // Both services still work.
  for (uint16_t port : sdkPorts) {
    for (const auto& bytes : hostile) SendTo(port, bytes);
  }
  ASSERT_EQ(QCSDK_LanSeartchDevice(0, ScaledMs(400)), 1);
  ASSERT_TRUE(sink.WaitEnds(2, 10000));
  ports->SetNxlPort(nxl[0]->okip_port());
  ASSERT_EQ(QCSDK_SetBroadcastTarget(nullptr), 1);
  ASSERT_EQ(QCSDK_OKIP_FinDevs(ScaledMs(500)), 1);
  ASSERT_TRUE(okipSink.WaitEnds(1, 10000));
  std::set<std::string> answered;
  for (const auto& r : okipSink.Records()) answered.insert(r.deviceNumber);
  EXPECT_EQ(
      answered.count(Text("QV", 1)) + answered.count(Text("", 2)) + answered.count(Text("OC", 3)),
      3u);
}

}  // namespace
}  // namespace qcsdk::test
