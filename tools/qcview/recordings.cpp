#include "recordings.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace qcview {

std::vector<Recording> ReadRecordings(const char* data, int32_t count) {
  std::vector<Recording> list;
  for (int32_t i = 0; data != nullptr && i < count; ++i) {
    const char* entry = data + static_cast<std::size_t>(i) * QCSDK_REC_ENTRY_SIZE;
    Recording r;
    std::memcpy(&r.index, entry, 4);
    std::memcpy(&r.kind, entry + 4, 4);
    r.name.assign(entry + 16, strnlen(entry + 16, 2048));
    if (r.name.empty()) r.name.assign(entry + 8, strnlen(entry + 8, 8));
    list.push_back(r);
  }
  return list;
}

namespace {

std::tm Day(int offset) {
  // Noon steps whole days across daylight-saving changes.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = 12;
  local.tm_min = local.tm_sec = 0;
  local.tm_mday += offset;
  local.tm_isdst = -1;
  now = std::mktime(&local);
  localtime_r(&now, &local);
  return local;
}

}  // namespace

std::array<int32_t, 6> DayQuery(int offset) {
  const std::tm d = Day(offset);
  return {d.tm_year + 1900, d.tm_mon + 1, d.tm_mday, d.tm_year + 1900, d.tm_mon + 1, d.tm_mday};
}

std::string DayText(int offset) {
  const std::tm d = Day(offset);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &d);
  return text;
}

std::string Duration(int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

std::string PlaybackState::Text(const StreamInfo& info) const {
  std::string text = "PLAY " + name;
  if (info.frameRateNum > 0 && info.frameRateDen > 0) {
    const double fps = static_cast<double>(info.frameRateNum) / info.frameRateDen;
    text += " " + Duration(static_cast<int64_t>(info.framesReceived / fps)) + "/" +
            Duration(static_cast<int64_t>(info.totalFrames / fps + 0.5));
  }
  if (speed != 0)
    text += speed > 0 ? " x" + std::to_string(1 << speed) : " x1/" + std::to_string(1 << -speed);
  if (paused) text += " paused";
  return text;
}

}  // namespace qcview
