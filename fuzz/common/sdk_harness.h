// Drives the SDK through the scripted libraries of the tests: a fuzz input
// reaches the callbacks the SDK registered, so the SDK's own code parses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/fake_libraries.h"

namespace qcsdk::fuzz {

// The scripted libraries, bound and the SDK initialised on first use; the
// calls recorded by the previous input are cleared.
test::FakeLibraries& Fake();

// A new Nxl channel whose link is up; with a device type (1..5) the live
// path first delivers a whole 96-byte record naming it and the recording
// kind.
int32_t ConnectNxl(uint16_t deviceType = 0, uint16_t recordKind = 0);
// Ends the channel as a device that closes the link.
void DisconnectNxl(int32_t channel);

// A directory on tmpfs of this process's own, created on first use and
// removed with its contents at exit.
const std::string& ScratchDirectory();

// One message of an input cut as [u8 a][u8 b][u16 length][bytes]...; a
// length beyond the end takes what is left.
struct Message {
  uint8_t a;
  uint8_t b;
  const uint8_t* data;
  int32_t length;
};
std::vector<Message> SplitMessages(const uint8_t* data, std::size_t size);

}  // namespace qcsdk::fuzz
