// A configuration dialog library for tests. It appends one line per call to "dialog.log" in the
// module directory it is given; its modal dialog returns at once unless the parameter block asks it
// to wait for ExitRCDlg. While a file "hold" lies in that directory, CmdProc and ExitRCDlg do not
// return: a test keeps a call running inside the library that way.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace {
// Device text can reach CmdProc while InitRCDlg still runs.
std::mutex g_mutex;
std::string g_dir;
std::atomic<bool> g_exit{false};
bool g_wait = false;

void Log(const std::string& line, const char* dir = nullptr) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (dir != nullptr) g_dir = dir;
  if (std::FILE* f = std::fopen((g_dir + "/dialog.log").c_str(), "ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void HoldWhileAsked() {
  std::unique_lock<std::mutex> guard(g_mutex);
  const std::string hold = g_dir + "/hold";
  guard.unlock();
  // stat, not a stream: an open file could not be removed on Windows, and
  // the library stays small enough for a device to send.
  struct stat st;
  for (int i = 0; i < 6000 && ::stat(hold.c_str(), &st) == 0; ++i) {  // 30 s at most
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
}  // namespace

extern "C" {

void InitRCDlg(int32_t linkId, int32_t value, const char* moduleDir) {
  g_exit = false;
  Log("InitRCDlg " + std::to_string(linkId) + " " + std::to_string(value),
      moduleDir != nullptr ? moduleDir : ".");
}

void SetParam(int32_t kind, const void* params) {
  const char* text = static_cast<const char*>(params);
  g_wait = std::string(text).rfind("wait", 0) == 0;
  Log("SetParam " + std::to_string(kind) + " " + text);
}

void* GetParam() {
  return nullptr;
}

int32_t QRemoteCfgDlgDoModal() {
  Log("DoModal");
  for (int i = 0; g_wait && !g_exit && i < 1000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Log("DoModal end");
  return 1;
}

void CmdProc(void* text) {
  Log(std::string("CmdProc ") + (static_cast<const char*>(text) + 4));
  HoldWhileAsked();
}

void ExitRCDlg(int32_t reason) {
  Log("ExitRCDlg " + std::to_string(reason));
  g_exit = true;
  HoldWhileAsked();
}

}  // extern "C"
