#include <gtest/gtest.h>

#include "vdevice/live_label.h"
#include "vdevice/media_clip.h"

namespace {

// More labels than the cache keeps: each answer outlives the trimming of the
// cache, is the clip's key frame with its own label, and a label asked for
// again is the same encoding.
TEST(LiveLabel, LabelledKeyFramesOutliveTheCacheThatMadeThem) {
  const auto clip = vdevice::TestPatternClip(vdevice::VideoCodec::kH264, 320, 240, 25, 2, 2);
  std::shared_ptr<const vdevice::MediaFrame> first;
  for (int second = 0; second < 300; ++second) {
    const auto frame = vdevice::LabelledKeyFrame(*clip, 0, vdevice::LiveLabel(1, second));
    ASSERT_TRUE(frame != nullptr && frame->key && !frame->data.empty()) << second;
    if (second == 0) first = frame;
    EXPECT_EQ(frame, vdevice::LabelledKeyFrame(*clip, 0, vdevice::LiveLabel(1, second)));
  }
  EXPECT_NE(first->data, vdevice::LabelledKeyFrame(*clip, 0, "CH 2 00:00:00")->data);
  EXPECT_EQ(nullptr, vdevice::LabelledKeyFrame(*clip, 1, "CH 1 00:00:00"));  // no key frame
}

}  // namespace
