// Device RPC through the SDK's exports over the Nxl transport against a
// virtual device of the simulator on loopback: the device's state store
// answers, checking every request's user digest.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <map>
#include <memory>
#include <string>

#include "grpc/grpc_context.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/facade/registry.h"
#include "support/host_recorder.h"
#include "vdevice/device_host.h"

namespace qcsdk::test {
namespace {

constexpr int32_t kAuthError = -32002;
constexpr int32_t kNotImplemented = -32001;

class RpcE2eTest : public ::testing::Test {
 protected:
  vdevice::DeviceHost devices;
  std::unique_ptr<HostRecorder> host;
  int32_t channel = -1;

  void SetUp() override {
    host = std::make_unique<HostRecorder>();
    ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
    vdevice::DeviceSpec spec;
    spec.user = "admin";
    spec.password = "secret";
    std::string error;
    const int index = devices.Add(spec, &error);
    ASSERT_EQ(index, 0) << error;
    channel = QCSDK_Connect("127.0.0.1", devices.nxl(0).port(), 0, "admin", "secret", 0, nullptr);
    ASSERT_GE(channel, 0);
    ASSERT_TRUE(host->WaitFor(QCSDK_EVENT_CONNECTED, 1, ScaledMs(10000)));
    ASSERT_EQ(QCSDK_GRPC_Begin(channel), 1);
  }
  void TearDown() override {
    if (channel >= 0) {
      EXPECT_EQ(QCSDK_GRPC_End(channel), 1);
    }
    QCSDK_ReleaseSDK();
    devices.Stop();
    host.reset();
  }
  // The channel's RPC context: the last call's code and message live there.
  GrpcContext* Context() {
    ChannelPtr found = FindChannel(channel);
    return found != nullptr ? found->Grpc() : nullptr;
  }
};

TEST_F(RpcE2eTest, SetThenGetReturnsEveryStoredMember) {
  qvbu_dev_get_info_result before{};
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &before), 1);
  ASSERT_NE(Context(), nullptr);
  EXPECT_EQ(Context()->errorcode, 0);
  EXPECT_EQ(before.rebootHour, 0);  // nothing stored yet: zeros

  qvbu_dev_set_info_param set{};
  set.bDiscoverable = 1;
  set.hostname = "cam-17";
  set.name = "loading bay";
  set.rebootDay = "sunday";
  set.rebootHour = 3;
  set.syslanguage = "fr";
  int32_t placeholder = -1;
  ASSERT_EQ(QCSDK_GRPC_dev_set_info(channel, &set, &placeholder), 1);
  EXPECT_EQ(placeholder, 0);

  qvbu_dev_get_info_result after{};
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &after), 1);
  EXPECT_EQ(after.bDiscoverable, 1);
  EXPECT_EQ(after.rebootHour, 3);
  ASSERT_NE(after.hostname, nullptr);
  ASSERT_NE(after.name, nullptr);
  ASSERT_NE(after.rebootDay, nullptr);
  ASSERT_NE(after.syslanguage, nullptr);
  EXPECT_STREQ(after.hostname, "cam-17");
  EXPECT_STREQ(after.name, "loading bay");
  EXPECT_STREQ(after.rebootDay, "sunday");
  EXPECT_STREQ(after.syslanguage, "fr");

  // A second set of fewer members keeps the others.
  qvbu_dev_set_info_param rename{};
  rename.name = "gate";
  rename.rebootHour = 5;
  rename.bDiscoverable = 0;
  ASSERT_EQ(QCSDK_GRPC_dev_set_info(channel, &rename, &placeholder), 1);
  qvbu_dev_get_info_result last{};
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &last), 1);
  ASSERT_NE(last.name, nullptr);
  EXPECT_STREQ(last.name, "gate");
  EXPECT_EQ(last.rebootHour, 5);
  EXPECT_EQ(last.bDiscoverable, 0);
  ASSERT_NE(last.hostname, nullptr);
  EXPECT_STREQ(last.hostname, "cam-17");
}

TEST_F(RpcE2eTest, ListsOfObjectsFollowAddsAndDeletes) {
  qvbu_account_add_user_param add{};
  add.name = "viewer";
  add.passwd = "look";
  add.level = "operator";
  add.description = "night shift";
  int32_t placeholder = -1;
  ASSERT_EQ(QCSDK_GRPC_account_add_user(channel, &add, &placeholder), 1);
  // The same name again is refused by the device.
  EXPECT_EQ(QCSDK_GRPC_account_add_user(channel, &add, &placeholder), 0);
  EXPECT_NE(Context()->errorcode, 0);
  EXPECT_STREQ(Context()->errmsg, "User exists");

  qvbu_account_get_users_result users{};
  ASSERT_EQ(QCSDK_GRPC_account_get_users(channel, nullptr, &users), 1);
  ASSERT_EQ(users.users_count, 2);
  ASSERT_NE(users.users, nullptr);
  std::map<std::string, std::pair<std::string, std::string>> byName;
  for (int32_t i = 0; i < users.users_count; ++i) {
    const auto& u = users.users[i];
    ASSERT_NE(u.name, nullptr);
    ASSERT_NE(u.level, nullptr);
    ASSERT_NE(u.description, nullptr);
    byName[u.name] = {u.level, u.description};
  }
  ASSERT_EQ(byName.count("admin"), 1u);
  ASSERT_EQ(byName.count("viewer"), 1u);
  EXPECT_EQ(byName["admin"].first, "admin");
  EXPECT_EQ(byName["viewer"].first, "operator");
  EXPECT_EQ(byName["viewer"].second, "night shift");

  qvbu_account_del_user_param del{};
  del.name = "viewer";
  ASSERT_EQ(QCSDK_GRPC_account_del_user(channel, &del, &placeholder), 1);
  qvbu_account_get_users_result remaining{};
  ASSERT_EQ(QCSDK_GRPC_account_get_users(channel, nullptr, &remaining), 1);
  ASSERT_EQ(remaining.users_count, 1);
  ASSERT_NE(remaining.users[0].name, nullptr);
  EXPECT_STREQ(remaining.users[0].name, "admin");

  // The IP access list keeps its entries in order.
  qvbu_shape_ipinfo entries[3] = {{1, "127.0.0.1", "127.0.0.9"},
                                  {0, "127.1.0.0", "127.1.255.255"},
                                  {1, "127.2.0.5", "127.2.0.5"}};
  qvbu_iplist_add_param ipAdd{};
  ipAdd.ipinfo_count = 3;
  ipAdd.ipinfo = entries;
  ASSERT_EQ(QCSDK_GRPC_iplist_add(channel, &ipAdd, &placeholder), 1);
  qvbu_iplist_get_result list{};
  ASSERT_EQ(QCSDK_GRPC_iplist_get(channel, nullptr, &list), 1);
  ASSERT_EQ(list.ipinfo_count, 3);
  ASSERT_NE(list.ipinfo, nullptr);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list.ipinfo[i].type, entries[i].type) << i;
    ASSERT_NE(list.ipinfo[i].iphead, nullptr);
    ASSERT_NE(list.ipinfo[i].iptail, nullptr);
    EXPECT_STREQ(list.ipinfo[i].iphead, entries[i].iphead) << i;
    EXPECT_STREQ(list.ipinfo[i].iptail, entries[i].iptail) << i;
  }
}

TEST_F(RpcE2eTest, WrongDigestIsRefusedWithTheDevicesCode) {
  GrpcContext* context = Context();
  ASSERT_NE(context, nullptr);
  // The login password was right; the RPC credentials are now wrong, so the
  // digest no longer matches the device's account.
  grpc_set_credentials(context, "admin", "not-the-password");
  qvbu_dev_get_info_result info{};
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &info), 0);
  EXPECT_EQ(context->errorcode, kAuthError);
  EXPECT_STREQ(context->errmsg, "Wrong user digest");
  EXPECT_EQ(info.name, nullptr);

  // A refused set changes nothing.
  qvbu_dev_set_info_param set{};
  set.name = "intruder";
  int32_t placeholder = -1;
  EXPECT_EQ(QCSDK_GRPC_dev_set_info(channel, &set, &placeholder), 0);
  EXPECT_EQ(context->errorcode, kAuthError);

  // An unknown user name is refused the same way.
  grpc_set_credentials(context, "nobody", "secret");
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &info), 0);
  EXPECT_EQ(context->errorcode, kAuthError);

  // Back to the right credentials: the code clears and the name was not set.
  grpc_set_credentials(context, "admin", "secret");
  ASSERT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &info), 1);
  EXPECT_EQ(context->errorcode, 0);
  EXPECT_EQ(context->errmsg[0], '\0');
  EXPECT_TRUE(info.name == nullptr || std::string(info.name) != "intruder");

  // An account added over RPC signs requests from then on.
  qvbu_account_add_user_param add{};
  add.name = "second";
  add.passwd = "pw2";
  ASSERT_EQ(QCSDK_GRPC_account_add_user(channel, &add, &placeholder), 1);
  grpc_set_credentials(context, "second", "pw2");
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &info), 1);
  grpc_set_credentials(context, "second", "pw3");
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &info), 0);
  EXPECT_EQ(context->errorcode, kAuthError);
  grpc_set_credentials(context, "admin", "secret");
}

TEST_F(RpcE2eTest, MethodTheDeviceDoesNotImplement) {
  devices.device(0).rpc().SetNotImplemented("dev_get_info");
  qvbu_dev_get_info_result info{};
  EXPECT_EQ(QCSDK_GRPC_dev_get_info(channel, nullptr, &info), 0);
  ASSERT_NE(Context(), nullptr);
  EXPECT_EQ(Context()->errorcode, kNotImplemented);
  EXPECT_STREQ(Context()->errmsg, "Method not implemented");
  // Other methods still answer.
  qvbu_account_get_users_result users{};
  EXPECT_EQ(QCSDK_GRPC_account_get_users(channel, nullptr, &users), 1);
  EXPECT_EQ(users.users_count, 1);
}

}  // namespace
}  // namespace qcsdk::test
