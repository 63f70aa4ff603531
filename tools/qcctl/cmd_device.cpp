// info and rpc: the device's description and any of its RPC methods.
#include <cerrno>
#include <cstdlib>

#include "commands.h"
#include "names.h"

namespace qcctl {
namespace {

// The catalogue index of an RPC method, or -1.
int32_t MethodIndex(const std::string& name) {
  for (int32_t i = 0; const char* text = QCSDK_GRPC_DescribeMethod(i); ++i) {
    JsonPtr description(cJSON_Parse(text));
    const cJSON* method = cJSON_GetObjectItem(description.get(), "method");
    if (cJSON_IsString(method) && name == method->valuestring) return i;
  }
  return -1;
}

// One RPC call with its exchange opened and closed around it: 1 with the
// result object in `text`, or the export's failure code.
int32_t CallRpc(int32_t channel, const std::string& method, const std::string& params,
                std::string& text) {
  if (QCSDK_GRPC_Begin(channel) != 1) return 0;
  const char* answer = nullptr;
  const int32_t r = QCSDK_GRPC_Call(channel, method.c_str(), params.c_str(), &answer);
  text = answer != nullptr ? answer : "";
  QCSDK_GRPC_End(channel);
  return r;
}

int ListMethods(const Output& out) {
  JsonPtr names(cJSON_CreateArray());
  for (int32_t i = 0; const char* text = QCSDK_GRPC_DescribeMethod(i); ++i) {
    JsonPtr description(cJSON_Parse(text));
    const char* name = cJSON_GetStringValue(cJSON_GetObjectItem(description.get(), "method"));
    if (out.json()) {
      cJSON_AddItemToArray(names.get(), cJSON_CreateString(name));
    } else {
      out.Line(name);
    }
  }
  if (out.json()) out.Json(names.get());
  return kOk;
}

}  // namespace

bool ParseInt(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' && errno == 0;
}

int ConnectTo(SdkSession& sdk, const Invocation& call, const std::string& url) {
  hostlib::DeviceSource source;
  std::string error;
  if (!hostlib::ParseDeviceSource(url, source, error)) return Fail(kUsage, error);
  if (!sdk.started()) return Fail(kFailed, "the SDK did not start (QCSDK_InitSDK returned 0)");
  return sdk.Connect(source, call.timeoutMs);
}

int RunInfo(const Invocation& call) {
  SdkSession sdk;
  if (const int code = ConnectTo(sdk, call, call.args[0]); code != kOk) return code;
  int32_t type = 0;
  QCSDK_GetDeviceInfo(sdk.channel(), &type);
  StreamInfo s{};
  if (QCSDK_GetStreamInfo(sdk.channel(), &s) != 1) {
    return Fail(kLinkEnded, "info " + sdk.label() + ": no stream description (link ended)");
  }
  std::string text;
  const int32_t rpc = CallRpc(sdk.channel(), "dev_get_info", "", text);
  JsonPtr device(rpc == 1 ? cJSON_Parse(text.c_str()) : nullptr);
  const std::string fps =
      std::to_string(s.frameRateNum / (s.frameRateDen > 0 ? s.frameRateDen : 1));
  const std::string connectText = sdk.Locked([](Reports& r) { return r.connectText; });
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "device", sdk.label().c_str());
    cJSON_AddNumberToObject(doc.get(), "type", type);
    cJSON_AddStringToObject(doc.get(), "typeName", DeviceTypeName(type).c_str());
    cJSON* video = cJSON_AddObjectToObject(doc.get(), "video");
    cJSON_AddStringToObject(video, "codec", VideoCodecName(s.videoCodec).c_str());
    cJSON_AddNumberToObject(video, "width", s.width);
    cJSON_AddNumberToObject(video, "height", s.height);
    cJSON_AddNumberToObject(video, "frameRateNum", s.frameRateNum);
    cJSON_AddNumberToObject(video, "frameRateDen", s.frameRateDen);
    cJSON* audio = cJSON_AddObjectToObject(doc.get(), "audio");
    cJSON_AddStringToObject(audio, "codec", AudioCodecName(s.audioCodec).c_str());
    cJSON_AddNumberToObject(audio, "sampleRate", s.audioParam1);
    cJSON_AddNumberToObject(audio, "bits", s.audioParam3);
    cJSON_AddNumberToObject(audio, "channels", s.audioParam2);
    cJSON_AddStringToObject(doc.get(), "recordingFormat",
                            RecordingExtension(s.recordingKind).c_str());
    cJSON_AddStringToObject(doc.get(), "connectText", connectText.c_str());
    cJSON_AddItemToObject(doc.get(), "deviceInfo", device ? device.release() : cJSON_CreateNull());
    call.out.Json(doc.get());
  } else {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"device", sdk.label()},
        {"type", std::to_string(type) + " (" + DeviceTypeName(type) + ")"},
        {"video", VideoCodecName(s.videoCodec) + " " + std::to_string(s.width) + "x" +
                      std::to_string(s.height) + " at " + fps + " fps"},
        {"audio", AudioCodecName(s.audioCodec) + ", " + std::to_string(s.audioParam1) + " Hz, " +
                      std::to_string(s.audioParam3) + " bit, " + std::to_string(s.audioParam2) +
                      " channel(s)"},
        {"recording format", RecordingExtension(s.recordingKind)},
        {"connect text", connectText}};
    for (const cJSON* item = device ? device->child : nullptr; item != nullptr; item = item->next) {
      fields.emplace_back(item->string,
                          cJSON_IsString(item) ? item->valuestring : JsonText(item, false));
    }
    call.out.Fields(fields);
  }
  if (rpc != 1) {
    std::fprintf(stderr, "qcctl: info %s: dev_get_info failed (QCSDK_GRPC_Call returned %d) %s\n",
                 sdk.label().c_str(), rpc, text.c_str());
  }
  return kOk;
}

int RunRpc(const Invocation& call) {
  const std::vector<std::string>& a = call.args;
  if (a.size() == 1 && a[0] == "--list") return ListMethods(call.out);
  const bool describe = a.size() == 2 && a[0] == "--describe";
  if (!describe && (a.size() < 2 || a[0].rfind("--", 0) == 0 || a[1].rfind("--", 0) == 0)) {
    return Fail(kUsage, "usage: qcctl rpc URL METHOD [PARAMS-JSON] | --list | --describe METHOD");
  }
  const std::string& method = a[1];
  const int32_t index = MethodIndex(method);
  if (index < 0)
    return Fail(kUsage, "rpc: no method '" + method + "' (qcctl rpc --list names them)");
  if (describe) {
    JsonPtr description(cJSON_Parse(QCSDK_GRPC_DescribeMethod(index)));
    call.out.Json(description.get());
    return kOk;
  }
  const std::string params = a.size() > 2 ? a[2] : "";
  JsonPtr parsed(params.empty() ? cJSON_CreateObject() : cJSON_Parse(params.c_str()));
  if (!cJSON_IsObject(parsed.get())) {
    return Fail(kUsage, "rpc " + method + ": the parameters are not a JSON object: " + params);
  }
  SdkSession sdk;
  if (const int code = ConnectTo(sdk, call, a[0]); code != kOk) return code;
  std::string text;
  const int32_t r = CallRpc(sdk.channel(), method, params, text);
  JsonPtr answer(cJSON_Parse(text.c_str()));
  if (r == 1 || r == -3) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "method", method.c_str());
    cJSON_AddItemToObject(doc.get(), r == 1 ? "result" : "error", answer.release());
    if (call.out.json()) call.out.Json(doc.get());
    if (r == 1 && !call.out.json()) {
      const cJSON* result = cJSON_GetObjectItem(doc.get(), "result");
      call.out.Line(JsonText(result, result != nullptr && result->child != nullptr));
    }
    if (r == 1) return kOk;
    const cJSON* error = cJSON_GetObjectItem(doc.get(), "error");
    return Fail(kFailed, "rpc " + method + " on " + sdk.label() + ": error " +
                             JsonText(cJSON_GetObjectItem(error, "code")) + ", " +
                             JsonText(cJSON_GetObjectItem(error, "message")));
  }
  return Fail(kFailed, "rpc " + method + " on " + sdk.label() +
                           ": the channel has no RPC exchange (QCSDK_GRPC_Call returned " +
                           std::to_string(r) + ")");
}

}  // namespace qcctl
