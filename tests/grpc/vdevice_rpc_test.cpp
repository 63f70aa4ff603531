// The simulator's RPC state store, called through the SDK's client stubs.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstring>
#include <string>

#include "grpc/grpc_envelope.h"
#include "grpc/grpc_stubs.h"
#include "rpc/rpc_state_store.h"
#include "rpc_test_support.h"

namespace qcsdk::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using vdevice::rpc::Account;
using vdevice::rpc::RpcStateStore;

// A client context whose transport is the store.
struct Client {
  explicit Client(RpcStateStore& store, const char* user = "admin", const char* password = "pw") {
    t.onSend = [this, &store](const std::string& text) {
      t.responses.push_back(store.Handle(text));
    };
    grpc_set_credentials(t.Context(), user, password);
  }
  qvbu_context* operator*() { return t.Qvbu(); }
  GrpcContext* context() { return t.Context(); }
  ScriptedTransport t;
};

std::vector<Account> Admin() {
  return {Account{"admin", "pw", "admin", "owner"}};
}

TEST(VdeviceRpc, SetThenGetReturnsTheStoredState) {
  RpcStateStore store(Admin());
  Client c(store);
  qvbu_dev_get_info_result info;
  ASSERT_EQ(0, CLIENT_qvbu_dev_get_info(*c, nullptr, &info));
  EXPECT_EQ(0, info.rebootHour);  // nothing stored yet: zeros
  EXPECT_EQ(nullptr, info.name);

  qvbu_dev_set_info_param set = {1, "host", "gate", nullptr, 4, "en"};
  int32_t placeholder = 9;
  ASSERT_EQ(0, CLIENT_qvbu_dev_set_info(*c, &set, &placeholder));
  EXPECT_EQ(0, placeholder);
  ASSERT_EQ(0, CLIENT_qvbu_dev_get_info(*c, nullptr, &info));
  EXPECT_EQ(1, info.bDiscoverable);
  EXPECT_STREQ("gate", info.name);
  EXPECT_EQ(nullptr, info.rebootDay);
  EXPECT_EQ(4, info.rebootHour);

  // State is kept per selector ("channelid"), and a setter's wrapper object
  // holds the members the getter returns flat.
  qvbu_ai_set_param_param ai;
  std::memset(&ai, 0, sizeof ai);
  ai.channelid = 1;
  ai.audioAttr.bEnable = 1;
  ai.audioAttr.sampleRate = 16000;
  ai.audioAttr.encType = "g711a";
  ASSERT_EQ(0, CLIENT_qvbu_ai_set_param(*c, &ai, &placeholder));
  qvbu_ai_get_param_param which = {1};
  qvbu_ai_get_param_result got;
  ASSERT_EQ(0, CLIENT_qvbu_ai_get_param(*c, &which, &got));
  EXPECT_EQ(1, got.bEnable);
  EXPECT_EQ(16000, got.sampleRate);
  EXPECT_STREQ("g711a", got.encType);
  which.channelid = 2;
  ASSERT_EQ(0, CLIENT_qvbu_ai_get_param(*c, &which, &got));
  EXPECT_EQ(0, got.sampleRate);

  // A later set changes only what it carries.
  qvbu_iplist_limit_type_set_param limit = {2};
  ASSERT_EQ(0, CLIENT_qvbu_iplist_limit_type_set(*c, &limit, &placeholder));
  qvbu_iplist_limit_type_get_result limitGot;
  ASSERT_EQ(0, CLIENT_qvbu_iplist_limit_type_get(*c, nullptr, &limitGot));
  EXPECT_EQ(2, limitGot.limittype);
}

TEST(VdeviceRpc, AccountsAndDigests) {
  RpcStateStore store(Admin());
  Client admin(store);
  qvbu_account_add_user_param add = {"guest", "g1", "user", "visitor"};
  int32_t placeholder = 0;
  ASSERT_EQ(0, CLIENT_qvbu_account_add_user(*admin, &add, &placeholder));
  EXPECT_EQ(vdevice::rpc::kBadParam, CLIENT_qvbu_account_add_user(*admin, &add, &placeholder));
  EXPECT_STREQ("User exists", admin.context()->errmsg);

  qvbu_account_get_users_result users;
  ASSERT_EQ(0, CLIENT_qvbu_account_get_users(*admin, nullptr, &users));
  ASSERT_EQ(2, users.users_count);
  EXPECT_STREQ("admin", users.users[0].name);
  EXPECT_STREQ("guest", users.users[1].name);
  EXPECT_STREQ("visitor", users.users[1].description);

  // The new account's digest is accepted; a wrong password or a missing
  // "user" block is refused with a code and a message.
  Client guest(store, "guest", "g1");
  ASSERT_EQ(0, CLIENT_qvbu_account_get_users(*guest, nullptr, &users));
  Client wrong(store, "guest", "nope");
  EXPECT_EQ(vdevice::rpc::kAuthError, CLIENT_qvbu_account_get_users(*wrong, nullptr, &users));
  EXPECT_STREQ("Wrong user digest", wrong.context()->errmsg);
  EXPECT_EQ(0, users.users_count);
  Client anonymous(store, "", "");
  EXPECT_EQ(vdevice::rpc::kAuthError, CLIENT_qvbu_account_get_users(*anonymous, nullptr, &users));
  EXPECT_STREQ("Missing user digest", anonymous.context()->errmsg);

  qvbu_account_modify_user_param modify = {"guest", "g2", nullptr, nullptr};
  ASSERT_EQ(0, CLIENT_qvbu_account_modify_user(*admin, &modify, &placeholder));
  EXPECT_EQ(vdevice::rpc::kAuthError, CLIENT_qvbu_account_get_users(*guest, nullptr, &users));
  qvbu_account_login_param login = {"guest", "g2"};
  qvbu_account_login_result loginResult;
  EXPECT_EQ(0, CLIENT_qvbu_account_login(*admin, &login, &loginResult));
  login.password = "g1";
  EXPECT_EQ(vdevice::rpc::kAuthError, CLIENT_qvbu_account_login(*admin, &login, &loginResult));

  qvbu_account_del_user_param del = {"guest"};
  ASSERT_EQ(0, CLIENT_qvbu_account_del_user(*admin, &del, &placeholder));
  EXPECT_EQ(vdevice::rpc::kBadParam, CLIENT_qvbu_account_del_user(*admin, &del, &placeholder));
  ASSERT_EQ(0, CLIENT_qvbu_account_get_users(*admin, nullptr, &users));
  EXPECT_EQ(1, users.users_count);
}

TEST(VdeviceRpc, PtzHeadMovesAndKeepsPresets) {
  RpcStateStore store(Admin());
  Client c(store);
  int32_t placeholder = 0;
  qvbu_ptz_move_stat_get_param channel = {1};
  qvbu_ptz_move_stat_get_result stat{};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_move_stat_get(*c, &channel, &stat));
  EXPECT_EQ(0, stat.movespeed);
  qvbu_ptz_move_start_param move = {1, -3, 5, 0};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_move_start(*c, &move, &placeholder));
  ASSERT_EQ(0, CLIENT_qvbu_ptz_move_stat_get(*c, &channel, &stat));
  EXPECT_EQ(5, stat.movespeed);
  qvbu_ptz_move_stop_param stop = {1};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_move_stop(*c, &stop, &placeholder));
  ASSERT_EQ(0, CLIENT_qvbu_ptz_move_stat_get(*c, &channel, &stat));
  EXPECT_EQ(0, stat.movespeed);

  // Presets keep the head's position and name, per channel.
  qvbu_ptz_preset_set_param set = {1, 4, "gate"};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_preset_set(*c, &set, &placeholder));
  qvbu_ptz_preset_set_param other = {2, 7, "yard"};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_preset_set(*c, &other, &placeholder));
  qvbu_ptz_presets_get_param which = {1};
  qvbu_ptz_presets_get_result presets{};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_presets_get(*c, &which, &presets));
  ASSERT_EQ(1, presets.presetsList_count);
  EXPECT_EQ(4, presets.presetsList[0].presetno);
  EXPECT_STREQ("gate", presets.presetsList[0].name);
  qvbu_ptz_preset_locate_param locate = {1, 4};
  EXPECT_EQ(0, CLIENT_qvbu_ptz_preset_locate(*c, &locate, &placeholder));
  qvbu_ptz_preset_locate_param missing = {1, 9};
  EXPECT_EQ(0, CLIENT_qvbu_ptz_preset_locate(*c, &missing, &placeholder));  // stays put
  qvbu_ptz_preset_delete_param del = {1, 4};
  ASSERT_EQ(0, CLIENT_qvbu_ptz_preset_delete(*c, &del, &placeholder));
  ASSERT_EQ(0, CLIENT_qvbu_ptz_presets_get(*c, &which, &presets));
  EXPECT_EQ(0, presets.presetsList_count);
}

TEST(VdeviceRpc, IpAccessList) {
  RpcStateStore store(Admin());
  Client c(store);
  qvbu_shape_ipinfo entries[] = {{0, "127.0.0.2", "127.0.0.9"}, {1, "127.0.0.1", nullptr}};
  qvbu_iplist_add_param add = {2, entries};
  int32_t placeholder = 0;
  ASSERT_EQ(0, CLIENT_qvbu_iplist_add(*c, &add, &placeholder));
  qvbu_iplist_get_result list;
  ASSERT_EQ(0, CLIENT_qvbu_iplist_get(*c, nullptr, &list));
  ASSERT_EQ(2, list.ipinfo_count);
  EXPECT_STREQ("127.0.0.1", list.ipinfo[1].iphead);
  EXPECT_EQ(nullptr, list.ipinfo[1].iptail);

  qvbu_iplist_delete_param del = {0, "127.0.0.2", "127.0.0.9"};
  ASSERT_EQ(0, CLIENT_qvbu_iplist_delete(*c, &del, &placeholder));
  ASSERT_EQ(0, CLIENT_qvbu_iplist_get(*c, nullptr, &list));
  ASSERT_EQ(1, list.ipinfo_count);
  EXPECT_EQ(1, list.ipinfo[0].type);
  ASSERT_EQ(0, CLIENT_qvbu_iplist_clear(*c, nullptr, &placeholder));
  ASSERT_EQ(0, CLIENT_qvbu_iplist_get(*c, nullptr, &list));
  EXPECT_EQ(0, list.ipinfo_count);
}

TEST(VdeviceRpc, UnknownAndUnsupportedMethodsAndBadText) {
  RpcStateStore store(Admin(), false);
  EXPECT_EQ(
      "{\"sentcnt\":3,\"error\":{\"errorcode\":-32001,\"message\":\"Method not implemented\"}}",
      store.Handle("{\"method\":\"no_such_method\",\"sentcnt\":3}"));
  EXPECT_EQ("{\"error\":{\"errorcode\":-32700,\"message\":\"Parse error\"}}",
            store.Handle("not json"));

  store.SetNotImplemented("dev_reboot");
  CaptureStdout();
  std::string answer = store.Handle("{\"method\":\"dev_reboot\",\"sentcnt\":1}");
  std::string out = GetCapturedStdout();
  EXPECT_EQ(
      "{\"sentcnt\":1,\"error\":{\"errorcode\":-32001,\"message\":\"Method not implemented\"}}",
      answer);
  EXPECT_EQ(0u,
            out.find("NOT_FINISHED ..\\..\\..\\src\\grpc\\qvbu_s_userdef:USERDEF_qvbu_dev_reboot"))
      << out;
  EXPECT_EQ((std::vector<std::string>{"no_such_method", "dev_reboot"}), store.Calls());
}

TEST(VdeviceRpc, EveryCatalogueMethodIsAnswered) {
  RpcStateStore store(Admin());
  Client c(store);
  for (std::size_t m = 0; m < grpc::kMethodCount; ++m) {
    const grpc::MethodDesc& method = grpc::kMethods[m];
    std::string name = method.name;
    if (name.rfind("account_", 0) == 0) continue;  // covered above with real accounts
    SCOPED_TRACE(name);
    RandomBuilder random(static_cast<uint32_t>(m));
    void* param = nullptr;
    if (method.param != nullptr) {
      param = random.Block(method.param->size);
      random.Fill(*method.param, param);
    }
    void* result = random.Block(method.result != nullptr ? method.result->size : 4);
    EXPECT_EQ(0, grpc::stubs::Call(*c, method, param, result));
  }
}

}  // namespace
}  // namespace qcsdk::test
