// The stubs on named methods: wrongly typed or missing members, request rules, the server side.
#include <gmock/gmock.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstring>

#include "grpc/grpc_envelope.h"
#include "grpc/qvbu_stub_table.h"
#include "rpc_test_support.h"

namespace qcsdk::test {
namespace {

// Answers the next request with {"sentcnt":N, <members>}.
void Answer(ScriptedTransport& t, const std::string& members) {
  t.onSend = [&t, members](const std::string&) {
    t.responses.push_back("{\"sentcnt\":" + std::to_string(t.Context()->sentcnt) +
                          (members.empty() ? "" : "," + members) + "}");
  };
}

TEST(GrpcStubs, ResultsFollowTheTypeRules) {
  ScriptedTransport t;
  Answer(t, R"("result":{"bDiscoverable":true,"hostname":"cam","NAME":"front","rebootDay":7,)"
            R"("rebootHour":3.9,"syslanguage":null})");
  qvbu_dev_get_info_result r;
  ASSERT_EQ(0, CLIENT_qvbu_dev_get_info(t.Qvbu(), nullptr, &r));
  // A number where a string belongs is no string.
  const grpc::MethodDesc& info = grpc::kMethods[grpc::FindMethod("dev_get_info")];
  EXPECT_EQ(R"({bDiscoverable:1 hostname:"cam" name:"front" rebootDay:null rebootHour:3 )"
            R"(syslanguage:null })",
            Dump(*info.result, &r));
  // Wrong types, or a "result" that is no object: defaults; no "result": zeros. All succeed.
  for (const char* members :
       {R"("result":{"bDiscoverable":1,"rebootHour":"3"})", R"("result":[1,2])", ""}) {
    Answer(t, members);
    std::memset(&r, 0x55, sizeof r);
    ASSERT_EQ(0, CLIENT_qvbu_dev_get_info(t.Qvbu(), nullptr, &r));
    const DumpAs expected = *members != '\0' ? DumpAs::kDefaults : DumpAs::kZeros;
    EXPECT_EQ(Dump(*info.result, &r, expected), Dump(*info.result, &r)) << members;
  }

  // An absent object stays zeros, a non-object gets defaults; bad array elements: defaults or null.
  Answer(t, R"("result":{"alarmout":[{"almout_id":4,"type":"relay"},7],"nDelay":10})");
  qvbu_alarmin_get_param_param p = {1, 2};
  qvbu_alarmin_get_param_result a;
  ASSERT_EQ(0, CLIENT_qvbu_alarmin_get_param(t.Qvbu(), &p, &a));
  EXPECT_EQ(R"({"method":"alarmin_get_param","param":{"almgroup_id":1,"channelid":2},"sentcnt":5})",
            t.sent.back());
  EXPECT_EQ(std::tuple(-1, 0), std::tuple(a.addr, a.task.maxTime));
  ASSERT_EQ(2, a.alarmout_count);
  EXPECT_EQ(4, a.alarmout[0].almout_id);
  EXPECT_STREQ("relay", a.alarmout[0].type);
  EXPECT_EQ(-1, a.alarmout[1].almout_id);
  Answer(t, R"("result":{"task":5})");
  ASSERT_EQ(0, CLIENT_qvbu_alarmin_get_param(t.Qvbu(), &p, &a));
  EXPECT_EQ(std::tuple(-1, nullptr), std::tuple(a.task.maxTime, a.task.time));
  Answer(t, R"("result":{"servers":["a",5,null,"b"]})");
  qvbu_dev_ntp_get_result ntp;
  ASSERT_EQ(0, CLIENT_qvbu_dev_ntp_get(t.Qvbu(), nullptr, &ntp));
  EXPECT_EQ(R"({bEnableNtp:0 sntpInterval:-1 servers:["a",null,null,"b",] })",
            Dump(*grpc::kMethods[grpc::FindMethod("dev_ntp_get")].result, &ntp));
}

TEST(GrpcStubs, RequestsAndPlaceholders) {
  ScriptedTransport t;
  // A "method" member of "param" leaves the envelope's alone; names keep their letter case.
  qvbu_dev_update_check_param check = {"http", nullptr, nullptr, nullptr};
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_update_check(t.Qvbu(), &check));
  qvbu_aduio_get_ability_param audio = {2};
  ASSERT_EQ(0, CLIENT_REQ_qvbu_aduio_get_ability(t.Qvbu(), &audio));
  EXPECT_THAT(t.sent, testing::ElementsAre(
                          R"({"method":"dev_update_check","param":{"method":"http"},"sentcnt":1})",
                          R"({"method":"aduio_get_ability","param":{"channelid":2},"sentcnt":2})"));
  // A method with request members refuses a missing structure unsent.
  EXPECT_EQ(-1, CLIENT_REQ_qvbu_account_add_user(t.Qvbu(), nullptr));
  EXPECT_EQ(2u, t.sent.size());

  // No result members: the placeholder is cleared even on a device error, kept on a failed send.
  Answer(t, R"("error":{"errcode":-5})");
  int32_t placeholder = 77;
  EXPECT_EQ(-5, CLIENT_qvbu_iplist_clear(t.Qvbu(), nullptr, &placeholder));
  EXPECT_EQ(0, placeholder);
  t.onSend = nullptr;
  t.sendResult = -1;
  placeholder = 77;
  EXPECT_EQ(-1, CLIENT_qvbu_iplist_clear(t.Qvbu(), nullptr, &placeholder));
  EXPECT_EQ(77, placeholder);
  t.sendResult = -100;
  EXPECT_EQ(-1, CLIENT_qvbu_iplist_clear(t.Qvbu(), nullptr, &placeholder));
}

TEST(GrpcStubs, ServerTableHandlersAndStubs) {
  // 242 entries in catalogue order, each with its own handler, then zeros.
  ASSERT_EQ(242u, grpc::kMethodCount);
  ASSERT_EQ(grpc::kMethodCount, grpc::kStubTableSize);
  for (std::size_t i = 0; i < grpc::kMethodCount; ++i) {
    EXPECT_STREQ(grpc::kMethods[i].name, grpc::kServerMethods[i].name);
    EXPECT_STREQ(grpc::kMethods[i].name, grpc::kStubTable[i].name);
    EXPECT_EQ(grpc::kStubTable[i].userdef, grpc::kServerMethods[i].handler) << i;
    EXPECT_EQ(static_cast<int32_t>(i), grpc::FindMethod(grpc::kMethods[i].name));
  }
  EXPECT_EQ(nullptr, grpc::kServerMethods[grpc::kMethodCount].handler);
  EXPECT_EQ(-1, grpc::FindMethod("REMOTEOSD"));

  // The default handlers answer "not implemented" and say where they are.
  ScriptedTransport server;
  for (const auto& [method, line] : {std::pair{"account_get_users", 8}, {"account_add_user", 31}}) {
    cJSON_Delete(server.Context()->json);
    server.Context()->json = cJSON_Parse(R"({"param":{"name":"n","level":3}})");
    testing::internal::CaptureStdout();
    EXPECT_EQ(kGrpcNotImplemented,
              grpc::kServerMethods[grpc::FindMethod(method)].handler(server.Qvbu()));
    char expected[200];
    std::snprintf(expected, sizeof expected, "NOT_FINISHED %s:USERDEF_qvbu_%s =>%4d: called\n",
                  "..\\..\\..\\src\\grpc\\qvbu_s_userdef", method, line);
    EXPECT_EQ(expected, testing::internal::GetCapturedStdout());
    EXPECT_STREQ("Method not implemented", server.Context()->errmsg);
  }

  // The parser reads "param" over what is there (none: no change); the writer omits nulls.
  qvbu_account_add_user_param p = {"keep", "keep", "keep", "keep"};
  JsonPtr none(cJSON_Parse(R"({"method":"account_add_user"})"));
  SERVER_PARSE_REQ_qvbu_account_add_user(server.Qvbu(), none.get(), &p);
  EXPECT_STREQ("keep", p.name);
  JsonPtr req(cJSON_Parse(R"({"param":{"Name":"bob","passwd":1}})"));
  SERVER_PARSE_REQ_qvbu_account_add_user(server.Qvbu(), req.get(), &p);
  EXPECT_STREQ("bob", p.name);
  EXPECT_EQ(nullptr, p.passwd);
  qvbu_dev_get_info_result info = {1, nullptr, "n", nullptr, 4, nullptr};
  JsonPtr root(cJSON_CreateObject());
  SERVER_GENERATE_RESP_qvbu_dev_get_info(server.Qvbu(), root.get(), &info);
  EXPECT_EQ(R"({"result":{"bDiscoverable":true,"name":"n","rebootHour":4}})",
            PrintJson(root.get()));
}

}  // namespace
}  // namespace qcsdk::test
