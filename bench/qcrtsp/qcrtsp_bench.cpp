// qcrtsp under load, with simulator devices as its sources and ffmpeg as
// its clients (RTP over TCP, under the idle scheduling class so that they
// take only the processor time the servers leave):
//   one mount read by 1, 8 and 32 clients, 64 mounts read by one client each;
//   the same reads of GStreamer's RTSP server serving a recording of the
//   device's stream from a file through the same payloaders (the anchor).
// Per run: the server's CPU (cores busy, from /proc), its resident memory,
// and for qcrtsp the time from a frame reaching the SDK's callback to its
// last RTP packet leaving the payloader (p50, p99 over the run's frames).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "anchor_server.h"
#include "hostlib/child_process.h"
#include "simulator_process.h"

namespace {

constexpr int kMounts = 64;
constexpr auto kSettle = std::chrono::seconds(2);
constexpr auto kWindow = std::chrono::seconds(6);

double CpuSeconds(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return 0;
  char text[1024] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  std::string s(text, n);
  std::istringstream in(s.substr(s.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 13; ++i) in >> field;  // state .. cmajflt
  in >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ResidentMb(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/statm").c_str(), "r");
  if (f == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  return n == 2 ? static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6
                : 0;
}

// A server program and the lines it prints.
class Server {
 public:
  bool Start(const std::string& program, const std::vector<std::string>& args) {
    if (!m_child.Start(program, args, true)) return false;
    m_reader = std::thread([this] {
      for (std::string line; m_child.ReadLine(line);) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(line);
        m_changed.notify_all();
      }
    });
    return Wait("listening on", 1);
  }
  bool Wait(const std::string& text, int n) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(90), [&] { return Count(text) >= n; });
  }
  std::string Port() {
    std::lock_guard lock(m_mutex);
    for (const std::string& l : m_lines) {
      const size_t at = l.find("127.0.0.1:");
      if (l.find("listening on") != std::string::npos && at != std::string::npos) {
        return l.substr(at + 10, l.find('/', at) - at - 10);
      }
    }
    return "0";
  }
  std::vector<std::string> Stop() {
    m_child.Stop(SIGTERM);
    if (m_reader.joinable()) m_reader.join();
    return m_lines;
  }
  pid_t pid() const { return m_child.pid(); }

 private:
  int Count(const std::string& text) const {
    int k = 0;
    for (const std::string& l : m_lines) k += l.find(text) != std::string::npos;
    return k;
  }
  hostlib::ChildProcess m_child;
  std::thread m_reader;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_lines;
};

struct Result {
  double cores = 0;           // server CPU time per second of the window
  double idleMb = 0;          // resident memory before any client
  double busyMb = 0;          // resident memory at the end of the window
  double p50 = -1, p99 = -1;  // ms; the median of the mounts' p50, the worst p99
};

std::unique_ptr<hostlib::ChildProcess> StartClient(const std::string& url) {
  auto c = std::make_unique<hostlib::ChildProcess>();
  c->Start("/usr/bin/chrt",
           {"--idle", "0", "ffmpeg", "-nostdin", "-v", "quiet", "-rtsp_transport", "tcp", "-i", url,
            "-c", "copy", "-f", "null", "-"},
           true);
  return c;
}

Result Measure(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& mounts, int clientsPerMount) {
  Result r;
  Server server;
  if (!server.Start(program, args)) return r;
  r.idleMb = ResidentMb(server.pid());
  const std::string base = "rtsp://127.0.0.1:" + server.Port() + "/";
  std::vector<std::unique_ptr<hostlib::ChildProcess>> clients;
  for (const std::string& m : mounts) {
    for (int k = 0; k < clientsPerMount; ++k) clients.push_back(StartClient(base + m));
  }
  const int total = static_cast<int>(clients.size());
  if (!server.Wait("client plays mount", total)) std::fprintf(stderr, "not every client plays\n");
  std::this_thread::sleep_for(kSettle);
  ::kill(server.pid(), SIGUSR1);  // qcrtsp's latency figures cover the window only
  const double cpu0 = CpuSeconds(server.pid());
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(kWindow);
  const double cpu1 = CpuSeconds(server.pid());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.busyMb = ResidentMb(server.pid());
  r.cores = (cpu1 - cpu0) / seconds;
  const std::vector<std::string> lines = server.Stop();
  for (auto& c : clients) c->Stop(SIGTERM);
  std::vector<double> p50s;
  for (const std::string& line : lines) {
    char name[64];
    unsigned long frames = 0;
    double p50 = 0, p99 = 0, max = 0;
    if (std::sscanf(line.c_str(), "stats mount %63s frames %lu latency_ms p50 %lf p99 %lf max %lf",
                    name, &frames, &p50, &p99, &max) == 5) {
      p50s.push_back(p50);
      r.p99 = std::max(r.p99, p99);
    }
  }
  if (!p50s.empty()) {
    std::sort(p50s.begin(), p50s.end());
    r.p50 = p50s[p50s.size() / 2];
  }
  return r;
}

void Row(const char* what, int mounts, int clients, const Result& r) {
  std::printf("%-8s %6d %7d %9.3f %11.2f %9.1f %10.1f %7.2f %7.2f\n", what, mounts, clients,
              r.cores, 1000 * r.cores / clients, r.idleMb, r.busyMb, r.p50, r.p99);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--anchor-server") {
    return qcsdk::bench::RunAnchorServer(argv[2]);
  }
  qcsdk::bench::SimulatorProcess simulator;
  std::string error;
  if (!simulator.Start(std::vector<std::string>(kMounts, "type=2"), &error, true)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> args = {"--port", "0", "--linger", "0", "--stats"}, all;
  for (int i = 0; i < kMounts; ++i) {
    all.push_back("m" + std::to_string(i));
    args.push_back(all.back() + "=nxl://127.0.0.1:" +
                   std::to_string(simulator.nxl_ports()[static_cast<size_t>(i)]) + "/0");
  }

  // The anchor's file: 8 s of the device's stream as qcrtsp serves it, looped.
  const std::string dir = "/tmp/qcrtsp_bench_" + std::to_string(::getpid());
  const std::string recording = dir + "_rec.mkv", file = dir + "_anchor.mkv";
  {
    Server server;
    if (!server.Start(QCRTSP_PROGRAM, args)) return 1;
    hostlib::ChildProcess rec;
    rec.Start(
        "/usr/bin/ffmpeg",
        {"-nostdin", "-v", "error", "-rtsp_transport", "tcp", "-i",
         "rtsp://127.0.0.1:" + server.Port() + "/m0", "-t", "8", "-c", "copy", "-y", recording},
        true);
    rec.Wait(60000);
    server.Stop();
    hostlib::ChildProcess loop;
    loop.Start("/usr/bin/ffmpeg",
               {"-nostdin", "-v", "error", "-stream_loop", "12", "-i", recording, "-c", "copy",
                "-y", file},
               true);
    loop.Wait(60000);
  }

  std::printf(
      "server   mounts clients     cores  ms/s/client   idle MB    busy MB  p50 ms  p99 ms\n");
  Result q1, q32, a1, a32;
  for (int n : {1, 8, 32}) {
    const Result r = Measure(QCRTSP_PROGRAM, args, {"m0"}, n);
    Row("qcrtsp", 1, n, r);
    if (n == 1) q1 = r;
    if (n == 32) q32 = r;
  }
  const Result many = Measure(QCRTSP_PROGRAM, args, all, 1);
  Row("qcrtsp", kMounts, kMounts, many);
  char self[4096] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  for (int n : {1, 8, 32}) {
    const Result r = Measure(self, {"--anchor-server", file}, {"anchor"}, n);
    Row("anchor", 1, n, r);
    if (n == 1) a1 = r;
    if (n == 32) a32 = r;
  }
  const double qPerClient = (q32.cores - q1.cores) / 31 * 1000;
  const double aPerClient = (a32.cores - a1.cores) / 31 * 1000;
  std::printf("\nCPU per added client: qcrtsp %.2f ms/s, anchor %.2f ms/s (ratio %.2f)\n",
              qPerClient, aPerClient, aPerClient > 0 ? qPerClient / aPerClient : 0.0);
  std::printf("CPU per mount (64 mounts, one client each): %.2f ms/s\n",
              1000 * many.cores / kMounts);
  std::printf("memory per mount (64 mounts playing): %.2f MB\n",
              (many.busyMb - many.idleMb) / kMounts);
  std::remove(recording.c_str());
  std::remove(file.c_str());
  return 0;
}
