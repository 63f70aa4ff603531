// A program run as a child process, its standard input and output on pipes:
// the tools start the device simulator, a virtual X server and each other
// this way.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace hostlib {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  // Starts `program` with `args`. Its standard error is ours, or /dev/null
  // when quietErrors. False when it could not be started.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             bool quietErrors = false);
  // The next line of its output, without the line end; false at its end.
  bool ReadLine(std::string& line);
  // Stops reading its output (a later write of its own fails).
  void CloseOutput();
  // Waits up to timeoutMs for it to end, then kills it. Returns its exit
  // status, 128 + the signal that ended it, or -1 when none was running.
  int Wait(int timeoutMs);
  // Closes its input, sends `signal` (none for 0) and waits up to 5 s.
  int Stop(int signal = 0);
  bool running() const { return m_pid > 0; }
  pid_t pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  int m_in = -1;
  std::FILE* m_out = nullptr;
};

// Another program of this build, beside this one's folder:
// <this program's folder>/../<name>/<name>; in an installed tree, where that
// is missing, <this program's folder>/qcsdk-<name>.
std::string SiblingProgram(const std::string& name);

// The full path of `name` found on PATH, or "" when it is not there.
std::string FindProgram(const std::string& name);

}  // namespace hostlib
