// A private virtual X server (Xvfb) for running the viewer without a
// display: it picks a free display number itself and listens on its local
// socket only.
#pragma once

#include <string>

#include "hostlib/child_process.h"

namespace qcview {

class VirtualDisplay {
 public:
  VirtualDisplay() = default;
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;
  ~VirtualDisplay();

  // Starts a server with one width x height screen of 24-bit colour; false,
  // with the reason in `error`, when it does not come up.
  bool Start(int width, int height, std::string& error);
  // ":N", the value for DISPLAY.
  const std::string& name() const { return m_name; }

 private:
  hostlib::ChildProcess m_server;
  std::string m_name;
};

}  // namespace qcview
