#include "qcsdk/facade/config_dialog.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/os.h"
#include "qcsdk/facade/bytes.h"
#include "qcsdk/facade/cfg_unpack.h"
#include "qcsdk/facade/lifecycle.h"

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

}  // namespace

void CfgLibraryPath(char (&path)[260]) {
  // Cut to 259 characters, as the path area holds no more.
  if (std::snprintf(path, sizeof path, "%s%c%s", g_szModuleDir, os::kPathSeparator,
                    kCfgLibraryName) < 0) {
    path[0] = '\0';
  }
}

uint32_t GetInstalledCfgVersion() {
  char path[260];
  CfgLibraryPath(path);
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
  if (message == nullptr) return;
  char path[260];
  CfgLibraryPath(path);

  const uint32_t size = LoadLe32(message + 4);
  // The size field and the parameter block after it must lie in the message.
  if (size > static_cast<uint32_t>(kTextBufferSize) - 4) return;
  if (size > 4) {
    std::vector<uint8_t> library;
    const uint64_t bits = 8ull * size - 39;
    if (!CfgUnpack(message + 8, size - 4, bits, library)) return;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb+"));
    if (!file) return;
    std::fwrite(library.data(), 1, library.size(), file.get());
  }

  os::SharedLibrary dialog;
  if (!CfgLibraryAllowed(path) || !dialog.Open(path)) return;
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
  g_pfnCmdProc = cmdProc;
  g_pfnExitRCDlg = exitProc;

  uint32_t header = LoadLe32(message);
  header = (header & 0x001FFFFFu) | (static_cast<uint32_t>(dialogValue & 0x7FF) << 21);
  StoreLe32(message, header);
  init(linkId, static_cast<int32_t>(header) >> 21, g_szModuleDir);
  setParam(static_cast<int8_t>((header >> 5) & 0xFF), message + 4 + size);
  doModal();

  g_pfnExitRCDlg = nullptr;
  g_pfnCmdProc = nullptr;
}

}  // namespace qcsdk
