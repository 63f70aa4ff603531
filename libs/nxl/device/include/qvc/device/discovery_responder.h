// A device's answers to LAN search probes and OKIP broadcasts (find and
// set network configuration). Listens on UDP ports of all local addresses
// unless given one, but answers only datagrams from loopback sources unless
// told otherwise. Several responders may share a port, as several devices on
// one machine do.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qvc::device {

struct DiscoveryInfo {
  std::string group = "A";
  int32_t number = 1;
  int32_t card_type = 0;
  int32_t channel_count = 1;
  uint16_t port = 0;    // the device's link port
  std::string address;  // dotted; empty: receivers use the datagram's source
  std::string name;
  // OKIP: the credentials a set request must carry (texts 1 and 2), the
  // network configuration words (word 1 the IPv4 address, first dotted
  // number in the lowest byte) and the two answer words.
  std::string user = "admin";
  std::string password;
  std::array<uint32_t, 5> net_config{};
  uint32_t answer_word16 = 0;
  uint32_t answer_word124 = 0;
};

class DiscoveryResponder {
 public:
  explicit DiscoveryResponder(DiscoveryInfo info);
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  // Binds the search port and the OKIP port (each 0: the system picks; -1:
  // that service is off) on `address` (dotted; empty: every local address;
  // a broadcast address hears only broadcasts, a unicast one only datagrams
  // sent to it) and starts the thread.
  bool Start(int search_port, int okip_port, const std::string& address = "");
  void Stop();
  uint16_t search_port() const;
  uint16_t okip_port() const;

  DiscoveryInfo info() const;
  void SetInfo(const DiscoveryInfo& info);
  // Answers only after this delay.
  void SetAnswerDelay(int ms);
  // false: datagrams from any source are answered.
  void SetLoopbackOnly(bool loopback_only);
  // Called (on the responder's thread) when an OKIP set request was applied.
  void OnNetConfigSet(std::function<void(const DiscoveryInfo&)> handler);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qvc::device
