// A private virtual X server (Xvfb) for running the viewer without a
// display, and for the display tests: it picks a free display number itself
// (so parallel runs never collide) and listens on its local socket only.
#pragma once

#include <string>

#include <signal.h>

#include "hostlib/child_process.h"

namespace hostlib {

class VirtualDisplay {
 public:
  VirtualDisplay() = default;
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  ~VirtualDisplay();

  // Starts a server with one width x height screen of 24-bit colour, with
  // the MIT-SHM extension unless `shm` is false; false, with the reason in
  // `error`, when it does not come up.
  bool Start(int width, int height, std::string& error, bool shm = true);
  // ":N", the value for DISPLAY.
  const std::string& name() const { return m_name; }
  pid_t pid() const { return m_server.pid(); }
  // Ends the server at once, as a crash would.
  void Kill() { m_server.Stop(SIGKILL); }

 private:
  hostlib::ChildProcess m_server;
  std::string m_name;
};

}  // namespace hostlib
