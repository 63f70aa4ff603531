#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace hostlib {

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         bool quietErrors) {
  Stop();
  // Everything the child needs is prepared before fork: only async-signal-safe
  // calls may follow it in a process with threads. The pipes are closed on
  // exec so that no other child inherits them.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) return false;
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return false;
  }
  const int devNull = quietErrors ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
  m_pid = fork();
  if (m_pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    if (devNull >= 0) dup2(devNull, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  if (devNull >= 0) close(devNull);
  m_in = toChild[1];
  m_out = m_pid > 0 ? fdopen(fromChild[0], "r") : nullptr;
  if (m_out == nullptr) {
    close(fromChild[0]);
    Stop(SIGKILL);
    return false;
  }
  return true;
}

bool ChildProcess::ReadLine(std::string& line) {
  line.clear();
  if (m_out == nullptr) return false;
  for (int c = std::fgetc(m_out); c != EOF; c = std::fgetc(m_out)) {
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
  return !line.empty();
}

void ChildProcess::CloseOutput() {
  if (m_out != nullptr) std::fclose(m_out);
  m_out = nullptr;
}

int ChildProcess::Wait(int timeoutMs) {
  int result = -1;
  if (m_pid > 0) {
    int status = 0;
    for (int waited = 0;; waited += 10) {
      const pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r != 0) break;
      if (waited >= timeoutMs) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        break;
      }
      usleep(10000);
    }
    result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_pid = -1;
  }
  if (m_in >= 0) close(m_in);
  m_in = -1;
  CloseOutput();
  return result;
}

int ChildProcess::Stop(int signal) {
  if (m_in >= 0) close(m_in);
  m_in = -1;
  if (m_pid > 0 && signal != 0) kill(m_pid, signal);
  return Wait(5000);
}

std::string SiblingProgram(const std::string& name) {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string dir = ".";
  if (n > 0) {
    dir.assign(path, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/'));
  }
  const std::string built = dir + "/../" + name + "/" + name;
  // Installed, the programs share one folder and carry the SDK's prefix.
  const std::string installed = dir + "/qcsdk-" + name;
  return access(built.c_str(), X_OK) != 0 && access(installed.c_str(), X_OK) == 0 ? installed
                                                                                  : built;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

}  // namespace hostlib
