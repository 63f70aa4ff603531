#include <pthread.h>
#include <windows.h>

#include <string>

#include "thread_name.h"

namespace qvsp {

// The thread's description, where the system has SetThreadDescription (it
// is looked up: older systems lack it, and then the thread stays unnamed).
void NameThread(std::thread& thread, const char* name) {
  using Set = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set = reinterpret_cast<Set>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  auto* handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
  if (set == nullptr || handle == nullptr) return;
  const std::string narrow(name);
  set(handle, std::wstring(narrow.begin(), narrow.end()).c_str());
}

}  // namespace qvsp
