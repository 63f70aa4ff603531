// The RTSP server's media factory of one mount: a shared factory whose
// pipeline the mount builds for the stream its channel carries.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

namespace qcrtsp {

class Mount;

// A new shared factory that asks `mount` (which outlives it) for pipelines.
GstRTSPMediaFactory* NewMountFactory(Mount& mount);

}  // namespace qcrtsp
