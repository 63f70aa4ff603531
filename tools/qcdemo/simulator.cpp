#include "simulator.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace qcdemo {

Simulator::~Simulator() {
  Stop();
}

bool Simulator::Start(const std::string& program, const std::vector<std::string>& args) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0) return false;
  if (pipe(fromChild) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return false;
  }
  m_pid = fork();
  if (m_pid < 0) return false;
  if (m_pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  m_in = toChild[1];
  FILE* out = fdopen(fromChild[0], "r");
  if (out == nullptr) return false;
  char line[512];
  bool ready = false;
  while (!ready && std::fgets(line, sizeof line, out) != nullptr) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "ready") {
      ready = true;
    } else if (word == "device") {
      SimDevice device;
      while (words >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "nxl") {
          const auto colon = value.rfind(':');
          device.address = value.substr(0, colon);
          device.port = std::atoi(value.c_str() + colon + 1);
        } else if (key == "oct") {
          device.oct_port = std::atoi(value.c_str() + value.rfind(':') + 1);
        } else if (key == "number") {
          device.number = value;
        } else if (key == "type") {
          device.type = std::atoi(value.c_str());
        }
      }
      m_devices.push_back(device);
    }
  }
  // Keep reading its output in the background would need a thread; the
  // simulator prints nothing more until it stops, so the pipe is closed.
  std::fclose(out);
  return ready;
}

void Simulator::Stop() {
  if (m_in >= 0) {
    close(m_in);
    m_in = -1;
  }
  if (m_pid > 0) {
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return;
      }
      usleep(50000);
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    m_pid = -1;
  }
}

}  // namespace qcdemo
