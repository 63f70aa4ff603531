// The device side of the RPC protocol for the simulator: a state store that
// answers every catalogued method from what earlier calls set.
//
//  - "<x>get<y>" answers the state its partner "<x>set<y>" stored (keyed by
//    the getter's selector members such as "channelid"); a getter without
//    stored state answers zeros.
//  - Accounts and the IP access list keep lists: add, modify, delete and
//    clear change them and the list getters return them.
//  - Recording settings are kept per channel: "record_set" stores each
//    element of its array under its "channelid", "record_get" answers the
//    element of the channel it names (not recording until one was set).
//  - Every other catalogued method succeeds (with a zero result where it has
//    result members).
//  - Each request must carry a "user" block whose digest matches a known
//    account (when digests are required); otherwise the answer is
//    kAuthError with a message. Unknown methods and methods marked
//    unsupported answer -32001 "Method not implemented" through the
//    generated default handler.
//
// Values pass through the generated descriptors both ways, so stored state
// always has the member types of the catalogue.
#pragma once

#include <cjson/cJSON.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vdevice::rpc {

constexpr int kParseError = -32700;
constexpr int kNotImplemented = -32001;
constexpr int kAuthError = -32002;
constexpr int kBadParam = -32602;

struct JsonDelete {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDelete>;

struct Account {
  std::string name;
  std::string password;
  std::string level = "admin";
  std::string description;
};

class RpcStateStore {
 public:
  explicit RpcStateStore(std::vector<Account> accounts, bool requireDigest = true);
  ~RpcStateStore();
  RpcStateStore(const RpcStateStore&) = delete;
  RpcStateStore& operator=(const RpcStateStore&) = delete;

  // One request text in, one response text out. Thread-safe.
  std::string Handle(std::string_view request);

  // Routes a catalogued method to its default handler from now on.
  void SetNotImplemented(const std::string& method);
  // Method names of the requests handled so far, in order.
  std::vector<std::string> Calls() const;

 private:
  using Json = JsonPtr;

  Json Dispatch(int32_t index, const cJSON* request, int* code, std::string* message);
  bool CheckDigest(const char* method, const cJSON* request, std::string* message) const;
  Json Get(int32_t index, const cJSON* param);
  void Set(int32_t index, int32_t getter, const cJSON* param);
  Json Accounts(const char* method, const cJSON* param, int* code, std::string* message);
  Json IpList(const char* method, const cJSON* param);
  // The simulated pan/tilt/zoom head of each channel: moves, presets.
  Json Ptz(const char* method, const cJSON* param, int* code, std::string* message);
  // Recording settings per channel ("record_set", "record_get").
  Json Records(int32_t index, const cJSON* param);
  std::string StateKey(int32_t getter, const cJSON* param) const;

  mutable std::mutex m_mutex;
  bool m_bRequireDigest;
  std::vector<Account> m_accounts;
  Json m_ipList;                        // array of ipinfo objects
  std::map<std::string, Json> m_state;  // getter key -> stored members
  std::set<std::string> m_notImplemented;
  struct PtzPosition {
    int32_t pan = 0, tilt = 0, zoom = 0;
  };
  struct PtzHead {
    PtzPosition position;
    PtzPosition moving;  // speeds of the running move; all 0 when still
    std::map<int32_t, std::pair<std::string, PtzPosition>> presets;
  };
  std::map<int32_t, PtzHead> m_ptz;  // by channel
  std::map<int32_t, Json> m_records;  // recording settings by channel
  std::vector<std::string> m_calls;
};

}  // namespace vdevice::rpc
