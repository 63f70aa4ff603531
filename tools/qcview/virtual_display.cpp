#include "virtual_display.h"

#include <signal.h>

namespace qcview {

VirtualDisplay::~VirtualDisplay() {
  m_server.Stop(SIGTERM);
}

bool VirtualDisplay::Start(int width, int height, std::string& error) {
  const std::string program = hostlib::FindProgram("Xvfb");
  if (program.empty()) {
    error = "Xvfb is not installed (Debian package xvfb)";
    return false;
  }
  // -displayfd: the server takes the first free display number and writes
  // it to our pipe once it accepts connections.
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  if (!m_server.Start(program, {"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"},
                      true)) {
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

}  // namespace qcview
