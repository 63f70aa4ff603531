// The bridge to the device configuration dialog library: its version stamp,
// installing a copy a device sends, and running its modal dialog.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/os.h"

namespace qcsdk {

constexpr int32_t kTextBufferSize = 0x30004;  // 196,612 bytes
constexpr const char* kCfgLibraryName = "IPCamCfg.dll";

using CfgCmdProc = void (*)(void* text);
using CfgExitProc = void (*)(int32_t reason);

// Set exactly while a dialog runs. The Nxl callbacks call them only through
// PassTextToDialog and ExitDialog, which keep the library loaded meanwhile.
extern std::atomic<CfgCmdProc> g_pfnCmdProc;
extern std::atomic<CfgExitProc> g_pfnExitRCDlg;

// Path of the dialog library in the host executable's directory. False (no
// library, no dialog) when that directory is unknown or the path does not
// fit in 259 characters.
bool CfgLibraryPath(char (&path)[260]);

// Hands `text` to the open dialog's command entry point on `worker`, a
// thread not yet started. False when no dialog is open. The dialog's library
// stays loaded until the call has returned (text is dropped when no thread
// could be started).
bool PassTextToDialog(os::Thread& worker, std::vector<uint8_t> text);

// Calls the open dialog's exit entry point with `reason`; false when no
// dialog is open. The library stays loaded until the call has returned.
bool ExitDialog(int32_t reason);

// The last four bytes of the installed library (little-endian), 0 when
// there is none; of a shorter file, the bytes it has.
uint32_t GetInstalledCfgVersion();

// Whether the library at path, or the library `library`, may be loaded:
// always without an allow-list (QCSDK_SetCfgDialogDigests), otherwise only
// when its SHA-256 digest is listed.
bool CfgLibraryAllowed(const char* path);
bool CfgLibraryAllowed(const std::vector<uint8_t>& library);

// Installs the library the device sent (if any), loads it and runs its
// dialog to the end on this thread. A device's library is checked against
// the allow-list before it is written, and written beside the installed one
// then renamed into its place. `message` is the caller's own copy of the
// channel's 196,612-byte text buffer; its header word is rewritten with the
// dialog value. Returns without a dialog when the module directory is
// unknown, the library is refused, or it or one of its entry points is
// missing, or the device's library cannot be unpacked or written. Returns
// after the dialog only when no call into its library runs any more.
void RunRemoteConfigDialog(int32_t linkId, uint8_t* message, int32_t dialogValue);

}  // namespace qcsdk
