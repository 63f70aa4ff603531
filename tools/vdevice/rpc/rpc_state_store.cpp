#include "rpc/rpc_state_store.h"
#include <cstdlib>

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"
#include "grpc/grpc_envelope.h"
#include "grpc/grpc_marshal.h"
#include "grpc/grpc_stubs.h"

namespace vdevice::rpc {
namespace {

using qcsdk::GrpcContext;
using qcsdk::grpc::kMethods;
using qcsdk::grpc::ObjectDesc;

struct ContextDelete {
  void operator()(GrpcContext* context) const { qcsdk::grpc_context_destroy(context); }
};
using ContextPtr = std::unique_ptr<GrpcContext, ContextDelete>;

using Json = JsonPtr;

const char* StringOf(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItem(object, name);
  return cJSON_IsString(item) && item->valuestring != nullptr ? item->valuestring : nullptr;
}

// The value through the descriptor: every member typed as catalogued,
// missing ones at their defaults.
Json Normalise(const cJSON* object, const ObjectDesc& desc) {
  ContextPtr context(qcsdk::grpc_context_create(nullptr, nullptr, nullptr));
  Json out(cJSON_CreateObject());
  if (!context || !out) return out;
  std::vector<uint64_t> buffer((desc.size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
  qcsdk::grpc::ReadMembers(context.get(), object, desc, buffer.data());
  qcsdk::grpc::WriteMembers(out.get(), desc, buffer.data());
  return out;
}

// Only the members of normalised that the original object carried.
void KeepPresent(cJSON* normalised, const cJSON* original) {
  cJSON* item = normalised != nullptr ? normalised->child : nullptr;
  while (item != nullptr) {
    cJSON* next = item->next;
    if (cJSON_GetObjectItem(original, item->string) == nullptr) {
      cJSON_Delete(cJSON_DetachItemViaPointer(normalised, item));
    }
    item = next;
  }
}

// A zero-filled structure of desc written as JSON.
Json Zeros(const ObjectDesc& desc) {
  Json out(cJSON_CreateObject());
  std::vector<uint64_t> buffer((desc.size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
  if (out) qcsdk::grpc::WriteMembers(out.get(), desc, buffer.data());
  return out;
}

// Adds item under name, replacing a member of that name (any letter case).
void Put(cJSON* object, const char* key, cJSON* item) {
  if (item == nullptr || key == nullptr) return;
  const std::string name = key;  // key may be item's own name, which is replaced
  if (cJSON_GetObjectItem(object, name.c_str()) != nullptr) {
    cJSON_ReplaceItemInObject(object, name.c_str(), item);
  } else {
    cJSON_AddItemToObject(object, name.c_str(), item);
  }
}

bool HasField(const ObjectDesc* desc, const char* name) {
  if (desc == nullptr || name == nullptr) return false;
  for (uint32_t i = 0; i < desc->field_count; ++i) {
    if (strcasecmp(desc->fields[i].name, name) == 0) return true;
  }
  return false;
}

// The method whose name has the token `from` replaced by `to` ("dev_set_info"
// <-> "dev_get_info"), or -1.
int32_t Partner(const char* name, const char* from, const char* to) {
  std::string s = name;
  std::string token = from;
  for (std::size_t pos = 0; (pos = s.find(token, pos)) != std::string::npos; pos += token.size()) {
    bool startOk = pos == 0 || s[pos - 1] == '_';
    bool endOk = pos + token.size() == s.size() || s[pos + token.size()] == '_';
    if (startOk && endOk) {
      std::string candidate = s;
      candidate.replace(pos, token.size(), to);
      return qcsdk::grpc::FindMethod(candidate.c_str());
    }
  }
  return -1;
}

Json Result(const qcsdk::grpc::MethodDesc& method, const cJSON* value) {
  if (method.result == nullptr) return nullptr;
  return value != nullptr ? Normalise(value, *method.result) : Zeros(*method.result);
}

}  // namespace

RpcStateStore::RpcStateStore(std::vector<Account> accounts, bool requireDigest)
    : m_bRequireDigest(requireDigest),
      m_accounts(std::move(accounts)),
      m_ipList(cJSON_CreateArray()) {}

RpcStateStore::~RpcStateStore() = default;

void RpcStateStore::SetNotImplemented(const std::string& method) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_notImplemented.insert(method);
}

std::vector<std::string> RpcStateStore::Calls() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_calls;
}

std::string RpcStateStore::Handle(std::string_view request) {
  std::lock_guard<std::mutex> guard(m_mutex);
  Json response(cJSON_CreateObject());
  if (!response) return "{}";
  int code = 0;
  std::string message;
  Json result;
  Json root(cJSON_ParseWithLength(request.data(), request.size()));
  if (!root) {
    code = kParseError;
    message = "Parse error";
  } else {
    const cJSON* sentcnt = cJSON_GetObjectItem(root.get(), "sentcnt");
    if (cJSON_IsNumber(sentcnt)) {
      cJSON_AddNumberToObject(response.get(), "sentcnt", sentcnt->valuedouble);
    }
    const char* method = StringOf(root.get(), "method");
    m_calls.push_back(method != nullptr ? method : "");
    int32_t index = qcsdk::grpc::FindMethod(method);
    if (m_bRequireDigest && !CheckDigest(method, root.get(), &message)) {
      code = kAuthError;
    } else if (index < 0) {
      code = kNotImplemented;
      message = "Method not implemented";
    } else if (m_notImplemented.count(kMethods[index].name) != 0) {
      ContextPtr context(qcsdk::grpc_context_create(nullptr, nullptr, nullptr));
      if (context) {
        context->json = cJSON_Duplicate(root.get(), 1);
        qcsdk::grpc::kServerMethods[index].handler(qcsdk::grpc::ToQvbu(context.get()));
        code = context->errorcode;
        message = context->errmsg;
      }
    } else {
      result = Dispatch(index, root.get(), &code, &message);
    }
  }
  if (code != 0) {
    cJSON* error = cJSON_AddObjectToObject(response.get(), "error");
    cJSON_AddNumberToObject(error, "errorcode", code);
    cJSON_AddStringToObject(error, "message", message.c_str());
  } else if (result) {
    cJSON_AddItemToObject(response.get(), "result", result.release());
  }
  char* text = cJSON_PrintUnformatted(response.get());
  std::string out = text != nullptr ? text : "{}";
  cJSON_free(text);
  return out;
}

bool RpcStateStore::CheckDigest(const char* method, const cJSON* request,
                                std::string* message) const {
  const cJSON* user = cJSON_GetObjectItem(request, "user");
  const char* name = StringOf(user, "name");
  const char* digest = StringOf(user, "digest");
  if (name == nullptr || digest == nullptr) {
    *message = "Missing user digest";
    return false;
  }
  for (const Account& account : m_accounts) {
    if (account.name != name) continue;
    char expected[33];
    qcsdk::grpc_user_digest(name, method, account.password.c_str(), expected);
    if (std::strcmp(expected, digest) == 0) return true;
  }
  *message = "Wrong user digest";
  return false;
}

RpcStateStore::Json RpcStateStore::Dispatch(int32_t index, const cJSON* request, int* code,
                                            std::string* message) {
  const qcsdk::grpc::MethodDesc& method = kMethods[index];
  const cJSON* param = cJSON_GetObjectItem(request, "param");
  if (!cJSON_IsObject(param)) param = nullptr;
  std::string name = method.name;
  if (name.rfind("account_", 0) == 0) return Accounts(method.name, param, code, message);
  if (name == "ptz_move_start" || name == "ptz_move_stop" || name == "ptz_move_stat_get" ||
      name == "ptz_preset_set" || name == "ptz_preset_locate" || name == "ptz_preset_delete" ||
      name == "ptz_presets_get") {
    return Ptz(method.name, param, code, message);
  }
  if (name == "record_set" || name == "record_get") return Records(index, param);
  if (name.rfind("iplist_", 0) == 0 && name.find("limit_type") == std::string::npos) {
    return IpList(method.name, param);
  }
  if (Partner(method.name, "set", "get") >= 0) {
    Set(index, Partner(method.name, "set", "get"), param);
    return Result(method, nullptr);
  }
  if (Partner(method.name, "get", "set") >= 0) return Get(index, param);
  return Result(method, nullptr);
}

// "record_set" carries one element per channel in its array; "record_get"
// asks for one channel and answers that channel's element, not recording
// while nothing was set for it.
RpcStateStore::Json RpcStateStore::Records(int32_t index, const cJSON* param) {
  const qcsdk::grpc::MethodDesc& method = kMethods[index];
  if (method.param == nullptr || param == nullptr) return Result(method, nullptr);
  if (std::strcmp(method.name, "record_set") == 0) {
    const Json set = Normalise(param, *method.param);
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, cJSON_GetObjectItem(set.get(), "record_params")) {
      const cJSON* id = cJSON_GetObjectItem(element, "channelid");
      if (cJSON_IsNumber(id)) m_records[id->valueint].reset(cJSON_Duplicate(element, 1));
    }
    return Result(method, nullptr);
  }
  const cJSON* id = cJSON_GetObjectItem(param, "channelid");
  const int32_t channel = cJSON_IsNumber(id) ? id->valueint : 0;
  Json value(cJSON_CreateObject());
  cJSON* list = cJSON_AddArrayToObject(value.get(), "record_params");
  cJSON* element = cJSON_CreateObject();
  cJSON_AddItemToArray(list, element);
  auto stored = m_records.find(channel);
  if (stored != m_records.end()) {
    for (const cJSON* item = stored->second->child; item != nullptr; item = item->next) {
      Put(element, item->string, cJSON_Duplicate(item, 1));
    }
  }
  Put(element, "channelid", cJSON_CreateNumber(channel));
  Put(element, "brecording",
      cJSON_CreateBool(cJSON_IsTrue(cJSON_GetObjectItem(element, "normal_record"))));
  return Result(method, value.get());
}

std::string RpcStateStore::StateKey(int32_t getter, const cJSON* param) const {
  const qcsdk::grpc::MethodDesc& method = kMethods[getter];
  std::ostringstream key;
  key << method.name;
  if (method.param == nullptr) return key.str();
  for (uint32_t i = 0; i < method.param->field_count; ++i) {
    const qcsdk::grpc::FieldDesc& field = method.param->fields[i];
    if (field.kind != qcsdk::grpc::FieldKind::kNumber &&
        field.kind != qcsdk::grpc::FieldKind::kString) {
      continue;
    }
    const cJSON* item = cJSON_GetObjectItem(param, field.name);
    key << '|' << field.name << '=';
    if (cJSON_IsNumber(item)) key << item->valueint;
    if (cJSON_IsString(item) && item->valuestring != nullptr) key << item->valuestring;
  }
  return key.str();
}

RpcStateStore::Json RpcStateStore::Get(int32_t index, const cJSON* param) {
  const qcsdk::grpc::MethodDesc& method = kMethods[index];
  if (method.result == nullptr) return nullptr;
  Json value = Zeros(*method.result);
  auto stored = m_state.find(StateKey(index, param));
  if (stored != m_state.end() && value) {
    for (const cJSON* item = stored->second->child; item != nullptr; item = item->next) {
      Put(value.get(), item->string, cJSON_Duplicate(item, 1));
    }
  }
  return Result(method, value.get());
}

void RpcStateStore::Set(int32_t index, int32_t getter, const cJSON* param) {
  const qcsdk::grpc::MethodDesc& method = kMethods[index];
  const qcsdk::grpc::MethodDesc& get = kMethods[getter];
  if (method.param == nullptr || param == nullptr) return;
  Json members = Normalise(param, *method.param);
  KeepPresent(members.get(), param);
  Json& state = m_state[StateKey(getter, param)];
  if (!state) state.reset(cJSON_CreateObject());
  if (!members || !state) return;
  while (cJSON* item = members->child) {
    cJSON_DetachItemViaPointer(members.get(), item);
    Json owned(item);
    if (HasField(get.param, item->string)) continue;  // selectors are the key
    // A wrapper object the getter does not have ("audioAttr", "md"): its
    // members are the state.
    if (cJSON_IsObject(item) && !HasField(get.result, item->string)) {
      while (cJSON* inner = item->child) {
        cJSON_DetachItemViaPointer(item, inner);
        Put(state.get(), inner->string, inner);
      }
      continue;
    }
    Put(state.get(), item->string, owned.release());
  }
}

namespace {
int32_t NumberOf(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItem(object, name);
  return cJSON_IsNumber(item) ? static_cast<int32_t>(item->valuedouble) : 0;
}
}  // namespace

RpcStateStore::Json RpcStateStore::Ptz(const char* name, const cJSON* param, int* code,
                                       std::string* message) {
  const qcsdk::grpc::MethodDesc& method = kMethods[qcsdk::grpc::FindMethod(name)];
  const std::string op = name;
  PtzHead& head = m_ptz[NumberOf(param, "channelid")];
  if (op == "ptz_move_start") {
    head.moving = {NumberOf(param, "panLeft"), NumberOf(param, "tiltUp"),
                   NumberOf(param, "zoomIn")};
    return Result(method, nullptr);
  }
  if (op == "ptz_move_stop") {
    // The head stops where one step of the move took it.
    head.position.pan += head.moving.pan;
    head.position.tilt += head.moving.tilt;
    head.position.zoom += head.moving.zoom;
    head.moving = {};
    return Result(method, nullptr);
  }
  if (op == "ptz_move_stat_get") {
    Json value(cJSON_CreateObject());
    const int32_t speed = std::max(
        {std::abs(head.moving.pan), std::abs(head.moving.tilt), std::abs(head.moving.zoom)});
    cJSON_AddNumberToObject(value.get(), "movespeed", speed);
    return Result(method, value.get());
  }
  if (op == "ptz_presets_get") {
    Json value(cJSON_CreateObject());
    cJSON* list = cJSON_AddArrayToObject(value.get(), "presetsList");
    for (const auto& [number, preset] : head.presets) {
      cJSON* item = cJSON_CreateObject();
      cJSON_AddNumberToObject(item, "presetno", number);
      cJSON_AddStringToObject(item, "name", preset.first.c_str());
      cJSON_AddItemToArray(list, item);
    }
    return Result(method, value.get());
  }
  const int32_t number = NumberOf(param, "presetno");
  if (op == "ptz_preset_set") {
    const char* label = StringOf(param, "name");
    head.presets[number] = {label != nullptr ? label : "", head.position};
    return Result(method, nullptr);
  }
  // A preset that does not exist is neither located nor deleted; the call
  // still succeeds, as deleting twice does.
  auto found = head.presets.find(number);
  if (found != head.presets.end()) {
    if (op == "ptz_preset_locate") {
      head.position = found->second.second;
      head.moving = {};
    } else {
      head.presets.erase(found);
    }
  }
  (void)code;
  (void)message;
  return Result(method, nullptr);
}

RpcStateStore::Json RpcStateStore::Accounts(const char* name, const cJSON* param, int* code,
                                            std::string* message) {
  const qcsdk::grpc::MethodDesc& method = kMethods[qcsdk::grpc::FindMethod(name)];
  std::string op = name;
  if (op == "account_get_users") {
    Json value(cJSON_CreateObject());
    cJSON* users = cJSON_AddArrayToObject(value.get(), "users");
    for (const Account& a : m_accounts) {
      cJSON* user = cJSON_CreateObject();
      cJSON_AddStringToObject(user, "name", a.name.c_str());
      cJSON_AddStringToObject(user, "level", a.level.c_str());
      cJSON_AddStringToObject(user, "description", a.description.c_str());
      cJSON_AddItemToArray(users, user);
    }
    return Result(method, value.get());
  }
  if (op == "account_login" || op == "account_login_force") {
    const char* user = StringOf(param, "username");
    const char* password = StringOf(param, "password");
    auto found = std::find_if(m_accounts.begin(), m_accounts.end(), [&](const Account& a) {
      return user != nullptr && password != nullptr && a.name == user && a.password == password;
    });
    if (found == m_accounts.end()) {
      *code = kAuthError;
      *message = "Wrong user name or password";
      return nullptr;
    }
    return Result(method, nullptr);
  }
  const char* user = StringOf(param, "name");
  auto found = std::find_if(m_accounts.begin(), m_accounts.end(),
                            [&](const Account& a) { return user != nullptr && a.name == user; });
  if (user == nullptr || *user == '\0') {
    *code = kBadParam;
    *message = "Missing user name";
  } else if (op == "account_add_user") {
    if (found != m_accounts.end()) {
      *code = kBadParam;
      *message = "User exists";
    } else {
      Account a;
      a.name = user;
      if (const char* s = StringOf(param, "passwd")) a.password = s;
      if (const char* s = StringOf(param, "level")) a.level = s;
      if (const char* s = StringOf(param, "description")) a.description = s;
      m_accounts.push_back(std::move(a));
    }
  } else if (found == m_accounts.end()) {
    *code = kBadParam;
    *message = "No such user";
  } else if (op == "account_del_user") {
    m_accounts.erase(found);
  } else if (op == "account_modify_user") {
    if (const char* s = StringOf(param, "passwd")) found->password = s;
    if (const char* s = StringOf(param, "level")) found->level = s;
    if (const char* s = StringOf(param, "description")) found->description = s;
  }
  return *code != 0 ? nullptr : Result(method, nullptr);
}

RpcStateStore::Json RpcStateStore::IpList(const char* name, const cJSON* param) {
  const qcsdk::grpc::MethodDesc& method = kMethods[qcsdk::grpc::FindMethod(name)];
  std::string op = name;
  if (op == "iplist_get") {
    Json value(cJSON_CreateObject());
    cJSON_AddItemToObject(value.get(), "ipinfo", cJSON_Duplicate(m_ipList.get(), 1));
    return Result(method, value.get());
  }
  if (op == "iplist_clear") {
    m_ipList.reset(cJSON_CreateArray());
  } else if (op == "iplist_add" && param != nullptr && method.param != nullptr) {
    Json entries = Normalise(param, *method.param);
    cJSON* list = cJSON_GetObjectItem(entries.get(), "ipinfo");
    for (cJSON* e = list != nullptr ? list->child : nullptr; e != nullptr; e = e->next) {
      cJSON_AddItemToArray(m_ipList.get(), cJSON_Duplicate(e, 1));
    }
  } else if (op == "iplist_delete" && param != nullptr && method.param != nullptr) {
    Json entry = Normalise(param, *method.param);
    cJSON* e = m_ipList->child;
    while (e != nullptr) {
      cJSON* next = e->next;
      Json normalised = Normalise(e, *method.param);
      if (cJSON_Compare(normalised.get(), entry.get(), 1)) {
        cJSON_Delete(cJSON_DetachItemViaPointer(m_ipList.get(), e));
      }
      e = next;
    }
  }
  return Result(method, nullptr);
}

}  // namespace vdevice::rpc
