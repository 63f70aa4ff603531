// The command line of qcrtsp.
#pragma once

#include <string>
#include <vector>

#include "hostlib/device_source.h"

namespace qcrtsp {

struct MountOption {
  std::string name;  // the path under rtsp://HOST:PORT/
  hostlib::DeviceSource source;
};

struct Options {
  std::string bind = "127.0.0.1";
  int port = 8554;
  std::string user, password;  // both empty: no authentication
  int lingerSeconds = 5;       // the channel stays open this long after its last client
  bool stats = false;          // print per-mount frame latency figures on exit
  std::vector<MountOption> mounts;
};

// Reads argv. Returns -1 when the server should run; otherwise the exit
// status (0 after --help, 2 for a usage error, with the reason on stderr).
int ParseOptions(int argc, char** argv, Options& out);

}  // namespace qcrtsp
