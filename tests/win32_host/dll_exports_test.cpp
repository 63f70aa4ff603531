// qcsdk.dll loaded the way a host without the import library loads it: the
// export table holds exactly the facade and seven names per RPC method, each
// facade export takes the argument bytes its declaration says, and calls
// through GetProcAddress pop what they were given and fail as documented.
#include <windows.h>

#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr bool kStdcall = sizeof(void*) == 4;  // 64-bit Windows has one convention, undecorated

// Bytes a standard-call function of type F takes off the stack: 4 per slot.
template <typename F>
struct Stack;
template <typename R, typename... A>
struct Stack<R QCSDK_CALL(A...)> {
  static constexpr int kBytes = (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
};

// Every export of qcsdk.h with the argument bytes of its declaration.
struct Export {
  const char* name;
  int bytes;
};
// clang-format off
#define EXPORT(f) Export{#f, Stack<decltype(f)>::kBytes}
const Export kFacade[] = {
    EXPORT(QCSDK_GetVersion), EXPORT(QCSDK_InitSDK), EXPORT(QCSDK_ReleaseSDK),
    EXPORT(QCSDK_RegisterCallback), EXPORT(QCSDK_RegisterTalkCallback),
    EXPORT(QCSDK_RegisterUserDataCallback), EXPORT(QCSDK_SetLogCallback), EXPORT(QCSDK_SetNetCard),
    EXPORT(QCSDK_Connect),
    EXPORT(QCSDK_Connect2), EXPORT(QCSDK_Disconnect), EXPORT(QCSDK_GetDeviceInfo),
    EXPORT(QCSDK_EnableDecoder), EXPORT(QCSDK_SetVideoPreview), EXPORT(QCSDK_SetAudioPreview),
    EXPORT(QCSDK_EnableVideoData), EXPORT(QCSDK_SetRawDataAllCodecs), EXPORT(QCSDK_GetStreamInfo), EXPORT(QCSDK_StartRec),
    EXPORT(QCSDK_StopRec), EXPORT(QCSDK_GetRemoteRecFileList), EXPORT(QCSDK_RemotePlay),
    EXPORT(QCSDK_RemotePlayControl), EXPORT(QCSDK_Refresh), EXPORT(QCSDK_DownloadRemoteFile),
    EXPORT(QCSDK_RemoteRecording), EXPORT(QCSDK_StartTalk), EXPORT(QCSDK_StopTalk),
    EXPORT(QCSDK_SendTalkData), EXPORT(QCSDK_SaveBitmap), EXPORT(QCSDK_SaveBitmapToBuffer),
    EXPORT(QCSDK_RemoteConfig), EXPORT(QCSDK_SetCfgDialogDigests), EXPORT(QCSDK_SendPTZCommand),
    EXPORT(QCSDK_SendUserData), EXPORT(QCSDK_GRPC_Begin), EXPORT(QCSDK_GRPC_End),
    EXPORT(QCSDK_GRPC_FreeResults), EXPORT(QCSDK_GRPC_Call), EXPORT(QCSDK_GRPC_DescribeMethod),
    EXPORT(QCSDK_FreeBitmapBuffer),
    EXPORT(QCSDK_SetBroadcastTarget), EXPORT(QCSDK_LanSeartchDevice),
    EXPORT(QCSDK_OKIP_StartService), EXPORT(QCSDK_OKIP_StopService), EXPORT(QCSDK_OKIP_FinDevs),
    EXPORT(QCSDK_OKIP_SetNetCfg), EXPORT(QCSDK_GetNxlOnlineStatus),
};
// clang-format on

std::string Exported(const std::string& name) {
  return kStdcall && name == "QCSDK_SetNetCard" ? "_QCSDK_SetNetCard@4" : name;
}

// The .def file: each export's plain name and its argument bytes (-1: none).
std::map<std::string, int> ReadDef() {
  std::map<std::string, int> out;
  std::ifstream in(QCSDK_DEF_FILE);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("  ", 0) != 0) continue;
    const std::string symbol = line.substr(2, line.find(' ', 2) - 2);
    const size_t at = symbol.find('@');
    out[symbol.substr(0, at)] = at == std::string::npos ? -1 : std::stoi(symbol.substr(at + 1));
  }
  return out;
}

std::set<std::string> ExportTable(HMODULE dll) {
  const auto* base = reinterpret_cast<const BYTE*>(dll);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
  std::set<std::string> out;
  for (DWORD i = 0; i < dir->NumberOfNames; ++i)
    out.insert(reinterpret_cast<const char*>(base + names[i]));
  return out;
}

struct Dll {
  HMODULE h = LoadLibraryA("qcsdk.dll");
  ~Dll() { FreeLibrary(h); }
};

TEST(DllExports, TableHoldsFacadeAndSevenNamesPerMethodWithDeclaredArgumentBytes) {
  Dll dll;
  ASSERT_NE(dll.h, nullptr) << GetLastError();
  const std::map<std::string, int> def = ReadDef();
  std::set<std::string> expected;
  for (const auto& [name, bytes] : def) expected.insert(Exported(name));
  EXPECT_EQ(ExportTable(dll.h), expected);

  std::set<std::string> facade;
  for (const Export& f : kFacade) {
    facade.insert(f.name);
    EXPECT_NE(GetProcAddress(dll.h, Exported(f.name).c_str()), nullptr) << f.name;
    EXPECT_EQ(def.count(f.name) ? def.at(f.name) : -2, kStdcall ? f.bytes : -1) << f.name;
  }
  EXPECT_EQ(GetProcAddress(dll.h, kStdcall ? "QCSDK_SetNetCard" : "_QCSDK_SetNetCard@4"), nullptr);
  EXPECT_EQ(GetProcAddress(dll.h, "QCSDK_Connect@28"), nullptr);

  // Every other export is one of the seven forms of an RPC method.
  std::map<std::string, int> forms;
  for (const auto& [name, bytes] : def) {
    if (facade.count(name)) continue;
    std::string method = "(unknown) " + name;
    for (const char* prefix :
         {"QCSDK_GRPC_", "CLIENT_REQ_qvbu_", "CLIENT_RESP_qvbu_", "CLIENT_qvbu_",
          "SERVER_PARSE_REQ_qvbu_", "SERVER_GENERATE_RESP_qvbu_", "USERDEF_qvbu_"}) {
      if (name.rfind(prefix, 0) == 0) method = name.substr(std::string(prefix).size());
    }
    ++forms[method];
    const bool stdcallForm = name.rfind("QCSDK_GRPC_", 0) == 0;
    EXPECT_EQ(bytes, stdcallForm && kStdcall ? 12 : -1) << name;
  }
  EXPECT_EQ(forms.size(), size_t{QVBU_METHOD_COUNT});
  for (const auto& [method, n] : forms) EXPECT_EQ(n, 7) << method;
  for (const char* name : {"CLIENT_qvbu_account_get_users", "USERDEF_qvbu_account_add_user",
                           "SERVER_PARSE_REQ_qvbu_account_add_user"}) {
    EXPECT_NE(GetProcAddress(dll.h, name), nullptr) << name;
  }
}

#if defined(__i386__)
// Calls fn with 32-bit arguments pushed as a standard-call caller pushes them
// and measures the bytes the callee took off the stack, restoring it after.
int32_t CallCounted(FARPROC fn, const std::vector<uint32_t>& args, int* popped) {
  int32_t result;
  int moved;
  asm volatile(
      "movl %%esp, %%edi\n\t"
      "movl %[n], %%ecx\n"
      "1:\n\t"
      "jecxz 2f\n\t"
      "pushl -4(%[args],%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "call *%[fn]\n\t"
      "movl %%esp, %%edx\n\t"
      "subl %%edi, %%edx\n\t"
      "movl %%edi, %%esp"
      : "=a"(result), "=d"(moved)
      : [fn] "r"(fn), [args] "r"(args.data()), [n] "r"(static_cast<uint32_t>(args.size()))
      : "ecx", "edi", "memory", "cc");
  *popped = moved + 4 * static_cast<int>(args.size());
  return result;
}

uint32_t Arg(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

TEST(DllExports, StandardCallsPopTheirArgumentsAndFailCleanly) {
  Dll dll;
  ASSERT_NE(dll.h, nullptr) << GetLastError();
  int32_t out[3] = {};
  uint8_t* buffer = nullptr;
  qvbu_account_get_users_result users{};
  struct Case {
    const char* name;
    int bytes;
    std::vector<uint32_t> args;
    int32_t result;
  };
#define CASE(f, result, ...)                                  \
  Case {                                                      \
#f, Stack < decltype(f)> ::kBytes, {__VA_ARGS__ }, result \
  }
  const Case cases[] = {
      CASE(QCSDK_GetVersion, QCSDK_VERSION),
      CASE(QCSDK_SetNetCard, 0, 100000),  // no such card
      CASE(QCSDK_SetNetCard, 1, 0),       // any address
      CASE(QCSDK_Disconnect, 0, 0xFFFFFFFFu),
      CASE(QCSDK_GetDeviceInfo, 0, 512, Arg(out)),
      CASE(QCSDK_RemotePlayControl, 0, 7, 5, 1000),
      CASE(QCSDK_SaveBitmapToBuffer, 0, 9, Arg(&buffer), Arg(out), Arg(out + 1)),
      CASE(QCSDK_SetCfgDialogDigests, 0, 0, 0xFFFFFFFFu),
      CASE(QCSDK_SetBroadcastTarget, 0, Arg("127.0.0")),
      CASE(QCSDK_OKIP_SetNetCfg, 0, Arg("AB1"), Arg(""), Arg(""), 0),
      CASE(QCSDK_GetNxlOnlineStatus, -2, Arg("ABC"), 1000),
      CASE(QCSDK_GRPC_FreeResults, 0, 3),
      CASE(QCSDK_GRPC_account_get_users, 0, 3, 0, Arg(&users)),
  };
  for (const Case& c : cases) {
    const FARPROC fn = GetProcAddress(dll.h, Exported(c.name).c_str());
    ASSERT_NE(fn, nullptr) << c.name;
    int popped = -1;
    EXPECT_EQ(CallCounted(fn, c.args, &popped), c.result) << c.name;
    EXPECT_EQ(popped, c.bytes) << c.name;
  }
  EXPECT_EQ(buffer, nullptr);
}
#endif

}  // namespace
