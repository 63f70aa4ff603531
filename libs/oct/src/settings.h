// Process-wide settings and registered callbacks of the client library. Both
// are read under a lock and copied out, so callbacks run without any lock.
#pragma once

#include <octc/octc.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace octc {

struct Settings {
  std::string directory_host = "127.0.0.1";
  uint16_t directory_port = 29800;
  std::string search_target = "127.255.255.255";
  uint16_t search_port = 0;  // 0 = the remote port given at service start
  std::string search_local = "127.0.0.1";
  int keepalive_interval_ms = 2000;
  int keepalive_timeout_ms = 10000;
  int request_timeout_ms = 5000;
  int connect_timeout_ms = 5000;
};

struct CallbackSet {
  OctConnCallback conn = nullptr;
  OctNoticeCallback notice = nullptr;
  OctStateCallback stream_state = nullptr;
  OctRecordCallback stream_data = nullptr;
  OctStateCallback vod_state = nullptr;
  OctRecordCallback vod_data = nullptr;
  OctStateCallback down_state = nullptr;
  OctDownDataCallback down_data = nullptr;
  OctStateCallback chat_state = nullptr;
  OctChatDataCallback chat_data = nullptr;
  OctCryptProc encrypt = nullptr;
  OctCryptProc decrypt = nullptr;
};

Settings CurrentSettings();
void UpdateSettings(const Settings& s);
CallbackSet CurrentCallbacks();
// Runs f on the stored callbacks under the lock.
template <typename F>
void EditCallbacks(F f);

std::mutex& CallbackLock();
CallbackSet& CallbackStore();

template <typename F>
void EditCallbacks(F f) {
  std::lock_guard<std::mutex> lock(CallbackLock());
  f(CallbackStore());
}

}  // namespace octc
