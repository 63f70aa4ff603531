// Set-up and release of the OCT library for the whole SDK.
#pragma once

namespace qcsdk {

// Initialises the library, its log and encryption, registers the callbacks
// and starts the connection workers. False at the first failed step (what
// was set up stays).
bool InitOct(const char* szTmpDir, const char* szLogDir);
// Stops the workers and releases the modules and the library.
void ReleaseOct();

// The two connection workers (stepping, disconnection).
bool StartOctWorkers();
void StopOctWorkers();

}  // namespace qcsdk
