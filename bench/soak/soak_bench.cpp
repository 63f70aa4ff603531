// The soak: thousands of connect / stream / disconnect cycles over each
// transport with RPC calls, watching resident memory, descriptors and
// threads, then a live run of many channels whose links the devices keep
// cutting, counting reconnects and lost pictures. The devices run in a
// simulator process, so the figures are the client's alone. Flags:
//   --cycles=N --rpc-every=N --rpc-calls=N --report-every=N
//   --transports=nxl,oct --live-seconds=S --live-channels=N --drop-after=N
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cycle_soak.h"
#include "live_soak.h"
#include "sdk_probe.h"
#include "simulator_process.h"
#include "soak_options.h"

namespace soak {

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  struct Flag {
    const char* name;
    int* value;
  };
  const Flag flags[] = {{"--cycles=", &o->cycles},
                        {"--rpc-every=", &o->rpc_every},
                        {"--rpc-calls=", &o->rpc_calls},
                        {"--report-every=", &o->report_every},
                        {"--live-seconds=", &o->live_seconds},
                        {"--live-channels=", &o->live_channels},
                        {"--drop-after=", &o->drop_after}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool known = false;
    for (const Flag& f : flags) {
      if (arg.rfind(f.name, 0) == 0) {
        *f.value = std::atoi(arg.c_str() + std::strlen(f.name));
        known = true;
      }
    }
    if (arg.rfind("--transports=", 0) == 0) {
      o->transports = arg.substr(std::strlen("--transports="));
      known = true;
    }
    if (!known) return *error = "unknown flag " + arg, false;
  }
  if (o->cycles < 0 || o->rpc_every < 0 || o->rpc_calls < 0 || o->report_every < 1 ||
      o->live_seconds < 0 || o->live_channels < 2 || o->live_channels > 512 || o->drop_after < 1) {
    return *error = "a flag is out of range", false;
  }
  return true;
}

}  // namespace soak

int main(int argc, char** argv) {
  soak::Options options;
  std::string error;
  if (!soak::ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
    return 2;
  }
  if (options.cycles > 0) {
    qcsdk::bench::SimulatorProcess simulator;
    if (!simulator.Start({"password=secret,width=160,height=120,fps=25"}, &error)) {
      std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
      return 1;
    }
    qcsdk::bench::SdkProbe sdk;
    for (const bool oct : {false, true}) {
      if (options.transports.find(oct ? "oct" : "nxl") == std::string::npos) continue;
      const uint16_t port = oct ? simulator.oct_ports()[0] : simulator.nxl_ports()[0];
      if (!sdk.ok() || !soak::RunCycles(oct, port, options, sdk, &error)) {
        std::fprintf(stderr, "soak_bench: %s\n", sdk.ok() ? error.c_str() : "no SDK");
        return 1;
      }
    }
  }
  if (options.live_seconds > 0 && !soak::RunLive(options, &error)) {
    std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
