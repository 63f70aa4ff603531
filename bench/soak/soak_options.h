// What the soak runs, from its command line (docs/soak.md).
#pragma once

#include <string>

namespace soak {

struct Options {
  int cycles = 2000;                   // connect / stream / disconnect cycles per transport
  int rpc_every = 10;                  // RPC calls in every this many-th cycle
  int rpc_calls = 100;                 // RPC calls in such a cycle
  int report_every = 500;              // cycles between two resource lines
  int live_seconds = 300;              // length of the live run (0: none)
  int live_channels = 64;              // channels of the live run, half over each transport
  int drop_after = 250;                // pictures a device sends on a link before it cuts it
  std::string transports = "nxl,oct";  // transports of the cycles and the live run
};

// Reads --name=value flags; false with a message on a flag it does not know.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

}  // namespace soak
