// The simulator as a child process: spawned with pipes on its standard input
// and output; it prints one line per device, then "ready".
#include "simulator_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern char** environ;

#ifndef QCSDK_VDEVICE_PROGRAM
#define QCSDK_VDEVICE_PROGRAM "vdevice"
#endif

namespace qcsdk::bench {

SimulatorProcess::~SimulatorProcess() {
  if (stdin_ >= 0) ::close(stdin_);
  if (pid_ > 0) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

bool SimulatorProcess::Start(const std::vector<std::string>& devices, std::string* error,
                             bool idle) {
  std::vector<std::string> args;
  if (idle) args = {"/usr/bin/chrt", "--idle", "0"};
  args.push_back(QCSDK_VDEVICE_PROGRAM);
  args.push_back("--until-stdin-closes");
  for (const auto& d : devices) {
    args.push_back("--device");
    args.push_back(d);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    *error = "pipe failed";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  stdin_ = in[1];
  if (rc != 0) {
    pid_ = -1;
    ::close(out[0]);
    *error = std::string("cannot start the simulator: ") + std::strerror(rc);
    return false;
  }
  std::FILE* lines = ::fdopen(out[0], "r");
  char line[512];
  while (lines && std::fgets(line, sizeof line, lines)) {
    unsigned index = 0, port = 0;
    if (std::sscanf(line, "device %u nxl=127.0.0.1:%u", &index, &port) == 2) {
      nxl_ports_.push_back(static_cast<uint16_t>(port));
      const char* oct = std::strstr(line, " oct=127.0.0.1:");
      unsigned octPort = 0;
      if (oct != nullptr) std::sscanf(oct, " oct=127.0.0.1:%u", &octPort);
      oct_ports_.push_back(static_cast<uint16_t>(octPort));
    }
    if (std::strncmp(line, "ready", 5) == 0) break;
  }
  if (lines) std::fclose(lines);
  if (nxl_ports_.size() != devices.size()) {
    *error = "the simulator did not report every device";
    return false;
  }
  return true;
}

}  // namespace qcsdk::bench
