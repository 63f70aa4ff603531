// qcrtsp: an RTSP server for device channels. Each NAME=DEVICE-URL on the
// command line is served at rtsp://ADDR:PORT/NAME through the SDK's public
// exports; see --help and docs/rtsp.md.
#include <glib-unix.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <qcsdk/qcsdk.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "event_line.h"
#include "mount.h"
#include "mount_factory.h"
#include "options.h"

namespace qcrtsp {
namespace {

// Client threads of the RTSP server: a first client waits there for its
// device, so several clients must not share one.
constexpr int kClientThreads = 16;
// After a link ended, the clients' sessions are closed this long after the
// end of stream went out, so their RTCP BYE can reach them first.
constexpr guint kByeGraceMs = 1500;

void CALLBACK_SDK_EVENT(int32_t, int32_t event, const char*, int32_t, void* user) {
  if (user != nullptr) static_cast<Mount*>(user)->OnEvent(event);
}
void CALLBACK_SDK_RAW(int32_t, const RawFrame* frame, void* user) {
  if (user != nullptr && frame != nullptr) static_cast<Mount*>(user)->OnFrame(*frame);
}
// The SDK's own diagnostics: warnings and errors to stderr, the rest dropped,
// so standard output carries only the server's events.
void CALLBACK_SDK_LOG(int32_t level, const char* source, const char* text, void*) {
  if (level >= 4) std::fprintf(stderr, "qcsdk: %s: %s\n", source, text);
}

class Server {
 public:
  explicit Server(const Options& options) : m_options(options) {}

  int Run() {
    m_server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(m_server, m_options.bind.c_str());
    gst_rtsp_server_set_service(m_server, std::to_string(m_options.port).c_str());
    gst_rtsp_thread_pool_set_max_threads(gst_rtsp_server_get_thread_pool(m_server), kClientThreads);
    GstRTSPMountPoints* points = gst_rtsp_server_get_mount_points(m_server);
    for (const MountOption& m : m_options.mounts) {
      auto mount = std::make_unique<Mount>(m.name, m.source, m_options.lingerSeconds,
                                           [this](Mount& ended) { EndClients(ended); });
      GstRTSPMediaFactory* factory = NewMountFactory(*mount);
      if (!m_options.user.empty()) {
        gst_rtsp_media_factory_add_role(factory, "user", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                        G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                        G_TYPE_BOOLEAN, TRUE, nullptr);
      }
      gst_rtsp_mount_points_add_factory(points, ("/" + m.name).c_str(), factory);
      m_mounts.push_back(std::move(mount));
    }
    g_object_unref(points);
    if (!m_options.user.empty()) SetAuthentication();
    g_signal_connect(m_server, "client-connected", G_CALLBACK(&Server::OnClient), this);
    if (gst_rtsp_server_attach(m_server, nullptr) == 0) {
      std::fprintf(stderr, "qcrtsp: cannot listen on %s:%d\n", m_options.bind.c_str(),
                   m_options.port);
      g_object_unref(m_server);
      return 1;
    }
    std::string names;
    for (const auto& m : m_mounts) names += (names.empty() ? "" : " ") + m->name();
    EventLine("listening on rtsp://" + m_options.bind + ":" +
              std::to_string(gst_rtsp_server_get_bound_port(m_server)) + "/ mounts: " + names);
    m_loop = g_main_loop_new(nullptr, FALSE);
    auto quit = +[](gpointer loop) -> gboolean {
      g_main_loop_quit(static_cast<GMainLoop*>(loop));
      return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGINT, quit, m_loop);
    g_unix_signal_add(SIGTERM, quit, m_loop);
    // SIGUSR1 starts the latency figures of --stats anew (a benchmark's window).
    g_unix_signal_add(
        SIGUSR1,
        +[](gpointer self) -> gboolean {
          for (auto& m : static_cast<Server*>(self)->m_mounts) m->ClearLatencySamples();
          return G_SOURCE_CONTINUE;
        },
        this);
    g_main_loop_run(m_loop);
    EventLine("stopping");
    for (auto& m : m_mounts) m->Close();
    if (m_options.stats) PrintStats();
    g_main_loop_unref(m_loop);
    return 0;
  }

 private:
  void SetAuthentication() {
    GstRTSPAuth* auth = gst_rtsp_auth_new();
    gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
    GstRTSPToken* token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "user", nullptr);
    gst_rtsp_auth_add_digest(auth, m_options.user.c_str(), m_options.password.c_str(), token);
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(m_server, auth);
    g_object_unref(auth);
  }

  static void OnClient(GstRTSPServer*, GstRTSPClient* client, gpointer self) {
    GstRTSPConnection* connection = gst_rtsp_client_get_connection(client);
    const std::string who = connection ? gst_rtsp_connection_get_ip(connection) : "?";
    EventLine("client " + who + " connected");
    g_signal_connect(client, "play-request", G_CALLBACK(&Server::OnPlay), self);
    g_signal_connect(client, "closed", G_CALLBACK(+[](GstRTSPClient* c, gpointer s) {
                       auto* server = static_cast<Server*>(s);
                       std::lock_guard<std::mutex> guard(server->m_clientsMutex);
                       const auto it = server->m_clients.find(c);
                       const std::string mount = it != server->m_clients.end() ? it->second : "";
                       if (it != server->m_clients.end()) server->m_clients.erase(it);
                       EventLine("client left" + (mount.empty() ? "" : " mount " + mount));
                     }),
                     self);
  }

  static void OnPlay(GstRTSPClient* client, GstRTSPContext* ctx, gpointer self) {
    if (ctx->uri == nullptr || ctx->uri->abspath == nullptr) return;
    std::string path = ctx->uri->abspath;
    path = path.substr(path.find_first_not_of('/'));
    path = path.substr(0, path.find('/'));
    auto* server = static_cast<Server*>(self);
    std::lock_guard<std::mutex> guard(server->m_clientsMutex);
    server->m_clients[client] = path;
    EventLine("client plays mount " + path);
  }

  // Closes the sessions of the clients that play `mount` now, once their end
  // of stream had time to go out; clients that come later stay.
  void EndClients(Mount& mount) {
    struct Ending {
      GstRTSPServer* server;
      std::set<GstRTSPClient*> clients;  // each with a reference
      ~Ending() {
        for (GstRTSPClient* c : clients) g_object_unref(c);
      }
    };
    auto ending = std::make_unique<Ending>();
    ending->server = m_server;
    {
      std::lock_guard<std::mutex> guard(m_clientsMutex);
      for (const auto& [client, name] : m_clients) {
        if (name == mount.name()) ending->clients.insert(GST_RTSP_CLIENT(g_object_ref(client)));
      }
    }
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, kByeGraceMs,
        +[](gpointer p) -> gboolean {
          auto* e = static_cast<Ending*>(p);
          gst_rtsp_server_client_filter(
              e->server,
              +[](GstRTSPServer*, GstRTSPClient* client, gpointer data) {
                return static_cast<Ending*>(data)->clients.count(client) != 0
                           ? GST_RTSP_FILTER_REMOVE
                           : GST_RTSP_FILTER_KEEP;
              },
              e);
          return G_SOURCE_REMOVE;
        },
        ending.release(), +[](gpointer p) { std::unique_ptr<Ending>(static_cast<Ending*>(p)); });
  }

  void PrintStats() const {
    for (const auto& m : m_mounts) {
      const std::vector<double> s = m->LatencySamples();
      if (s.empty()) continue;
      const auto at = [&](double q) { return s[static_cast<size_t>(q * (s.size() - 1))]; };
      std::printf("stats mount %s frames %zu latency_ms p50 %.3f p99 %.3f max %.3f\n",
                  m->name().c_str(), s.size(), at(0.5), at(0.99), s.back());
    }
    std::fflush(stdout);
  }

  const Options& m_options;
  GstRTSPServer* m_server = nullptr;
  GMainLoop* m_loop = nullptr;
  std::vector<std::unique_ptr<Mount>> m_mounts;
  std::mutex m_clientsMutex;
  std::map<GstRTSPClient*, std::string> m_clients;  // client -> the mount it plays
};

}  // namespace
}  // namespace qcrtsp

int main(int argc, char** argv) {
  qcrtsp::Options options;
  const int status = qcrtsp::ParseOptions(argc, argv, options);
  if (status >= 0) return status;
  gst_init(&argc, &argv);
  QCSDK_SetLogCallback(&qcrtsp::CALLBACK_SDK_LOG, nullptr);
  QCSDK_RegisterCallback(&qcrtsp::CALLBACK_SDK_EVENT, &qcrtsp::CALLBACK_SDK_RAW, nullptr, nullptr,
                         nullptr);
  if (QCSDK_InitSDK(0, nullptr) == 0) {
    std::fprintf(stderr, "qcrtsp: the SDK could not be initialised\n");
    QCSDK_ReleaseSDK();
    return 1;
  }
  int result = 0;
  {
    qcrtsp::Server server(options);
    result = server.Run();
  }
  QCSDK_ReleaseSDK();
  return result;
}
