// The camera of the camera tests, a program of its own so that the tests' race
// and leak checkers see none of GStreamer: its RTSP server on 127.0.0.1, at
// the port given (0 or none: any free one), serves solid-colour pictures with
// G.711 audio, blue H.264 with A-law at /h264 and red H.265 with mu-law at
// /h265. It prints "port <n>" once it serves, and serves until its standard
// input ends (the test stops it, or the test is gone).
#include <glib-unix.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// Solid-colour pictures of one codec ("264", "265") with G.711 audio ("a" A-law, "mu" mu-law).
std::string Pipeline(const char* colour, const std::string& codec, const std::string& law) {
  return std::string("( videotestsrc is-live=true pattern=solid-color foreground-color=") + colour +
         " ! video/x-raw,width=320,height=240,framerate=25/1 ! x" + codec +
         "enc tune=zerolatency speed-preset=ultrafast key-int-max=25" +
         (codec == "264" ? " sliced-threads=false" : "") + " ! rtph" + codec +
         "pay name=pay0 config-interval=-1 audiotestsrc is-live=true ! "
         "audio/x-raw,rate=8000,channels=1 ! " +
         law + "lawenc ! rtppcm" + law.back() + "pay name=pay1 )";
}

gboolean OnInput(int fd, GIOCondition, gpointer loop) {
  char byte;
  if (read(fd, &byte, 1) > 0) return G_SOURCE_CONTINUE;
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  GstRTSPServer* server = gst_rtsp_server_new();
  gst_rtsp_server_set_address(server, "127.0.0.1");
  gst_rtsp_server_set_service(server, argc > 1 ? argv[1] : "0");
  GstRTSPMountPoints* points = gst_rtsp_server_get_mount_points(server);
  for (const auto& [mount, launch] : {std::pair("/h264", Pipeline("0xff0000ff", "264", "a")),
                                      std::pair("/h265", Pipeline("0xffff0000", "265", "mu"))}) {
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    gst_rtsp_mount_points_add_factory(points, mount, factory);
  }
  g_object_unref(points);
  if (gst_rtsp_server_attach(server, nullptr) == 0) return 1;
  std::printf("port %d\n", gst_rtsp_server_get_bound_port(server));
  std::fflush(stdout);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), OnInput, loop);
  g_main_loop_run(loop);
  return 0;
}
