// UDP datagrams of LAN search and of the OKIP broadcast service. Every
// datagram opens with a 12-byte header: a 4-byte magic ("NXLS" search,
// "NXLB" broadcast), the protocol version, the kind (1 request, 2 answer),
// two zero bytes and a 32-bit request id that answers repeat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvc::wire {

inline constexpr size_t kDiscoveryHeader = 12;
inline constexpr size_t kSearchNameField = 256;
inline constexpr size_t kSearchAnswerSize = kDiscoveryHeader + 8 + 4 * 5 + kSearchNameField;
inline constexpr size_t kOkipMessageSize = 744;
inline constexpr size_t kOkipDatagramSize = kDiscoveryHeader + kOkipMessageSize;

enum class DiscoveryKind : uint8_t { kRequest = 1, kAnswer = 2 };

struct SearchAnswer {
  std::string group;
  int32_t number = 0;
  int32_t card_type = 0;
  int32_t channel_count = 0;
  uint16_t port = 0;
  uint32_t address = 0;  // network order; 0: the datagram's source address
  std::string name;
};

std::vector<uint8_t> EncodeSearchProbe(uint32_t search_id);
// The id of a search probe, or nothing when the datagram is not one.
std::optional<uint32_t> DecodeSearchProbe(const uint8_t* data, size_t size);
std::vector<uint8_t> EncodeSearchAnswer(uint32_t search_id, const SearchAnswer& answer);
bool DecodeSearchAnswer(const uint8_t* data, size_t size, uint32_t* search_id,
                        SearchAnswer* answer);

// OKIP requests and answers both carry one 744-byte message.
std::vector<uint8_t> EncodeOkip(DiscoveryKind kind, uint32_t message_id, const uint8_t* message);
// The message of an OKIP datagram of the given kind, or nothing.
bool DecodeOkip(const uint8_t* data, size_t size, DiscoveryKind kind, uint32_t* message_id,
                const uint8_t** message);

// Fields of the 744-byte OKIP message.
namespace okip {
inline constexpr uint32_t kFind = 1;
inline constexpr uint32_t kSet = 3;
inline constexpr size_t kType = 0;
inline constexpr size_t kGroup = 4;  // 8 bytes, zero-padded letters
inline constexpr size_t kNumber = 12;
inline constexpr size_t kWord16 = 16;  // answer word (status of a set)
inline constexpr size_t kName = 20;    // 100 bytes
inline constexpr size_t kCardType = 120;
inline constexpr size_t kWord124 = 124;    // answer word
inline constexpr size_t kText1 = 128;      // 32 bytes: user name of a set request
inline constexpr size_t kText2 = 160;      // 32 bytes: password of a set request
inline constexpr size_t kNetConfig = 192;  // five 32-bit words
}  // namespace okip

}  // namespace qvc::wire
