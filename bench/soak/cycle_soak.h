// Connect / stream / disconnect cycles of one channel after another over
// one transport, with RPC calls in some of them, printing the process's
// resident memory, open descriptors and threads as they go.
#pragma once

#include <cstdint>
#include <string>

#include "sdk_probe.h"
#include "soak_options.h"

namespace soak {

// Runs options.cycles cycles against the device at 127.0.0.1:port (Nxl, or
// OCT device channel 1) through the initialised SDK of `sdk`; false with a
// message when a cycle fails.
bool RunCycles(bool oct, uint16_t port, const Options& options, qcsdk::bench::SdkProbe& sdk,
               std::string* error);

// One line of resource figures: resident memory, descriptors, threads.
void PrintResources(const char* label);

}  // namespace soak
