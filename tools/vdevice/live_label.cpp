#include "vdevice/live_label.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace vdevice {

std::string LiveLabel(int channel, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[48];
  std::snprintf(text, sizeof text, "CH %d %02d:%02d:%02d", channel, local.tm_hour, local.tm_min,
                local.tm_sec);
  return text;
}

std::shared_ptr<const MediaFrame> LabelledKeyFrame(const MediaClip& clip, size_t index,
                                                   const std::string& label) {
  if (!clip.pattern || index >= clip.frames.size() || !clip.frames[index].key) return nullptr;
  using Key = std::tuple<const MediaClip*, size_t, std::string>;
  static std::mutex mutex;
  static std::map<Key, std::shared_ptr<const MediaFrame>> cache;
  // One open encoder per clip: opening one costs more than the picture.
  static std::map<const MediaClip*, std::unique_ptr<PatternEncoder>> encoders;
  // Held while encoding: feeds asking for the same label wait for the one
  // encoding instead of making their own.
  std::lock_guard lock(mutex);
  auto& slot = cache[Key{&clip, index, label}];
  if (slot) return slot;
  std::vector<MediaFrame> frames;
  try {
    auto& encoder = encoders[&clip];
    if (!encoder) encoder = std::make_unique<PatternEncoder>(*clip.pattern);
    encoder->set_label(label);
    frames = encoder->Encode(static_cast<int>(index), true);
  } catch (const std::runtime_error&) {
    frames.clear();
  }
  if (frames.size() != 1 || !frames.front().key) {
    encoders.erase(&clip);  // a fresh one next time
    return nullptr;
  }
  const auto made = std::make_shared<const MediaFrame>(std::move(frames.front()));
  slot = made;
  // Labels of past seconds are not asked for again: keep the cache to about
  // the labels of the last seconds (a frame still being sent stays alive
  // through its holder). Clearing frees `slot` itself: only `made` is used
  // after it.
  if (cache.size() > 256) {
    cache.clear();
    cache[Key{&clip, index, label}] = made;
  }
  return made;
}

}  // namespace vdevice
