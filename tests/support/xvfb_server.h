// A private virtual X server for tests that draw: started on a display
// number the server picks itself (so parallel tests never collide), ended
// with the test.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace qcsdk::test {

class XvfbServer {
 public:
  // Empty when Xvfb is not installed or does not come up. `shm` false starts
  // it without the MIT-SHM extension.
  static std::unique_ptr<XvfbServer> Start(int width = 1280, int height = 720, bool shm = true);
  XvfbServer(pid_t pid, std::string display) : m_pid(pid), m_display(std::move(display)) {}
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", for DISPLAY.
  const std::string& Display() const { return m_display; }
  pid_t Pid() const { return m_pid; }
  // Ends the server at once, as a crash would.
  void Kill();

 private:
  pid_t m_pid;
  std::string m_display;
};

}  // namespace qcsdk::test
