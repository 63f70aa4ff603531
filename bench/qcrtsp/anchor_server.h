// The yardstick of the qcrtsp benchmark: GStreamer's RTSP server serving a
// recorded copy of the device's stream (Matroska: H.264 and G.711 A-law)
// through the payloaders qcrtsp uses, one shared media at /anchor. Prints
// "listening PORT" and "client plays mount anchor" per client, as qcrtsp
// does; runs until SIGTERM.
#pragma once

namespace qcsdk::bench {

int RunAnchorServer(const char* file);

}  // namespace qcsdk::bench
