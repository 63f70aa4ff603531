// What the hostile bench runs, from its command line (docs/hostile.md).
#pragma once

#include <cstdint>
#include <string>

namespace hostile {

struct Options {
  uint64_t messages = 1000000;  // mutated messages per transport before the run stops
  int lanes = 16;               // hostile channels of each transport at a time
  int links = 3;                // links per seed: a connect and this many - 1 reconnects
  int first_seed = 1;           // seeds first_seed, first_seed + 1, ... on each transport
  int fps = 120;                // pictures a second of the hostile devices
  int minutes = 90;             // the run stops after this long, target reached or not
  int stall_seconds = 30;       // a normal channel without a new frame this long: a finding
  int hang_seconds = 60;        // an export, a connect or an end this late: a finding
  int rss_limit_mb = 4096;      // resident memory beyond this: a finding
  std::string transports = "nxl,oct";
  std::string sdk_log;  // where the SDK's standard output goes (empty: discarded)
};

// Reads --name=value flags; false with a message on a flag it does not know.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

}  // namespace hostile
