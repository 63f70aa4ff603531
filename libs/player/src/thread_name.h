// Names a thread of the player so that it can be told apart in a debugger
// and in the system's thread lists. The name is set before this returns.
#pragma once

#include <thread>

namespace qvsp {

void NameThread(std::thread& thread, const char* name);

}  // namespace qvsp
