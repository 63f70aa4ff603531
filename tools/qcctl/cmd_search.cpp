// search: devices on the local network, over both transports.
#include "commands.h"
#include "names.h"

namespace qcctl {

int RunSearch(const Invocation& call) {
  // The target is read when a search starts: set it before anything else.
  if (!call.broadcastTarget.empty() &&
      QCSDK_SetBroadcastTarget(call.broadcastTarget.c_str()) != 1) {
    return Fail(kUsage, "search: --broadcast-target takes a dotted IPv4 address, not '" +
                            call.broadcastTarget + "'");
  }
  SdkSession sdk;
  if (!sdk.started()) return Fail(kFailed, "the SDK did not start (QCSDK_InitSDK returned 0)");
  if (QCSDK_LanSeartchDevice(0, call.timeoutMs) != 1) {
    return Fail(kFailed, "search: not started (QCSDK_LanSeartchDevice returned 0)");
  }
  // The search ends by itself after its time; allow the answers a moment more.
  const int code =
      sdk.Wait([](const Reports& r) { return r.searchDone; }, call.timeoutMs + 5000, "search");
  if (code != kOk) return code;
  const std::vector<QCSDK_SearchResult> found = sdk.Locked([](Reports& r) { return r.found; });
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateArray());
    for (const QCSDK_SearchResult& d : found) {
      cJSON* item = cJSON_CreateObject();
      cJSON_AddStringToObject(item, "transport", TransportName(d.transport));
      cJSON_AddStringToObject(item, "number", d.deviceNumber);
      cJSON_AddStringToObject(item, "address", d.address);
      cJSON_AddNumberToObject(item, "port", d.port);
      cJSON_AddStringToObject(item, "name", d.name);
      cJSON_AddNumberToObject(item, "type", d.deviceType);
      cJSON_AddNumberToObject(item, "channels", d.channelCount);
      cJSON_AddItemToArray(doc.get(), item);
    }
    call.out.Json(doc.get());
  } else {
    std::vector<std::vector<std::string>> rows;
    for (const QCSDK_SearchResult& d : found) {
      rows.push_back({TransportName(d.transport), d.deviceNumber,
                      std::string(d.address) + ":" + std::to_string(d.port), d.name,
                      DeviceTypeName(d.deviceType), std::to_string(d.channelCount)});
    }
    call.out.Table({"TRANSPORT", "NUMBER", "ADDRESS", "NAME", "TYPE", "CHANNELS"}, rows);
  }
  return kOk;
}

}  // namespace qcctl
