// The bridge to the device configuration dialog library: its version stamp,
// installing a copy a device sends, and running its modal dialog.
#pragma once

#include <atomic>
#include <cstdint>

namespace qcsdk {

constexpr int32_t kTextBufferSize = 0x30004;  // 196,612 bytes
constexpr const char* kCfgLibraryName = "IPCamCfg.dll";

using CfgCmdProc = void (*)(void* text);
using CfgExitProc = void (*)(int32_t reason);

// Set exactly while a dialog runs; the Nxl callbacks feed it device text
// and close it through them.
extern std::atomic<CfgCmdProc> g_pfnCmdProc;
extern std::atomic<CfgExitProc> g_pfnExitRCDlg;

// Path of the dialog library in the host executable's directory.
void CfgLibraryPath(char (&path)[260]);

// The last four bytes of the installed library (little-endian), 0 when
// there is none; of a shorter file, the bytes it has.
uint32_t GetInstalledCfgVersion();

// Whether the library at path may be loaded: always without an allow-list
// (QCSDK_SetCfgDialogDigests), otherwise only when its SHA-256 digest is
// listed.
bool CfgLibraryAllowed(const char* path);

// Installs the library the device sent (if any), loads it and runs its
// dialog to the end on this thread. `message` is the caller's own copy of
// the channel's 196,612-byte text buffer; its header word is rewritten with
// the dialog value. Returns without a dialog when the library or one of its
// entry points is missing, or the device's library cannot be unpacked or
// written.
void RunRemoteConfigDialog(int32_t linkId, uint8_t* message, int32_t dialogValue);

}  // namespace qcsdk
