// The subcommands of qcctl. Each takes the words after its name (options
// removed) and returns the tool's exit code, having printed its result on
// the output and any failure on stderr.
#pragma once

#include <string>
#include <vector>

#include "output.h"
#include "sdk_session.h"

namespace qcctl {

struct Invocation {
  std::string command;
  std::vector<std::string> args;  // the words after the command's name
  const Output& out;
  int timeoutMs = 10000;
  std::string broadcastTarget;  // search: empty for the SDK's default
};

struct Command {
  const char* name;
  const char* usage;  // the arguments after the name
  int minArgs, maxArgs;
  const char* help;  // what it does, with an example
  int (*run)(const Invocation&);
};

// Every command, in the order the help lists them; a null name ends it.
extern const Command kCommands[];

int RunInfo(const Invocation& call);
int RunRpc(const Invocation& call);
int RunList(const Invocation& call);
int RunDownload(const Invocation& call);
int RunRecord(const Invocation& call);
int RunSnapshot(const Invocation& call);
int RunSearch(const Invocation& call);
int RunConvert(const Invocation& call);
int RunPtz(const Invocation& call);
int RunOkip(const Invocation& call);

// Parses the device URL and connects the session to it: kOk, or the exit
// code after saying on stderr what failed.
int ConnectTo(SdkSession& sdk, const Invocation& call, const std::string& url);

// The file name's extension in lower case, with its dot.
std::string Extension(const std::string& file);

// A whole decimal number (optionally negative) in `out`; false for other text.
bool ParseInt(const std::string& text, long& out);

}  // namespace qcctl
