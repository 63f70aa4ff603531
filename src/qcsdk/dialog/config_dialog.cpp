#include "qcsdk/dialog/config_dialog.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os.h"
#include "qcsdk/base/bytes.h"
#include "qcsdk/base/module_dir.h"
#include "qcsdk/base/nocopyable.h"
#include "qcsdk/dialog/cfg_unpack.h"

namespace qcsdk {

std::atomic<CfgCmdProc> g_pfnCmdProc{nullptr};
std::atomic<CfgExitProc> g_pfnExitRCDlg{nullptr};

namespace {

using InitRCDlgProc = void (*)(int32_t linkId, int32_t dialogValue, const char* moduleDir);
using SetParamProc = void (*)(int32_t kind, const void* params);
using GetParamProc = void* (*)();
using DoModalProc = int32_t (*)();

// The four entry points that only the running dialog uses keep their last
// values, as the two shared ones are cleared when a dialog ends.
std::atomic<InitRCDlgProc> g_pfnInitRCDlg{nullptr};
std::atomic<SetParamProc> g_pfnSetParam{nullptr};
std::atomic<GetParamProc> g_pfnGetParam{nullptr};
std::atomic<DoModalProc> g_pfnRemoteCfgDlgDoModal{nullptr};

template <class Fn>
Fn Resolve(const os::SharedLibrary& library, const char* name) {
  return reinterpret_cast<Fn>(library.Symbol(name));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Calls into the open dialog's library from other threads (command workers,
// exit calls) are counted, so that the library is unloaded only when none
// runs any more.
std::mutex g_callLock;
std::condition_variable g_callsDone;
int g_callsRunning = 0;  // guarded by g_callLock

// One call into the open dialog's library, counted from the moment its entry
// point is read until this object goes; empty when no dialog is open.
template <class Fn>
class DialogCall : asl::NoCopyable {
 public:
  explicit DialogCall(const std::atomic<Fn>& entry) {
    std::lock_guard<std::mutex> guard(g_callLock);
    m_fn = entry.load();
    if (m_fn != nullptr) ++g_callsRunning;
  }
  ~DialogCall() {
    if (m_fn == nullptr) return;
    {
      std::lock_guard<std::mutex> guard(g_callLock);
      --g_callsRunning;
    }
    g_callsDone.notify_all();
  }
  Fn get() const { return m_fn; }

 private:
  Fn m_fn = nullptr;
};

// Writes the library under a name of its own beside the installed one, then
// puts it in the installed one's place in one step: a dialog that has the old
// file mapped keeps it whole, and a failed write leaves the old file as it
// was. Nothing stays behind when a step fails.
bool InstallLibrary(const char* path, const std::vector<uint8_t>& library) {
  // Distinct for every install of this process, and unlikely to meet another
  // process's name.
  static std::atomic<uint32_t> s_installs{0};
  const uint64_t token =
      os::TickCount64() ^ (uint64_t{s_installs++} << 40) ^ reinterpret_cast<uintptr_t>(&library);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(token));
  const std::string temporary = std::string(path) + suffix;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temporary.c_str(), "wb"));
  if (!file) return false;
  const bool written = std::fwrite(library.data(), 1, library.size(), file.get()) == library.size();
  if (std::fclose(file.release()) == 0 && written && os::RenameOver(temporary.c_str(), path)) {
    return true;
  }
  os::RemoveFile(temporary.c_str());
  return false;
}

}  // namespace

bool CfgLibraryPath(char (&path)[260]) {
  // Without a module directory (the executable's path did not fit its
  // buffer) the library has no place: the path would name the filesystem's
  // root. A path cut to the 259 characters the area holds would name another
  // file.
  if (g_szModuleDir[0] == '\0') return false;
  const int length = std::snprintf(path, sizeof path, "%s%c%s", g_szModuleDir, os::kPathSeparator,
                                   kCfgLibraryName);
  return length > 0 && length < static_cast<int>(sizeof path);
}

bool PassTextToDialog(os::Thread& worker, std::vector<uint8_t> text) {
  auto call = std::make_shared<DialogCall<CfgCmdProc>>(g_pfnCmdProc);
  if (call->get() == nullptr) return false;
  // The worker's body holds the call until it is destroyed after the body
  // has run (or here, when no thread could be started).
  worker.Start([call, text = std::move(text)]() mutable { call->get()(text.data()); });
  return true;
}

bool ExitDialog(int32_t reason) {
  const DialogCall<CfgExitProc> call(g_pfnExitRCDlg);
  if (call.get() == nullptr) return false;
  call.get()(reason);
  return true;
}

uint32_t GetInstalledCfgVersion() {
  char path[260];
  if (!CfgLibraryPath(path)) return 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return 0;
  // A file shorter than four bytes cannot be positioned before its end: the
  // read then starts at the beginning and fills what it can of the value.
  uint8_t stamp[4] = {};
  std::fseek(file.get(), -4, SEEK_END);
  if (std::fread(stamp, 1, sizeof stamp, file.get()) == 0) return 0;
  return LoadLe32(stamp);
}

void RunRemoteConfigDialog(int32_t linkId, uint8_t* message, int32_t dialogValue) {
  char path[260];
  if (message == nullptr || !CfgLibraryPath(path)) return;

  const uint32_t size = LoadLe32(message + 4);
  // The size field and the parameter block after it must lie in the message.
  if (size > static_cast<uint32_t>(kTextBufferSize) - 4) return;
  if (size > 4) {
    // The device's library passes the host's allow-list before anything is
    // written: a refused one never replaces the installed file.
    std::vector<uint8_t> library;
    const uint64_t bits = 8ull * size - 39;
    if (!CfgUnpack(message + 8, size - 4, bits, library) || !CfgLibraryAllowed(library) ||
        !InstallLibrary(path, library)) {
      return;
    }
  } else if (!CfgLibraryAllowed(path)) {
    return;
  }

  os::SharedLibrary dialog;
  if (!dialog.Open(path)) return;
  auto init = Resolve<InitRCDlgProc>(dialog, "InitRCDlg");
  auto setParam = Resolve<SetParamProc>(dialog, "SetParam");
  auto getParam = Resolve<GetParamProc>(dialog, "GetParam");
  auto doModal = Resolve<DoModalProc>(dialog, "QRemoteCfgDlgDoModal");
  auto cmdProc = Resolve<CfgCmdProc>(dialog, "CmdProc");
  auto exitProc = Resolve<CfgExitProc>(dialog, "ExitRCDlg");
  if (!init || !setParam || !getParam || !doModal || !cmdProc || !exitProc) return;
  g_pfnInitRCDlg = init;
  g_pfnSetParam = setParam;
  g_pfnGetParam = getParam;
  g_pfnRemoteCfgDlgDoModal = doModal;
  {
    std::lock_guard<std::mutex> guard(g_callLock);
    g_pfnCmdProc = cmdProc;
    g_pfnExitRCDlg = exitProc;
  }

  uint32_t header = LoadLe32(message);
  header = (header & 0x001FFFFFu) | (static_cast<uint32_t>(dialogValue & 0x7FF) << 21);
  StoreLe32(message, header);
  init(linkId, static_cast<int32_t>(header) >> 21, g_szModuleDir);
  setParam(static_cast<int8_t>((header >> 5) & 0xFF), message + 4 + size);
  doModal();

  // No call into the library starts after this, and the library is unloaded
  // (at the end of this scope) only when the calls that did start, command
  // workers and exit calls on other threads, have returned.
  std::unique_lock<std::mutex> lock(g_callLock);
  g_pfnExitRCDlg = nullptr;
  g_pfnCmdProc = nullptr;
  g_callsDone.wait(lock, [] { return g_callsRunning == 0; });
}

}  // namespace qcsdk
