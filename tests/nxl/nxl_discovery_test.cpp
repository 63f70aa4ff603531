// LAN search and OKIP broadcasts between the qvc library and device
// responders, all on loopback (the default target 127.255.255.255).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "byte_io.h"
#include "discovery.h"
#include "nxl_test_env.h"
#include "qvc/device/discovery_responder.h"

namespace nxl_test {
namespace {

using qvc::device::DiscoveryInfo;
using qvc::device::DiscoveryResponder;
namespace okip = qvc::wire::okip;

DiscoveryInfo Info(const std::string& group, int32_t number, const std::string& name) {
  DiscoveryInfo info;
  info.group = group;
  info.number = number;
  info.card_type = 0xB1;
  info.channel_count = 8;
  info.port = 9000;
  info.name = name;
  info.password = "pw";
  info.net_config = {1, 0x0A01A8C0, 0x00FFFFFF, 0x0101A8C0, 0};  // 192.168.1.10
  return info;
}

void SendDatagram(uint16_t port, const std::vector<uint8_t>& bytes) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
}

std::vector<uint8_t> OkipMessage(uint32_t type, const std::string& group, int32_t number) {
  std::vector<uint8_t> m(744, 0);
  qvc::wire::PutU32(m.data() + okip::kType, type);
  std::memcpy(m.data() + okip::kGroup, group.data(), std::min<size_t>(group.size(), 7));
  qvc::wire::PutU32(m.data() + okip::kNumber, static_cast<uint32_t>(number));
  return m;
}

class NxlDiscoveryTest : public NxlTest {};

TEST_F(NxlDiscoveryTest, SearchDeliversEveryDeviceThenOneEndRecord) {
  DiscoveryResponder first(Info("QV", 101, "front door"));
  ASSERT_TRUE(first.Start(0, -1));
  DiscoveryInfo second_info = Info("", 102, std::string(300, 'x'));
  second_info.address = "127.0.0.9";
  DiscoveryResponder second(second_info);
  ASSERT_TRUE(second.Start(first.search_port(), -1));  // devices share the port

  uint16_t local = FreeUdpPort();
  QVC_EnableSearchCache(0);
  ASSERT_EQ(1, QVC_StartLANSerchServer(local, first.search_port(), &OnSearch, 2));
  EXPECT_EQ(0, QVC_StartLANSerchServer(0, first.search_port(), &OnSearch, 2)) << "already started";
  auto timeout = static_cast<int32_t>(Scaled(1500).count());
  ASSERT_EQ(1, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30));
  EXPECT_EQ(0, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30)) << "a search is running";
  // Hostile datagrams at the search port are ignored.
  SendDatagram(local, {1, 2, 3});
  SendDatagram(local, std::vector<uint8_t>(qvc::wire::kSearchAnswerSize, 0));
  qvc::wire::SearchAnswer foreign;
  foreign.group = "ZZ";
  foreign.channel_count = 1;
  SendDatagram(local, qvc::wire::EncodeSearchAnswer(12345, foreign));  // another search's id

  ASSERT_TRUE(recorder_.WaitFor([](const std::vector<Event>& events) {
    return !events.empty() && events.back().kind == Event::kSearch && events.back().end;
  }));
  auto results = recorder_.Events(Event::kSearch);
  ASSERT_EQ(3u, results.size());
  EXPECT_EQ(1, results[2].search.endOfSearch);
  EXPECT_EQ(0, results[2].search.number);
  EXPECT_EQ(0, results[2].search.address[0]);
  std::map<int32_t, QVC_SearchResult> found;
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(0, results[i].search.endOfSearch);
    found[results[i].search.number] = results[i].search;
  }
  ASSERT_EQ(2u, found.count(101) + found.count(102));
  EXPECT_STREQ("QV", found[101].group);
  EXPECT_STREQ("127.0.0.1", found[101].address);
  EXPECT_STREQ("front door", found[101].name);
  EXPECT_EQ(0xB1, found[101].cardType);
  EXPECT_EQ(8, found[101].channelCount);
  EXPECT_EQ(9000, found[101].port);
  EXPECT_STREQ("", found[102].group);
  EXPECT_STREQ("127.0.0.9", found[102].address);
  EXPECT_EQ(255u, std::strlen(found[102].name));

  // At most maxAnswers answers, still one end record.
  ASSERT_EQ(1, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 1));
  ASSERT_TRUE(recorder_.WaitCount(Event::kSearch, 5));
  auto again = recorder_.Events(Event::kSearch);
  EXPECT_EQ(0, again[3].search.endOfSearch);
  EXPECT_EQ(1, again[4].search.endOfSearch);

  QVC_StopLANSerchServer();
  EXPECT_EQ(0, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30));
  // The port is free again; a port in use is refused.
  int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(local);
  ASSERT_EQ(0, ::bind(blocker, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  EXPECT_EQ(0, QVC_StartLANSerchServer(local, first.search_port(), &OnSearch, 2));
  ::close(blocker);
  EXPECT_EQ(1, QVC_StartLANSerchServer(local, first.search_port(), &OnSearch, 2));
}

TEST_F(NxlDiscoveryTest, SearchFromInsideTheEndRecordStartsTheNextOne) {
  DiscoveryResponder device(Info("QV", 7, "cam"));
  ASSERT_TRUE(device.Start(0, -1));
  auto timeout = static_cast<int32_t>(Scaled(1000).count());
  std::atomic<int> restarted{0};
  recorder_.SetHook([&](const Event& e) {
    if (e.kind == Event::kSearch && e.end && restarted.load() == 0) {
      restarted += QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30);
    }
    if (e.kind == Event::kSearch && !e.end) {
      // Inside a result, a second search is refused; stopping is allowed.
      EXPECT_EQ(0, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30));
    }
  });
  ASSERT_EQ(1, QVC_StartLANSerchServer(0, device.search_port(), &OnSearch, 2));
  ASSERT_EQ(1, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30));
  ASSERT_TRUE(recorder_.WaitCount(Event::kSearch, 4));
  EXPECT_EQ(1, restarted.load());
  auto results = recorder_.Events(Event::kSearch);
  EXPECT_EQ(1, results[1].end);
  EXPECT_EQ(1, results[3].end);
  QVC_StopLANSerchServer();
}

TEST_F(NxlDiscoveryTest, OkipFindAndSetRoundTrip) {
  DiscoveryResponder device(Info("ab", 123, "okip cam"));
  ASSERT_TRUE(device.Start(-1, 0));
  std::atomic<int> applied{0};
  device.OnNetConfigSet([&](const DiscoveryInfo&) { ++applied; });
  uint16_t local = FreeUdpPort();
  ASSERT_EQ(1, QVC_StartBroadcastServer(local, device.okip_port(), &OnOkip));
  auto timeout = static_cast<int32_t>(Scaled(1500).count());

  auto find = OkipMessage(okip::kFind, "", 0);
  EXPECT_EQ(0, QVC_BroadcastOnce(11, find.data(), 743, timeout));
  EXPECT_EQ(0, QVC_BroadcastOnce(11, nullptr, 744, timeout));
  ASSERT_EQ(1, QVC_BroadcastOnce(11, find.data(), 744, timeout));
  EXPECT_EQ(0, QVC_BroadcastOnce(11, find.data(), 744, timeout)) << "id pending";
  // Answers for other ids and malformed datagrams are ignored.
  SendDatagram(local, qvc::wire::EncodeOkip(qvc::wire::DiscoveryKind::kAnswer, 99, find.data()));
  SendDatagram(local, std::vector<uint8_t>(756, 0xff));
  ASSERT_TRUE(recorder_.WaitCount(Event::kOkip, 2));
  auto events = recorder_.Events(Event::kOkip);
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(11, events[0].code);
  EXPECT_EQ(0, events[0].end);
  ASSERT_EQ(744u, events[0].data.size());
  EXPECT_EQ(htonl(INADDR_LOOPBACK), events[0].source);
  const uint8_t* answer = events[0].data.data();
  EXPECT_EQ(okip::kFind, qvc::wire::GetU32(answer + okip::kType));
  EXPECT_STREQ("ab", reinterpret_cast<const char*>(answer + okip::kGroup));
  EXPECT_EQ(123u, qvc::wire::GetU32(answer + okip::kNumber));
  EXPECT_STREQ("okip cam", reinterpret_cast<const char*>(answer + okip::kName));
  EXPECT_EQ(0xB1u, qvc::wire::GetU32(answer + okip::kCardType));
  EXPECT_EQ(0, std::memcmp(answer + okip::kNetConfig + 4, "\xC0\xA8\x01\x0A", 4));
  EXPECT_EQ(11, events[1].code);
  EXPECT_EQ(1, events[1].end);
  EXPECT_TRUE(events[1].data.empty());

  // A set with wrong credentials changes nothing; with the right ones the
  // next find shows the new address.
  auto set = OkipMessage(okip::kSet, "AB", 123);
  std::memcpy(set.data() + okip::kText1, "admin", 5);
  std::memcpy(set.data() + okip::kText2, "nope", 4);
  const uint8_t new_address[4] = {10, 0, 0, 7};
  std::memcpy(set.data() + okip::kNetConfig + 4, new_address, 4);
  ASSERT_EQ(1, QVC_BroadcastOnce(12, set.data(), 744, timeout));
  ASSERT_TRUE(recorder_.WaitCount(Event::kOkip, 4));
  events = recorder_.Events(Event::kOkip);
  EXPECT_EQ(okip::kSet, qvc::wire::GetU32(events[2].data.data() + okip::kType));
  EXPECT_EQ(1u, qvc::wire::GetU32(events[2].data.data() + okip::kWord16));
  EXPECT_EQ(0, applied.load());
  std::memcpy(set.data() + okip::kText2, "pw\0\0", 4);
  ASSERT_EQ(1, QVC_BroadcastOnce(13, set.data(), 744, timeout));
  ASSERT_TRUE(recorder_.WaitCount(Event::kOkip, 6));
  events = recorder_.Events(Event::kOkip);
  EXPECT_EQ(0u, qvc::wire::GetU32(events[4].data.data() + okip::kWord16));
  EXPECT_EQ(1, applied.load());
  ASSERT_EQ(1, QVC_BroadcastOnce(14, find.data(), 744, timeout));
  ASSERT_TRUE(recorder_.WaitCount(Event::kOkip, 8));
  events = recorder_.Events(Event::kOkip);
  EXPECT_EQ(0, std::memcmp(events[6].data.data() + okip::kNetConfig + 4, new_address, 4));
  // A set for another device number is not answered at all.
  auto other = OkipMessage(okip::kSet, "AB", 124);
  ASSERT_EQ(1, QVC_BroadcastOnce(15, other.data(), 744, timeout));
  ASSERT_TRUE(recorder_.WaitCount(Event::kOkip, 9));
  EXPECT_EQ(1, recorder_.Events(Event::kOkip)[8].end);

  EXPECT_EQ(1, QVC_StopBroadcastServer());
  EXPECT_EQ(0, QVC_StopBroadcastServer());
  EXPECT_EQ(0, QVC_BroadcastOnce(16, find.data(), 744, timeout));
}

TEST_F(NxlDiscoveryTest, BroadcastTargetIsConfigurable) {
  EXPECT_EQ(0, QVC_SetBroadcastTarget("not an address", 0));
  EXPECT_EQ(0, QVC_SetBroadcastTarget("127.0.0.1", 70000));
  DiscoveryResponder device(Info("QV", 5, "direct"));
  ASSERT_TRUE(device.Start(0, -1));
  // Unicast to the device's own port, whatever remote port the service has.
  ASSERT_EQ(1, QVC_SetBroadcastTarget("127.0.0.1", device.search_port()));
  ASSERT_EQ(1, QVC_StartLANSerchServer(0, 1, &OnSearch, 2));
  ASSERT_EQ(1, QVC_LANSerchDevice("", 0, 0, 0, "", static_cast<int32_t>(Scaled(1000).count()), 30));
  ASSERT_TRUE(recorder_.WaitCount(Event::kSearch, 2));
  auto results = recorder_.Events(Event::kSearch);
  EXPECT_EQ(5, results[0].search.number);
  EXPECT_EQ(1, results[1].search.endOfSearch);
  EXPECT_EQ(1, QVC_SetBroadcastTarget(nullptr, 0));
  QVC_StopLANSerchServer();
}

}  // namespace
}  // namespace nxl_test
