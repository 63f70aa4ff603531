// LAN search and OKIP broadcasts between the qvc library and device
// responders on loopback: the library's own limits and refusals. (What the
// answers carry, searches restarted from their end and the host's target
// are proven through the SDK in tests/discovery.)
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
  info.channel_count = 8;
  info.name = name;
  info.password = "pw";
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

using NxlDiscoveryTest = NxlTest;

TEST_F(NxlDiscoveryTest, SearchLimitsAndRefusals) {
  DiscoveryResponder first(Info("QV", 101, "front door"));
  ASSERT_TRUE(first.Start(0, -1));
  DiscoveryInfo secondInfo = Info("", 102, std::string(300, 'x'));
  secondInfo.address = "127.0.0.9";
  DiscoveryResponder second(secondInfo);
  ASSERT_TRUE(second.Start(first.search_port(), -1));  // devices share the port
  const uint16_t local = FreeUdpPort();
  QVC_EnableSearchCache(0);
  ASSERT_EQ(1, QVC_StartLANSerchServer(local, first.search_port(), &OnSearch, 2));
  EXPECT_EQ(0, QVC_StartLANSerchServer(0, first.search_port(), &OnSearch, 2)) << "started";
  const auto timeout = static_cast<int32_t>(Scaled(1500).count());
  // At most maxAnswers answers, then one end record: 2 of 2, then 1 of 2.
  for (const int32_t most : {2, 1}) {
    const size_t before = recorder_.Events(Event::kSearch).size();
    ASSERT_EQ(1, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, most));
    EXPECT_EQ(0, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30)) << "a search is running";
    // Hostile datagrams and another search's answers are ignored.
    SendDatagram(local, {1, 2, 3});
    SendDatagram(local, std::vector<uint8_t>(qvc::wire::kSearchAnswerSize, 0));
    qvc::wire::SearchAnswer foreign;
    foreign.group = "ZZ";
    foreign.channel_count = 1;
    SendDatagram(local, qvc::wire::EncodeSearchAnswer(12345, foreign));
    ASSERT_TRUE(recorder_.WaitFor([&](const std::vector<Event>& events) {
      return std::count_if(events.begin(), events.end(), [](const Event& e) { return e.end; }) ==
             (most == 2 ? 1 : 2);
    }));
    auto results = recorder_.Events(Event::kSearch);
    results.erase(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_EQ(static_cast<size_t>(most) + 1, results.size());
    for (size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(i == static_cast<size_t>(most), results[i].search.endOfSearch == 1);
      if (results[i].search.number == 102) {
        EXPECT_EQ(255u, std::strlen(results[i].search.name));  // cut to the field
      }
    }
  }
  QVC_StopLANSerchServer();
  EXPECT_EQ(0, QVC_LANSerchDevice("", 0, 0, 0, "", timeout, 30));
  // A port in use is refused; once free it is taken.
  const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(local);
  ASSERT_EQ(0, ::bind(blocker, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  EXPECT_EQ(0, QVC_StartLANSerchServer(local, first.search_port(), &OnSearch, 2));
  ::close(blocker);
  EXPECT_EQ(1, QVC_StartLANSerchServer(local, first.search_port(), &OnSearch, 2));
}

TEST_F(NxlDiscoveryTest, OkipMessagesAndWhichDeviceAnswersASet) {
  std::atomic<int> applied{0};  // outlives the responder that counts on it
  DiscoveryResponder device(Info("ab", 123, "okip cam"));
  ASSERT_TRUE(device.Start(-1, 0));
  device.OnNetConfigSet([&](const DiscoveryInfo&) { ++applied; });
  const uint16_t local = FreeUdpPort();
  ASSERT_EQ(1, QVC_StartBroadcastServer(local, device.okip_port(), &OnOkip));
  const auto timeout = static_cast<int32_t>(Scaled(1500).count());
  const auto find = OkipMessage(okip::kFind, "", 0);
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
  ASSERT_EQ(744u, events[0].data.size());
  EXPECT_EQ(htonl(INADDR_LOOPBACK), events[0].source);
  EXPECT_EQ(123u, qvc::wire::GetU32(events[0].data.data() + okip::kNumber));
  EXPECT_EQ(1, events[1].end);
  EXPECT_TRUE(events[1].data.empty());

  // A set is answered by the device whose group and number it names; it
  // applies it only with the right password.
  const struct {
    const char* group;
    int32_t number;
    const char* password;
    bool answered;
  } sets[] = {{"AB", 124, "pw", false},
              {"AC", 123, "pw", false},
              {"AB", 123, "nope", true},
              {"AB", 123, "pw", true}};
  int32_t id = 20;
  for (const auto& set : sets) {
    auto m = OkipMessage(okip::kSet, set.group, set.number);
    std::memcpy(m.data() + okip::kText1, "admin", 5);
    std::memcpy(m.data() + okip::kText2, set.password, std::strlen(set.password));
    const uint8_t address[4] = {10, 0, 0, 7};
    std::memcpy(m.data() + okip::kNetConfig + 4, address, 4);
    const size_t before = recorder_.Events(Event::kOkip).size();
    ASSERT_EQ(1, QVC_BroadcastOnce(++id, m.data(), 744, timeout));
    ASSERT_TRUE(recorder_.WaitCount(Event::kOkip, before + (set.answered ? 2 : 1)));
    events = recorder_.Events(Event::kOkip);
    EXPECT_EQ(1, events.back().end);
    if (set.answered) {
      const uint8_t* answer = events[events.size() - 2].data.data();
      EXPECT_EQ(okip::kSet, qvc::wire::GetU32(answer + okip::kType));
      EXPECT_EQ(std::strcmp(set.password, "pw") == 0 ? 0u : 1u,
                qvc::wire::GetU32(answer + okip::kWord16));
    }
  }
  EXPECT_EQ(1, applied.load());
  EXPECT_EQ(1, QVC_StopBroadcastServer());
  EXPECT_EQ(0, QVC_StopBroadcastServer());
  EXPECT_EQ(0, QVC_BroadcastOnce(30, find.data(), 744, timeout));
}

}  // namespace
}  // namespace nxl_test
