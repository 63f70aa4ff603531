#include "hostile_options.h"

#include <cstdlib>
#include <cstring>

namespace hostile {

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  struct Flag {
    const char* name;
    int* value;
    int min, max;
  };
  const Flag flags[] = {{"--lanes=", &o->lanes, 1, 64},
                        {"--links=", &o->links, 1, 1000},
                        {"--first-seed=", &o->first_seed, 1, 0x7FFFFFF},
                        {"--fps=", &o->fps, 1, 120},
                        {"--minutes=", &o->minutes, 1, 24 * 60},
                        {"--stall-seconds=", &o->stall_seconds, 1, 3600},
                        {"--hang-seconds=", &o->hang_seconds, 1, 3600},
                        {"--rss-limit-mb=", &o->rss_limit_mb, 64, 1 << 20}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool known = false;
    for (const Flag& f : flags) {
      if (arg.rfind(f.name, 0) != 0) continue;
      const long long v = std::atoll(arg.c_str() + std::strlen(f.name));
      if (v < f.min || v > f.max) return *error = "out of range: " + arg, false;
      *f.value = static_cast<int>(v);
      known = true;
    }
    if (arg.rfind("--messages=", 0) == 0) {
      const long long v = std::atoll(arg.c_str() + std::strlen("--messages="));
      if (v < 1) return *error = "out of range: " + arg, false;
      o->messages = static_cast<uint64_t>(v);
      known = true;
    } else if (arg.rfind("--transports=", 0) == 0) {
      o->transports = arg.substr(std::strlen("--transports="));
      known = o->transports.find("nxl") != std::string::npos ||
              o->transports.find("oct") != std::string::npos;
    } else if (arg.rfind("--sdk-log=", 0) == 0) {
      o->sdk_log = arg.substr(std::strlen("--sdk-log="));
      known = true;
    }
    if (!known) return *error = "unknown flag " + arg, false;
  }
  return true;
}

}  // namespace hostile
