// OKIP: finding devices and setting a device's network configuration by
// broadcast, without a connection, over the Nxl library's broadcast service.
// Requests and answers are one fixed 744-byte message; each answer is handed
// to the host as a 160-byte QCSDK_OkipResult. The exports QCSDK_OKIP_* live
// in okip.cpp.
#pragma once

#include <qcsdk/qcsdk.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace qcsdk::okip {

constexpr size_t kMessageSize = 744;
// Answers shorter than this do not reach the last field read from them.
constexpr int32_t kMinAnswerSize = 200;

// Message types.
constexpr uint32_t kFind = 1;  // find request, and every device's answer
constexpr uint32_t kSet = 3;   // set network configuration

// Field offsets in the message (32-bit integers little-endian).
constexpr size_t kType = 0;
constexpr size_t kGroup = 4;  // 8 bytes of group letters, zero-padded
constexpr size_t kGroupSize = 8;
constexpr size_t kNumber = 12;
constexpr size_t kWord16 = 16;
constexpr size_t kName = 20;  // 100 bytes
constexpr size_t kNameSize = 100;
constexpr size_t kCardType = 120;
constexpr size_t kWord124 = 124;
constexpr size_t kText1 = 128;  // 32 bytes, zero-terminated
constexpr size_t kText2 = 160;  // 32 bytes, zero-terminated
constexpr size_t kTextSize = 32;
constexpr size_t kNetConfig = 192;  // five 32-bit words
constexpr size_t kAddressWord = 196;
constexpr int kNetConfigWords = 5;
// At most this many leading letters of a device number form its group.
constexpr int kMaxGroupLetters = 4;

// The local ports the answer service may take, and where requests go.
constexpr int32_t kFirstLocalPort = 9500;
constexpr int32_t kLastLocalPort = 9599;
constexpr int32_t kRemotePort = 9106;
constexpr int32_t kSetTimeoutMs = 1000;

using Message = std::array<uint8_t, kMessageSize>;

// A find request: type 1, everything else zero.
Message BuildFindMessage();
// A set request for the device named by number (group letters with their
// case kept, then decimal digits). False, with out untouched, when an
// argument is rejected: a null pointer, or a text longer than 31
// characters.
bool BuildSetMessage(const char* deviceNumber, const char* text1, const char* text2,
                     const int32_t* config, Message* out);
// The host record of one device answer. False for an answer to ignore:
// no data, fewer than kMinAnswerSize bytes, or a type other than find.
bool BuildResult(const uint8_t* data, int32_t length, QCSDK_OkipResult* out);

// The id of the next broadcast, from the current time in seconds.
int32_t NextMessageId();

}  // namespace qcsdk::okip
