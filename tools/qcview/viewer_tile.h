// One tile of the viewer: its device channel, the state of its link, what it
// shows and what runs on it. Only the decoded-picture count is written by
// the SDK's threads; everything else belongs to the viewer's thread.
#pragma once

#include "viewer.h"

namespace qcview {

struct Viewer::Tile {
  enum class Link { kConnecting, kUp, kWaiting };
  enum class Mode { kLive, kListing, kList, kPlaying };

  Viewer* owner = nullptr;
  int index = 0;
  hostlib::DeviceSource source;
  std::atomic<uint32_t> decoded{0};  // pictures decoded, counted by the SDK's thread

  int32_t channel = -1;  // the SDK's number while a link exists or is being made
  Link link = Link::kConnecting;
  Clock::time_point attemptAt;  // when the connect was asked for
  Clock::time_point retryAt;    // kWaiting: when the next connect is made
  Backoff backoff;
  std::string failure;  // why the tile has no link ("" while it has one)

  TileBoxes boxes;
  Box picture;  // where the player draws, inside boxes.video
  bool showing = false;
  bool announced = false;  // "showing pictures" said for this link
  uint32_t decodedAtShow = 0;
  uint32_t decodedAtTick = 0;
  double fps = 0;
  StreamInfo info{};
  // The last picture before the link ended, darkened, in the server's pixel
  // layout (dimmedWidth x dimmedHeight).
  std::vector<uint8_t> dimmed;
  int dimmedWidth = 0, dimmedHeight = 0;

  bool recording = false;
  Clock::time_point recordingSince;
  bool sound = false;
  int32_t ptz = -1;  // the PTZ command running, -1 none

  Mode mode = Mode::kLive;
  int day = 0;  // the listed day, days from today
  std::vector<Recording> recordings;
  int chosen = 0;
  std::string note;  // a line about the list or the last playback
  PlaybackState playback;
};

}  // namespace qcview
