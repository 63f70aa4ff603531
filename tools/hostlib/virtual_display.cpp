#include "hostlib/virtual_display.h"

#include <signal.h>

namespace hostlib {

VirtualDisplay::~VirtualDisplay() {
  m_server.Stop(SIGTERM);
}

bool VirtualDisplay::Start(int width, int height, std::string& error, bool shm) {
  const std::string program = FindProgram("Xvfb");
  if (program.empty()) {
    error = "Xvfb is not installed (Debian package xvfb)";
    return false;
  }
  // -displayfd: the server takes the first free display number and writes
  // it to our pipe once it accepts connections. -noreset: by default the
  // server resets when its last client leaves, and a client connecting
  // during that reset is dropped, so a window opened right after another
  // closed would fail now and then.
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  std::vector<std::string> args = {"-displayfd", "1",         "-screen", "0",
                                   screen,       "-nolisten", "tcp",     "-noreset"};
  if (!shm) args.insert(args.end(), {"-extension", "MIT-SHM"});
  if (!m_server.Start(program, args, true)) {
    error = "Xvfb did not start";
    return false;
  }
  std::string line;
  if (!m_server.ReadLine(line) || line.empty()) {
    m_server.Stop(SIGTERM);
    error = "Xvfb did not come up";
    return false;
  }
  m_server.CloseOutput();
  m_name = ":" + line;
  return true;
}

}  // namespace hostlib
