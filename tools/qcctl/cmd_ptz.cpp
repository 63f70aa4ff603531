// ptz: one pan/tilt/zoom command to a device channel.
#include <iterator>

#include "commands.h"

namespace qcctl {

// The command names, in the order of QCSDK_SendPTZCommand's numbers.
const char* const kPtzCommands[] = {"up",        "down",       "left",      "right",      "patrol",
                                    "iris-open", "iris-close", "focus-far", "focus-near", "zoom-in",
                                    "zoom-out",  "aux1",       "aux2",      "aux3",       "aux4"};

int RunPtz(const Invocation& call) {
  const bool stop = call.args.size() == 3 && call.args[2] == "--stop";
  if (call.args.size() == 3 && !stop) return Fail(kUsage, "ptz: the only option is --stop");
  int32_t command = 0;
  while (command < static_cast<int32_t>(std::size(kPtzCommands)) &&
         call.args[1] != kPtzCommands[command]) {
    ++command;
  }
  if (command == static_cast<int32_t>(std::size(kPtzCommands))) {
    return Fail(kUsage, "ptz: no command '" + call.args[1] + "' (qcctl ptz --help names them)");
  }
  SdkSession sdk;
  if (const int code = ConnectTo(sdk, call, call.args[0]); code != kOk) return code;
  const std::string what =
      "ptz " + call.args[1] + (stop ? " stop" : " start") + " on " + sdk.label();
  if (QCSDK_SendPTZCommand(sdk.channel(), command, stop ? 0 : 1) != 1) {
    return Fail(kFailed, what + ": not sent (QCSDK_SendPTZCommand returned 0)");
  }
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "command", call.args[1].c_str());
    cJSON_AddNumberToObject(doc.get(), "code", command);
    cJSON_AddBoolToObject(doc.get(), "start", !stop);
    call.out.Json(doc.get());
  } else {
    call.out.Line(what + ": sent");
  }
  return kOk;
}

}  // namespace qcctl
