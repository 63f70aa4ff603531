// record and snapshot: the live stream into a file.
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "commands.h"
#include "hostlib/png_writer.h"
#include "names.h"

namespace qcctl {

std::string Extension(const std::string& file) {
  std::string ext = std::filesystem::path(file).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

namespace {

int Written(const Invocation& call, const std::string& file, const std::string& what) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size == 0) return Fail(kFailed, what + ": nothing was written to " + file);
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "file", file.c_str());
    cJSON_AddNumberToObject(doc.get(), "bytes", static_cast<double>(size));
    call.out.Json(doc.get());
  } else {
    call.out.Line(file + ": " + std::to_string(size) + " bytes");
  }
  return kOk;
}

}  // namespace

int RunRecord(const Invocation& call) {
  long seconds = 0;
  if (!ParseInt(call.args[1], seconds) || seconds < 1 || seconds > 86400) {
    return Fail(kUsage, "record: SECONDS is a number from 1 to 86400");
  }
  const std::string& file = call.args[2];
  SdkSession sdk;
  if (const int code = ConnectTo(sdk, call, call.args[0]); code != kOk) return code;
  const std::string what = "record " + sdk.label();
  StreamInfo info{};
  QCSDK_GetStreamInfo(sdk.channel(), &info);
  const std::string wanted = RecordingExtension(info.recordingKind);
  if (!wanted.empty() && Extension(file) != wanted) {
    return Fail(kUsage, what + ": this stream records as " + wanted + "; name the file *" + wanted);
  }
  if (QCSDK_StartRec(sdk.channel(), file.c_str()) != 1) {
    return Fail(kFailed, what + ": not started (QCSDK_StartRec returned 0)");
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  const int code = sdk.Wait([&](const Reports&) { return std::chrono::steady_clock::now() >= end; },
                            static_cast<int>(seconds) * 1000 + call.timeoutMs, what);
  QCSDK_StopRec(sdk.channel());
  return code != kOk ? code : Written(call, file, what);
}

int RunSnapshot(const Invocation& call) {
  const std::string& file = call.args[1];
  const std::string ext = Extension(file);
  if (ext != ".png" && ext != ".bmp") return Fail(kUsage, "snapshot: FILE ends in .png or .bmp");
  SdkSession sdk;
  if (const int code = ConnectTo(sdk, call, call.args[0]); code != kOk) return code;
  const std::string what = "snapshot " + sdk.label();
  if (QCSDK_EnableDecoder(sdk.channel(), 1) != 1) {
    return Fail(kFailed, what + ": no decoder (QCSDK_EnableDecoder returned 0)");
  }
  const int code = sdk.Wait([](const Reports& r) { return r.decoded > 0; }, call.timeoutMs,
                            what + ": waiting for a decoded picture");
  if (code != kOk) return code;
  if (ext == ".bmp") {
    if (QCSDK_SaveBitmap(sdk.channel(), file.c_str()) != 1) {
      return Fail(kFailed, what + ": QCSDK_SaveBitmap returned 0");
    }
    return Written(call, file, what);
  }
  uint8_t* pixels = nullptr;
  int32_t width = 0, height = 0;
  if (QCSDK_SaveBitmapToBuffer(sdk.channel(), &pixels, &width, &height) != 1) {
    return Fail(kFailed, what + ": QCSDK_SaveBitmapToBuffer returned 0");
  }
  const bool written = hostlib::WritePng(file, pixels, width, height);
  QCSDK_FreeBitmapBuffer(pixels);
  if (!written) return Fail(kFailed, what + ": cannot write " + file);
  return Written(call, file, what);
}

}  // namespace qcctl
