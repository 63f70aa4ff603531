// okip find / okip set: finding devices and setting their network
// configuration by broadcast, without a connection.
#include <arpa/inet.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "commands.h"
#include "names.h"

namespace qcctl {
namespace {

// The OKIP callback carries no pointer: the answers of this one run.
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<QCSDK_OkipResult> g_found;
bool g_ended = false;

void OnOkip(const QCSDK_OkipResult* result) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (result == nullptr) {
    g_ended = true;
  } else {
    g_found.push_back(*result);
  }
  g_changed.notify_all();
}

// A configuration word: a dotted IPv4 address (first number in the lowest
// byte, as the device reads it) or a whole number.
bool ParseWord(const std::string& text, int32_t& word) {
  in_addr address{};
  long number = 0;
  if (inet_pton(AF_INET, text.c_str(), &address) == 1) {
    std::memcpy(&word, &address.s_addr, sizeof word);  // network order: first number first
    return true;
  }
  if (!ParseInt(text, number) || number < INT32_MIN || number > UINT32_MAX) return false;
  word = static_cast<int32_t>(static_cast<uint32_t>(number));
  return true;
}

int Find(const Invocation& call) {
  if (QCSDK_OKIP_FinDevs(call.timeoutMs) == 0) {
    return Fail(kFailed, "okip find: not sent (QCSDK_OKIP_FinDevs returned 0)");
  }
  std::unique_lock<std::mutex> lock(g_mutex);
  // The broadcast ends by itself after its time; allow the answers a moment more.
  if (!g_changed.wait_for(lock, std::chrono::milliseconds(call.timeoutMs + 5000),
                          [] { return g_ended; })) {
    return Fail(kTimeout, "okip find: the broadcast did not end (no null answer)");
  }
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateArray());
    for (const QCSDK_OkipResult& d : g_found) {
      cJSON* item = cJSON_CreateObject();
      cJSON_AddStringToObject(item, "number", d.deviceNumber);
      cJSON_AddStringToObject(item, "address", d.address);
      cJSON_AddStringToObject(item, "name", d.name);
      cJSON_AddNumberToObject(item, "type", d.deviceType);
      cJSON_AddNumberToObject(item, "word16", d.word16);
      cJSON_AddNumberToObject(item, "word124", d.word124);
      cJSON_AddItemToArray(doc.get(), item);
    }
    call.out.Json(doc.get());
  } else {
    std::vector<std::vector<std::string>> rows;
    for (const QCSDK_OkipResult& d : g_found) {
      rows.push_back({d.deviceNumber, d.address, d.name, DeviceTypeName(d.deviceType)});
    }
    call.out.Table({"NUMBER", "ADDRESS", "NAME", "TYPE"}, rows);
  }
  return kOk;
}

int Set(const Invocation& call) {
  const std::vector<std::string>& a = call.args;
  if (a.size() < 3 || (a.size() > 5 && a.size() != 9)) {
    return Fail(kUsage, "usage: qcctl okip set NUMBER ADDRESS [TEXT1 [TEXT2 [W0 W2 W3 W4]]]");
  }
  int32_t config[5] = {};
  in_addr address{};
  if (inet_pton(AF_INET, a[2].c_str(), &address) != 1) {
    return Fail(kUsage, "okip set: ADDRESS is a dotted IPv4 address, not '" + a[2] + "'");
  }
  std::memcpy(&config[1], &address.s_addr, sizeof config[1]);
  for (std::size_t i = 5, word = 0; i < a.size(); ++i, word += word == 0 ? 2 : 1) {
    if (!ParseWord(a[i], config[word])) {
      return Fail(kUsage, "okip set: '" + a[i] + "' is neither a number nor an IPv4 address");
    }
  }
  const std::string first = a.size() > 3 ? a[3] : "", second = a.size() > 4 ? a[4] : "";
  if (first.size() > 31 || second.size() > 31) {
    return Fail(kUsage, "okip set: TEXT1 and TEXT2 hold at most 31 characters");
  }
  if (QCSDK_OKIP_SetNetCfg(a[1].c_str(), first.c_str(), second.c_str(), config) == 0) {
    return Fail(kFailed, "okip set " + a[1] + ": not sent (QCSDK_OKIP_SetNetCfg returned 0)");
  }
  // The device does not answer a set with a find answer: 'okip find' shows the result.
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "number", a[1].c_str());
    cJSON_AddStringToObject(doc.get(), "address", a[2].c_str());
    cJSON_AddBoolToObject(doc.get(), "sent", true);
    call.out.Json(doc.get());
  } else {
    call.out.Line("okip set " + a[1] + " " + a[2] + ": sent ('qcctl okip find' shows it)");
  }
  return kOk;
}

}  // namespace

int RunOkip(const Invocation& call) {
  const std::string& verb = call.args[0];
  if (verb != "find" && verb != "set")
    return Fail(kUsage, "okip: 'find' or 'set', not '" + verb + "'");
  if (verb == "find" && call.args.size() != 1) return Fail(kUsage, "usage: qcctl okip find");
  // The target is read when a message is sent: set it before anything else.
  if (!call.broadcastTarget.empty() &&
      QCSDK_SetBroadcastTarget(call.broadcastTarget.c_str()) != 1) {
    return Fail(kUsage, "okip: --broadcast-target takes a dotted IPv4 address, not '" +
                            call.broadcastTarget + "'");
  }
  SdkSession sdk;
  if (!sdk.started()) return Fail(kFailed, "the SDK did not start (QCSDK_InitSDK returned 0)");
  if (QCSDK_OKIP_StartService(&OnOkip) != 1) {
    return Fail(kFailed, "okip: no answer service (QCSDK_OKIP_StartService returned 0)");
  }
  const int code = verb == "find" ? Find(call) : Set(call);
  QCSDK_OKIP_StopService();
  return code;
}

}  // namespace qcctl
