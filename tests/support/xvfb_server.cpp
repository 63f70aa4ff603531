#include "support/xvfb_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qcsdk::test {

std::unique_ptr<XvfbServer> XvfbServer::Start(int width, int height, bool shm) {
  int ready[2];
  if (pipe(ready) != 0) return nullptr;
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const std::string fd = std::to_string(ready[1]);
  std::vector<std::string> args = {"Xvfb", "-displayfd", fd,          "-screen",
                                   "0",    screen,       "-nolisten", "tcp"};
  if (!shm) args.insert(args.end(), {"-extension", "MIT-SHM"});
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(ready[1]);
  if (pid < 0) {
    close(ready[0]);
    return nullptr;
  }
  // The server writes its display number once it accepts connections.
  std::string number;
  for (;;) {
    pollfd p{ready[0], POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    char c = 0;
    if (read(ready[0], &c, 1) != 1 || c == '\n') break;
    number.push_back(c);
  }
  close(ready[0]);
  auto server = std::make_unique<XvfbServer>(pid, ":" + number);
  if (number.empty()) return nullptr;  // the destructor ends the child
  return server;
}

XvfbServer::~XvfbServer() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  waitpid(m_pid, nullptr, 0);
}

void XvfbServer::Kill() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
  m_pid = -1;
}

}  // namespace qcsdk::test
