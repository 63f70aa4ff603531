// A device's recordings as the viewer lists and plays them: the entries of a
// recording list, the day a list asks for, and a playback's position and
// speed as the status line shows them.
#pragma once

#include <qcsdk/qcsdk.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qcview {

struct Recording {
  int32_t index = 0;  // for QCSDK_RemotePlay
  int32_t kind = 0;
  std::string name;  // the display file name
};

// The entries of a recording list event (`count` entries at `data`).
std::vector<Recording> ReadRecordings(const char* data, int32_t count);

// The dates QCSDK_GetRemoteRecFileList takes for one day, `offset` days from
// today (local time), and that day as "2026-12-07".
std::array<int32_t, 6> DayQuery(int offset);
std::string DayText(int offset);

// "00:12" (or "1:02:03" from an hour on).
std::string Duration(int64_t seconds);

// Playback speed in steps of doubling (-4: 1/16 ... 4: 16 times), as
// QCSDK_RemotePlayControl's faster and slower commands move it.
struct PlaybackState {
  std::string name;
  bool paused = false;
  int speed = 0;
  uint32_t decodedAtStart = 0;
  bool shown = false;  // its pictures have reached the tile
  // "PLAY 080000.sv5 00:01/00:03 x2 paused" from the stream description.
  std::string Text(const StreamInfo& info) const;
};

}  // namespace qcview
