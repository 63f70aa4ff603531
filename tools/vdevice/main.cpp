// vdevice: serves virtual devices on 127.0.0.1 until SIGINT/SIGTERM (or,
// with --until-stdin-closes, until its standard input ends).
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "vdevice/control_server.h"
#include "vdevice/device_host.h"

namespace {

// Follows "usage: " and the name the program was started by (it is
// installed as qcsdk-vdevice).
const char kUsage[] =
    " [options] --device SETTINGS [--device SETTINGS ...]\n"
    "Serves virtual devices on 127.0.0.1 and prints one line per device:\n"
    "  device <index> nxl=127.0.0.1:<port> oct=127.0.0.1:<port> number=<group><number>\n"
    "         type=<t> channels=<n> [search=<port>] [okip=<port>] [oct-search=<port>]\n"
    "then 'ready'. Options:\n"
    "  --device SETTINGS       one virtual device (settings below)\n"
    "  --run-directory[=PORT]  run the Nxl directory service on PORT and the OCT one\n"
    "                          on a port the system picks (port 0 or none: the\n"
    "                          system picks both) and register every device; prints\n"
    "                          'directory 127.0.0.1:<port>' and\n"
    "                          'oct-directory 127.0.0.1:<port>'\n"
    "  --directory-port N      register every device with the Nxl directory at\n"
    "                          127.0.0.1:N\n"
    "  --oct-directory-port N  register every device with the OCT directory at\n"
    "                          127.0.0.1:N\n"
    "  --search-port N         answer LAN search probes from loopback on UDP port N\n"
    "                          (0: the system picks; all devices share it)\n"
    "  --okip-port N           answer OKIP broadcasts from loopback on UDP port N\n"
    "  --oct-search-port N     answer OCT search probes sent to 127.255.255.255 on\n"
    "                          UDP port N (0: the system picks; all devices share it)\n"
    "  --control-port N        add devices on request on TCP port N (0: the system\n"
    "                          picks; prints 'control 127.0.0.1:<port>'): each line\n"
    "                          'device SETTINGS' is answered with its device line,\n"
    "                          each 'encode OPTIONS' with an encoded test pattern;\n"
    "                          a connection's devices stop when it closes\n"
    "  --until-stdin-closes    exit when standard input ends\n"
    "  --print-ports           accepted for compatibility (ports are always printed)\n"
    "  --help                  this text\n\n";

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 's';
  [[maybe_unused]] const ssize_t n = write(g_signal_pipe[1], &c, 1);
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// The name the program was started by, without its folder.
const char* Program(const char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<vdevice::DeviceSpec> specs;
  bool runDirectory = false, untilStdin = false;
  int directoryPort = 0, octDirectoryPort = 0, searchPort = -1, okipPort = -1, octSearchPort = -1,
      controlPort = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v, error;
    if (arg == "--help" || arg == "-h") {
      std::printf("usage: %s%s", Program(argv[0]), kUsage);
      std::fputs(vdevice::DeviceSpecHelp(), stdout);
      return 0;
    } else if (arg == "--device" && value(&v)) {
      vdevice::DeviceSpec spec;
      if (!vdevice::ParseDeviceSpec(v, &spec, &error)) {
        std::fprintf(stderr, "vdevice: %s\n", error.c_str());
        return 2;
      }
      specs.push_back(spec);
    } else if (arg == "--run-directory" || StartsWith(arg, "--run-directory=")) {
      runDirectory = true;
      if (arg.size() > 16) directoryPort = std::atoi(arg.c_str() + 16);
    } else if (arg == "--directory-port" && value(&v)) {
      directoryPort = std::atoi(v.c_str());
    } else if (arg == "--oct-directory-port" && value(&v)) {
      octDirectoryPort = std::atoi(v.c_str());
    } else if (arg == "--oct-search-port" && value(&v)) {
      octSearchPort = std::atoi(v.c_str());
    } else if (arg == "--search-port" && value(&v)) {
      searchPort = std::atoi(v.c_str());
    } else if (arg == "--okip-port" && value(&v)) {
      okipPort = std::atoi(v.c_str());
    } else if (arg == "--control-port" && value(&v)) {
      controlPort = std::atoi(v.c_str());
    } else if (arg == "--until-stdin-closes") {
      untilStdin = true;
    } else if (arg == "--print-ports") {
    } else {
      std::fprintf(stderr, "%s: unknown or incomplete option '%s'\nusage: %s%s", Program(argv[0]),
                   arg.c_str(), Program(argv[0]), kUsage);
      return 2;
    }
  }
  if (specs.empty() && controlPort < 0) {
    std::fprintf(stderr, "%s: no --device given\nusage: %s%s", Program(argv[0]), Program(argv[0]),
                 kUsage);
    return 2;
  }
  if (directoryPort < 0 || directoryPort > 65535 || searchPort < -1 || searchPort > 65535 ||
      okipPort < -1 || okipPort > 65535 || octDirectoryPort < 0 || octDirectoryPort > 65535 ||
      octSearchPort < -1 || octSearchPort > 65535 || controlPort > 65535) {
    std::fprintf(stderr, "vdevice: bad port\n");
    return 2;
  }

  // A program of its own: it may own signal handling. Signals only wake the
  // main thread through a pipe.
  if (pipe(g_signal_pipe) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  av_log_set_level(AV_LOG_ERROR);
  vdevice::DeviceHost host;
  if (runDirectory) {
    if (!host.RunDirectory(static_cast<uint16_t>(directoryPort))) {
      std::fprintf(stderr, "vdevice: cannot run the directory on port %d\n", directoryPort);
      return 1;
    }
    std::printf("directory 127.0.0.1:%u\n", host.directory_port());
    std::printf("oct-directory 127.0.0.1:%u\n", host.oct_directory_port());
  } else {
    host.UseDirectory(static_cast<uint16_t>(directoryPort),
                      static_cast<uint16_t>(octDirectoryPort));
  }
  host.EnableDiscovery(searchPort, okipPort);
  host.EnableOctSearch(octSearchPort);
  for (auto& spec : specs) {
    std::string error;
    const int index = host.Add(spec, &error);
    if (index < 0) {
      std::fprintf(stderr, "vdevice: device %zu: %s\n", host.size(), error.c_str());
      return 1;
    }
    std::printf("%s\n", host.Describe(static_cast<size_t>(index)).c_str());
  }
  vdevice::ControlServer control;
  if (controlPort >= 0) {
    std::string error;
    if (!control.Start(static_cast<uint16_t>(controlPort), &error)) {
      std::fprintf(stderr, "vdevice: control port: %s\n", error.c_str());
      return 1;
    }
    std::printf("control 127.0.0.1:%u\n", control.port());
  }
  std::printf("ready\n");
  std::fflush(stdout);

  pollfd fds[2] = {{g_signal_pipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, untilStdin ? 2 : 1, -1);
    if (n < 0) continue;
    if (fds[0].revents) break;
    if (untilStdin && fds[1].revents) {
      char buf[256];
      if (read(STDIN_FILENO, buf, sizeof buf) <= 0) break;
    }
  }
  control.Stop();
  host.Stop();
  std::printf("stopped\n");
  return 0;
}
