// Winsock for this module: started at the first socket call and left
// running. Its cleanup must not run while the module unloads (the loader
// lock is held then), and the end of the process releases it.
#pragma once

namespace netio {

// False when Winsock could not be started (no socket call can work then).
bool StartWinsock();

}  // namespace netio
