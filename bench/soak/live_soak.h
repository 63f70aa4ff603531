// Many channels streaming live for minutes while the devices cut every link
// after a fixed number of pictures: the channels reconnect and the run
// counts the reconnects and the pictures lost.
#pragma once

#include <string>

#include "soak_options.h"

namespace soak {

// Runs the live soak with its own simulator process and SDK; false with a
// message when it cannot start.
bool RunLive(const Options& options, std::string* error);

}  // namespace soak
