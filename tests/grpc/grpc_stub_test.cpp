// The stub families on named methods: member mapping, defaults, wrong
// types, device errors, the default handlers and the server table.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstring>
#include <string>

#include "grpc/grpc_envelope.h"
#include "grpc/grpc_stubs.h"
#include "grpc/qvbu_stub_table.h"
#include "rpc_test_support.h"

namespace qcsdk::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const grpc::MethodDesc& Method(const char* name) {
  int32_t i = grpc::FindMethod(name);
  EXPECT_GE(i, 0) << name;
  return grpc::kMethods[i < 0 ? 0 : i];
}

// Answers the next request with {"sentcnt":N, <members>}.
void Answer(ScriptedTransport& t, const std::string& members) {
  t.onSend = [&t, members](const std::string&) {
    t.responses.push_back("{\"sentcnt\":" + std::to_string(t.Context()->sentcnt) +
                          (members.empty() ? "" : "," + members) + "}");
  };
}

TEST(GrpcStubs, DevGetInfoMapsMembersAndDefaults) {
  ScriptedTransport t;
  Answer(t,
         "\"result\":{\"bDiscoverable\":true,\"hostname\":\"cam\",\"NAME\":\"front\","
         "\"rebootDay\":7,\"rebootHour\":3.9,\"syslanguage\":null}");
  qvbu_dev_get_info_result r;
  std::memset(&r, 0x55, sizeof r);
  ASSERT_EQ(0, CLIENT_qvbu_dev_get_info(t.Qvbu(), nullptr, &r));
  EXPECT_EQ("{\"method\":\"dev_get_info\",\"sentcnt\":1}", t.sent.at(0));
  EXPECT_EQ(1, r.bDiscoverable);
  EXPECT_STREQ("cam", r.hostname);
  EXPECT_STREQ("front", r.name);
  EXPECT_EQ(nullptr, r.rebootDay);  // a number where a string belongs
  EXPECT_EQ(3, r.rebootHour);
  EXPECT_EQ(nullptr, r.syslanguage);

  // Every member missing or wrongly typed, or a "result" that is no object
  // and so has no members: the type defaults. No "result": all zeros. All
  // are success.
  for (const char* members :
       {"\"result\":{\"bDiscoverable\":1,\"rebootHour\":\"3\"}", "\"result\":[1,2]", ""}) {
    Answer(t, members);
    std::memset(&r, 0x55, sizeof r);
    ASSERT_EQ(0, CLIENT_qvbu_dev_get_info(t.Qvbu(), nullptr, &r));
    if (*members != '\0') ExpectDefaults(*Method("dev_get_info").result, &r, members);
    if (*members == '\0') ExpectAllZero(*Method("dev_get_info").result, &r, "no result");
  }
}

TEST(GrpcStubs, NestedObjectsAndArraysReadByTheRules) {
  ScriptedTransport t;
  // "task" absent: its fields stay 0, numbers included. "alarmout" holds
  // an object, a number and an object with a wrongly typed member.
  Answer(t,
         "\"result\":{\"alarmout\":[{\"almout_id\":4,\"type\":\"relay\",\"bNormallyClosed\":true},"
         "7,{\"almout_id\":\"x\"}],\"nDelay\":10}");
  qvbu_alarmin_get_param_param p = {1, 2};
  qvbu_alarmin_get_param_result r;
  ASSERT_EQ(0, CLIENT_qvbu_alarmin_get_param(t.Qvbu(), &p, &r));
  EXPECT_EQ(
      "{\"method\":\"alarmin_get_param\",\"param\":{\"almgroup_id\":1,\"channelid\":2},"
      "\"sentcnt\":1}",
      t.sent.at(0));
  EXPECT_EQ(10, r.nDelay);
  EXPECT_EQ(-1, r.addr);
  EXPECT_EQ(0, r.task.maxTime);
  EXPECT_EQ(0, r.task.time_count);
  EXPECT_EQ(nullptr, r.task.time);
  ASSERT_EQ(3, r.alarmout_count);
  EXPECT_EQ(4, r.alarmout[0].almout_id);
  EXPECT_STREQ("relay", r.alarmout[0].type);
  EXPECT_EQ(1, r.alarmout[0].bNormallyClosed);
  EXPECT_EQ(-1, r.alarmout[1].almout_id);  // not an object: no members, the defaults
  EXPECT_EQ(nullptr, r.alarmout[1].type);
  EXPECT_EQ(-1, r.alarmout[2].almout_id);
  EXPECT_EQ(nullptr, r.alarmout[2].type);

  // A present object with an empty time list, and one that is no object;
  // arrays of scalars.
  for (const char* task : {"{\"time\":[],\"bsos\":true}", "5"}) {
    Answer(t, std::string("\"result\":{\"task\":") + task + "}");
    ASSERT_EQ(0, CLIENT_qvbu_alarmin_get_param(t.Qvbu(), &p, &r));
    EXPECT_EQ(-1, r.task.maxTime) << task;
    EXPECT_EQ(task[0] == '{' ? 1 : 0, r.task.bsos) << task;
    EXPECT_EQ(0, r.task.time_count);
    EXPECT_EQ(nullptr, r.task.time);
  }

  Answer(t, "\"result\":{\"servers\":[\"a\",5,null,\"b\"]}");
  qvbu_dev_ntp_get_result ntp;
  ASSERT_EQ(0, CLIENT_qvbu_dev_ntp_get(t.Qvbu(), nullptr, &ntp));
  ASSERT_EQ(4, ntp.servers_count);
  EXPECT_STREQ("a", ntp.servers[0]);
  EXPECT_EQ(nullptr, ntp.servers[1]);
  EXPECT_EQ(nullptr, ntp.servers[2]);
  EXPECT_STREQ("b", ntp.servers[3]);
}

TEST(GrpcStubs, RequestsSkipNullStringsAndNullArrays) {
  ScriptedTransport t;
  const char* servers[] = {"ntp1", nullptr, "ntp2"};
  qvbu_dev_ntp_set_param ntp{};
  std::memset(&ntp, 0, sizeof ntp);
  ntp.servers_count = 3;
  ntp.servers = servers;
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_ntp_set(t.Qvbu(), &ntp));
  EXPECT_NE(std::string::npos, t.sent.back().find("\"servers\":[\"ntp1\",\"ntp2\"]"))
      << t.sent.back();

  int32_t data[] = {5, -7};
  qvbu_login_param login = {nullptr, 2, data};
  ASSERT_EQ(0, CLIENT_REQ_qvbu_login(t.Qvbu(), &login));
  EXPECT_EQ("{\"method\":\"login\",\"param\":{\"data\":[5,-7]},\"sentcnt\":2}", t.sent.back());
  login.data = nullptr;
  login.data_count = 3;
  ASSERT_EQ(0, CLIENT_REQ_qvbu_login(t.Qvbu(), &login));
  EXPECT_EQ("{\"method\":\"login\",\"param\":{},\"sentcnt\":3}", t.sent.back());

  // The "method" member of "param" does not disturb the envelope's.
  qvbu_dev_update_check_param check = {"http", nullptr, nullptr, nullptr};
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_update_check(t.Qvbu(), &check));
  EXPECT_EQ("{\"method\":\"dev_update_check\",\"param\":{\"method\":\"http\"},\"sentcnt\":4}",
            t.sent.back());

  // Bools go out as true/false whatever the non-zero value; letter case of
  // method and member names is kept.
  qvbu_account_add_user_param user = {"u", nullptr, "admin", nullptr};
  ASSERT_EQ(0, CLIENT_REQ_qvbu_account_add_user(t.Qvbu(), &user));
  EXPECT_EQ(
      "{\"method\":\"account_add_user\",\"param\":{\"name\":\"u\",\"level\":\"admin\"},"
      "\"sentcnt\":5}",
      t.sent.back());
  qvbu_aduio_get_ability_param audio = {2};
  ASSERT_EQ(0, CLIENT_REQ_qvbu_aduio_get_ability(t.Qvbu(), &audio));
  EXPECT_EQ("{\"method\":\"aduio_get_ability\",\"param\":{\"channelid\":2},\"sentcnt\":6}",
            t.sent.back());
  qvbu_remoteOSD_param osd;
  std::memset(&osd, 0, sizeof osd);
  ASSERT_EQ(0, CLIENT_REQ_qvbu_remoteOSD(t.Qvbu(), &osd));
  EXPECT_EQ(0u, t.sent.back().find("{\"method\":\"remoteOSD\",\"param\":{"));

  // A method with request members refuses a missing structure.
  EXPECT_EQ(-1, CLIENT_REQ_qvbu_account_add_user(t.Qvbu(), nullptr));
  EXPECT_EQ(7u, t.sent.size());
}

TEST(GrpcStubs, DeviceErrorsAndPlaceholders) {
  ScriptedTransport t;
  // Without result members the placeholder is cleared even on an error
  // (the rows of device errors are on the exports).
  Answer(t, "\"error\":{\"errcode\":-5}");
  int32_t placeholder = 77;
  EXPECT_EQ(-5, CLIENT_qvbu_iplist_clear(t.Qvbu(), nullptr, &placeholder));
  EXPECT_EQ(0, placeholder);

  // The first failing step ends the call: a failed send leaves the result
  // untouched.
  t.onSend = nullptr;
  t.sendResult = -1;
  placeholder = 77;
  EXPECT_EQ(-1, CLIENT_qvbu_iplist_clear(t.Qvbu(), nullptr, &placeholder));
  EXPECT_EQ(77, placeholder);
  t.sendResult = -100;
  EXPECT_EQ(-1, CLIENT_qvbu_iplist_clear(t.Qvbu(), nullptr, &placeholder));  // no answer
}

TEST(GrpcStubs, DefaultHandlersAndServerTable) {
  ScriptedTransport t;
  struct Case {
    const char* method;
    int line;
  } cases[] = {{"account_get_users", 8}, {"account_add_user", 31}};
  for (const Case& c : cases) {
    int32_t i = grpc::FindMethod(c.method);
    ASSERT_GE(i, 0);
    cJSON_Delete(t.Context()->json);
    t.Context()->json = cJSON_Parse("{\"method\":\"x\",\"param\":{\"name\":\"n\",\"level\":3}}");
    CaptureStdout();
    EXPECT_EQ(kGrpcNotImplemented, grpc::kServerMethods[i].handler(t.Qvbu()));
    char expected[200];
    std::snprintf(expected, sizeof expected, "NOT_FINISHED %s:USERDEF_qvbu_%s =>%4d: called\n",
                  "..\\..\\..\\src\\grpc\\qvbu_s_userdef", c.method, c.line);
    EXPECT_EQ(expected, GetCapturedStdout());
    EXPECT_EQ(kGrpcNotImplemented, t.Context()->errorcode);
    EXPECT_STREQ("Method not implemented", t.Context()->errmsg);
  }

  // 242 entries in catalogue order, each with its own handler, then zeros.
  ASSERT_EQ(242u, grpc::kMethodCount);
  ASSERT_EQ(grpc::kMethodCount, grpc::kStubTableSize);
  for (std::size_t i = 0; i < grpc::kMethodCount; ++i) {
    EXPECT_STREQ(grpc::kMethods[i].name, grpc::kServerMethods[i].name);
    EXPECT_STREQ(grpc::kMethods[i].name, grpc::kStubTable[i].name);
    EXPECT_EQ(grpc::kStubTable[i].userdef, grpc::kServerMethods[i].handler) << i;
    EXPECT_EQ(0, grpc::kServerMethods[i].reserved);
    EXPECT_EQ(static_cast<int32_t>(i), grpc::FindMethod(grpc::kMethods[i].name));
  }
  EXPECT_EQ(nullptr, grpc::kServerMethods[grpc::kMethodCount].name);
  EXPECT_EQ(nullptr, grpc::kServerMethods[grpc::kMethodCount].handler);
  EXPECT_EQ(-1, grpc::FindMethod("REMOTEOSD"));
  EXPECT_GE(grpc::FindMethod("remoteOSD"), 0);
}

TEST(GrpcStubs, ServerStubsParseAndGenerate) {
  ScriptedTransport server;
  // The parser reads "param" without clearing first; no "param" changes
  // nothing.
  qvbu_account_add_user_param p = {"keep", "keep", "keep", "keep"};
  JsonPtr none(cJSON_Parse("{\"method\":\"account_add_user\"}"));
  SERVER_PARSE_REQ_qvbu_account_add_user(server.Qvbu(), none.get(), &p);
  EXPECT_STREQ("keep", p.name);
  JsonPtr req(cJSON_Parse("{\"param\":{\"Name\":\"bob\",\"passwd\":1}}"));
  SERVER_PARSE_REQ_qvbu_account_add_user(server.Qvbu(), req.get(), &p);
  EXPECT_STREQ("bob", p.name);
  EXPECT_EQ(nullptr, p.passwd);
  EXPECT_EQ(nullptr, p.level);

  qvbu_dev_get_info_result info = {1, nullptr, "n", nullptr, 4, nullptr};
  JsonPtr root(cJSON_CreateObject());
  SERVER_GENERATE_RESP_qvbu_dev_get_info(server.Qvbu(), root.get(), &info);
  EXPECT_EQ("{\"result\":{\"bDiscoverable\":true,\"name\":\"n\",\"rebootHour\":4}}",
            PrintJson(root.get()));
  // Methods without result members add nothing.
  JsonPtr empty(cJSON_CreateObject());
  int32_t placeholder = 0;
  SERVER_GENERATE_RESP_qvbu_iplist_clear(server.Qvbu(), empty.get(), &placeholder);
  EXPECT_EQ("{}", PrintJson(empty.get()));
}

}  // namespace
}  // namespace qcsdk::test
