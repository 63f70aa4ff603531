#include "anchor_server.h"

#include <glib-unix.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace qcsdk::bench {

int RunAnchorServer(const char* file) {
  gst_init(nullptr, nullptr);
  GstRTSPServer* server = gst_rtsp_server_new();
  gst_rtsp_server_set_address(server, "127.0.0.1");
  gst_rtsp_server_set_service(server, "0");
  GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
  const std::string launch = std::string("( filesrc location=") + file +
                             " ! matroskademux name=d d.video_0 ! queue ! h264parse ! "
                             "rtph264pay name=pay0 pt=96 config-interval=-1 d.audio_0 ! queue ! "
                             "rtppcmapay name=pay1 pt=8 )";
  gst_rtsp_media_factory_set_launch(factory, launch.c_str());
  gst_rtsp_media_factory_set_shared(factory, TRUE);
  GstRTSPMountPoints* points = gst_rtsp_server_get_mount_points(server);
  gst_rtsp_mount_points_add_factory(points, "/anchor", factory);
  g_object_unref(points);
  g_signal_connect(server, "client-connected",
                   G_CALLBACK(+[](GstRTSPServer*, GstRTSPClient* client, gpointer) {
                     g_signal_connect(client, "play-request",
                                      G_CALLBACK(+[](GstRTSPClient*, GstRTSPContext*, gpointer) {
                                        std::printf("client plays mount anchor\n");
                                        std::fflush(stdout);
                                      }),
                                      nullptr);
                   }),
                   nullptr);
  if (gst_rtsp_server_attach(server, nullptr) == 0) return 1;
  std::printf("listening on rtsp://127.0.0.1:%d/ mounts: anchor\n",
              gst_rtsp_server_get_bound_port(server));
  std::fflush(stdout);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(
      SIGTERM,
      +[](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_CONTINUE;
      },
      loop);
  // The benchmark's start-of-window signal: nothing to reset here.
  g_unix_signal_add(
      SIGUSR1, +[](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  g_object_unref(server);
  return 0;
}

}  // namespace qcsdk::bench
