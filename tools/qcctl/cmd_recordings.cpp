// list and download: the device's recordings.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "commands.h"
#include "names.h"

namespace qcctl {
namespace {

using Dates = std::array<int32_t, 6>;  // from year, month, day, to year, month, day

// FROM and TO from args[first..] ("YYYY-MM-DD"); today when left out.
bool ParseDates(const std::vector<std::string>& args, std::size_t first, Dates& dates) {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  dates = {today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, 0, 0, 0};
  for (std::size_t i = 0; i < 2 && first + i < args.size(); ++i) {
    int y = 0, m = 0, d = 0;
    char end = 0;
    if (std::sscanf(args[first + i].c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &end) != 3 || m < 1 ||
        m > 12 || d < 1 || d > 31) {
      return false;
    }
    dates[i * 3] = y, dates[i * 3 + 1] = m, dates[i * 3 + 2] = d;
  }
  if (first + 1 >= args.size()) std::copy(dates.begin(), dates.begin() + 3, dates.begin() + 3);
  return true;
}

// Connects and fetches the list of the dates in args[first..].
int FetchList(SdkSession& sdk, const Invocation& call, std::size_t first) {
  Dates dates{};
  if (!ParseDates(call.args, first, dates)) {
    return Fail(kUsage, call.command + ": dates are YYYY-MM-DD");
  }
  if (const int code = ConnectTo(sdk, call, call.args[0]); code != kOk) return code;
  const std::string what = call.command + " " + sdk.label();
  if (QCSDK_GetRemoteRecFileList(sdk.channel(), dates.data()) != 1) {
    return Fail(kFailed, what + ": the list request was not sent (QCSDK_GetRemoteRecFileList)");
  }
  const int code = sdk.Wait([](const Reports& r) { return r.listDone; }, call.timeoutMs, what);
  if (code != kOk) return code;
  if (sdk.Locked([](Reports& r) { return r.listFailed; })) {
    return Fail(kFailed, what + ": the device refused the list (event 11)");
  }
  return kOk;
}

void DrawProgress(int32_t progress) {
  const int filled = progress * 40 / 10000;
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
               std::string(40 - filled, ' ').c_str(), progress / 100);
}

}  // namespace

int RunList(const Invocation& call) {
  SdkSession sdk;
  if (const int code = FetchList(sdk, call, 1); code != kOk) return code;
  const std::vector<RecEntry> list = sdk.Locked([](Reports& r) { return r.list; });
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateArray());
    for (const RecEntry& e : list) {
      cJSON* item = cJSON_CreateObject();
      cJSON_AddNumberToObject(item, "index", e.index);
      cJSON_AddStringToObject(item, "format", RecordingExtension(e.kind).c_str());
      cJSON_AddStringToObject(item, "name", e.name.c_str());
      cJSON_AddStringToObject(item, "file", e.file.c_str());
      cJSON_AddStringToObject(item, "path", e.path.c_str());
      cJSON_AddItemToArray(doc.get(), item);
    }
    call.out.Json(doc.get());
  } else {
    std::vector<std::vector<std::string>> rows;
    for (const RecEntry& e : list) {
      rows.push_back({std::to_string(e.index), RecordingExtension(e.kind), e.name, e.file, e.path});
    }
    call.out.Table({"INDEX", "FORMAT", "NAME", "FILE", "PATH"}, rows);
  }
  return kOk;
}

int RunDownload(const Invocation& call) {
  long index = 0;
  if (!ParseInt(call.args[1], index) || index < 0) {
    return Fail(kUsage, "download: INDEX is a number from 0 ('qcctl list' shows them)");
  }
  SdkSession sdk;
  if (const int code = FetchList(sdk, call, 3); code != kOk) return code;
  const std::string& file = call.args[2];
  const std::string what = "download " + std::to_string(index) + " from " + sdk.label();
  const std::size_t count = sdk.Locked([](Reports& r) { return r.list.size(); });
  if (static_cast<std::size_t>(index) >= count) {
    return Fail(kFailed, what + ": the list holds " + std::to_string(count) + " recordings");
  }
  if (QCSDK_DownloadRemoteFile(sdk.channel(), static_cast<int32_t>(index), file.c_str()) != 1) {
    return Fail(kFailed, what + ": not started (QCSDK_DownloadRemoteFile returned 0)");
  }
  // The time-out applies to silence: every progress report restarts it.
  const bool bar = isatty(STDERR_FILENO) != 0;
  int32_t seen = -1;
  int code = kTimeout;
  for (;;) {
    code =
        sdk.Wait([&](const Reports& r) { return r.downloadEnd >= 0 || r.downloadProgress != seen; },
                 call.timeoutMs, what);
    if (code != kOk) break;
    const auto [end, progress] =
        sdk.Locked([](Reports& r) { return std::pair(r.downloadEnd, r.downloadProgress); });
    if (bar) DrawProgress(end == QCSDK_DOWNLOAD_END_1 ? 10000 : progress);
    if (end >= 0) break;
    seen = progress;
  }
  if (bar) std::fputc('\n', stderr);
  if (code != kOk) return code;
  const int32_t end = sdk.Locked([](Reports& r) { return r.downloadEnd; });
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (end != QCSDK_DOWNLOAD_END_1) {
    return Fail(kFailed,
                what + ": ended with code " + std::to_string(end) + " (download callback)");
  }
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "file", file.c_str());
    cJSON_AddNumberToObject(doc.get(), "bytes", error ? 0.0 : static_cast<double>(size));
    call.out.Json(doc.get());
  } else {
    call.out.Line(file + ": " + std::to_string(error ? 0 : size) + " bytes");
  }
  return kOk;
}

}  // namespace qcctl
