#include "event_line.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qcrtsp {

void EventLine(const std::string& text) {
  static std::mutex mutex;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  std::lock_guard<std::mutex> guard(mutex);
  std::printf("%02d:%02d:%02d.%03d %s\n", local.tm_hour, local.tm_min, local.tm_sec,
              static_cast<int>(ms.count()), text.c_str());
  std::fflush(stdout);
}

}  // namespace qcrtsp
