// The live test pattern's channel number and device clock. Every key frame
// a watched channel sends is re-encoded with "CH n HH:MM:SS" drawn into the
// pattern's label band; the predicted pictures after it are the shared
// clip's own, which leave the band unchanged, so the label stays on screen
// until the next key frame (one a second). Only channels somebody watches
// pay, one intra picture a second, and channels showing the same label at
// the same key frame (the same channel number on other devices or the other
// transport or stream) share one encoding.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "vdevice/media_clip.h"

namespace vdevice {

// "CH n HH:MM:SS": the channel counted from 1 and the device's local time.
std::string LiveLabel(int channel, std::time_t when);

// Key frame `index` of `clip` with `label` drawn in, encoded on first use and
// kept while the label is current (one encoding per process for each clip,
// index and label, by one encoder kept open per clip). Null when the clip is
// no test pattern (a media file's video), frame `index` is no key frame, or
// the encoder failed: the clip's own frame is sent then.
std::shared_ptr<const MediaFrame> LabelledKeyFrame(const MediaClip& clip, size_t index,
                                                   const std::string& label);

}  // namespace vdevice
