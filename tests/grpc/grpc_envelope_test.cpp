// The envelope: counter, "user" digest, send and receive, matching, errors, the receive bound.
#include "grpc/grpc_envelope.h"

#include <gmock/gmock.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstring>

#include "rpc_test_support.h"
#include "support/table_file.h"

namespace qcsdk::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

void SetRequest(GrpcContext* context, const std::string& members) {
  cJSON_Delete(context->json);
  context->json = cJSON_Parse(("{" + members + "}").c_str());
}

// Receives one queued response text for request number `sentcnt`.
int32_t Receive(ScriptedTransport& t, uint32_t sentcnt, const std::string& text) {
  t.Context()->sentcnt = sentcnt;
  t.responses.push_back(text);
  return grpc_recv_response(t.Context());
}

TEST(GrpcEnvelope, SentcntAndTheUserDigest) {
  ScriptedTransport t;
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));
  // No tree: nothing sent, the counter moves on; a "sentcnt" in the tree is overwritten, any case.
  cJSON_Delete(t.Context()->json);
  t.Context()->json = nullptr;
  EXPECT_EQ(-1, grpc_send_request(t.Context()));
  SetRequest(t.Context(), R"("method":"x","SentCnt":99)");
  grpc_send_request(t.Context());
  EXPECT_THAT(t.sent, testing::ElementsAre(R"({"method":"dev_get_info","sentcnt":1})",
                                           R"({"method":"x","sentcnt":3})"));

  for (const TableRow& row : Table("grpc/user_digests.md")) {
    ScriptedTransport u;
    grpc_set_credentials(u.Context(), row.Text("user").c_str(), row.Text("password").c_str());
    const std::string& method = row.Text("method member");
    SetRequest(u.Context(), method);
    ASSERT_GE(grpc_send_request(u.Context()), 0);
    std::string expected = "{" + method + (method.empty() ? "" : ",") + "\"sentcnt\":1";
    if (!row.Text("digest").empty()) {
      expected += R"(,"user":{"name":")" + row.Text("user") + R"(","digest":")" +
                  row.Text("digest") + "\"}";
    }
    EXPECT_EQ(expected + "}", u.sent.at(0)) << row.Where();
  }

  // A null password is empty; strings live in the arena.
  grpc_set_credentials(t.Context(), "u", nullptr);
  EXPECT_STREQ("", t.Context()->password);
  char *a = grpc_strdup(t.Context(), "alpha"), *b = grpc_strdup(t.Context(), "");
  EXPECT_EQ(nullptr, grpc_strdup(t.Context(), nullptr));
  const GrpcArenaBlock* newest = t.Context()->arena;
  ASSERT_NE(nullptr, newest);
  EXPECT_EQ(std::tuple(kGrpcArenaMagic, 1u + 12u), std::tuple(newest->magic, newest->size));
  EXPECT_EQ(reinterpret_cast<const char*>(newest + 1), b);
  EXPECT_EQ(reinterpret_cast<const char*>(newest->next + 1), a);
  EXPECT_STREQ("alpha", a);
}

TEST(GrpcEnvelope, SendAndReceiveFailures) {
  ScriptedTransport t;
  t.sendResult = -1;
  EXPECT_EQ(-1, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));
  t.sendResult = 3;  // a short send is no failure
  CaptureStdout();
  EXPECT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));
  EXPECT_EQ(0u, GetCapturedStdout().find("send error  : ")) << "short send";
  // Without a send function the request counts as sent with 0 bytes.
  t.Context()->send_func = nullptr;
  SetRequest(t.Context(), R"("method":"m")");
  CaptureStdout();
  EXPECT_EQ(0, grpc_send_request(t.Context()));
  EXPECT_EQ(0u, GetCapturedStdout().find("send error: send func not setted\nsend error  : "));

  // Leading blanks and control bytes are skipped; names match in any case.
  ASSERT_EQ(0, Receive(t, 1, " \t\r\n\x01{\"SENTCNT\":1,\"Result\":{\"limittype\":3}}"));
  qvbu_iplist_limit_type_get_result result;
  EXPECT_EQ(0, CLIENT_RESP_qvbu_iplist_limit_type_get(t.Qvbu(), &result));
  EXPECT_EQ(3, result.limittype);
  CaptureStdout();
  EXPECT_EQ(kGrpcParseError, Receive(t, 2, "<html>"));
  EXPECT_EQ("ERROR: Failed parse json: <html>\n", GetCapturedStdout());
  EXPECT_EQ(nullptr, t.Context()->json);
  EXPECT_EQ(-1, grpc_recv_response(t.Context()));  // nothing to receive
  t.budgetMs = 0;
  t.stepMs = 1;
  EXPECT_EQ(-2, grpc_recv_response(t.Context()));
  t.Context()->recv_func = nullptr;
  CaptureStdout();
  EXPECT_EQ(-1, grpc_recv_response(t.Context()));
  EXPECT_EQ("recv error: recv func not setted\n", GetCapturedStdout());

  // A receive that delivers nothing leaves the request tree and the error.
  ScriptedTransport empty;
  empty.claimedLength = 0;
  empty.Context()->errorcode = 12;
  SetRequest(empty.Context(), R"("method":"m")");
  EXPECT_EQ(0, Receive(empty, 0, "{}"));
  EXPECT_EQ(12, empty.Context()->errorcode);
  EXPECT_NE(nullptr, empty.Context()->json);
}

TEST(GrpcEnvelope, ResponsesMatchTheirRequestWithinOneBudgetAndCarryTheirError) {
  ScriptedTransport t;
  t.stepMs = 100;
  t.responses = {R"({"sentcnt":3,"result":{}})", R"({"result":{}})", R"({"sentcnt":"4"})"};
  EXPECT_EQ(0, Receive(t, 4, R"({"sentcnt":4,"result":{}})"));
  EXPECT_EQ((std::vector<int32_t>{0, 100, 200, 300}), t.elapsedAtCall);
  // Answers to another request until the budget (5 s) is spent: a time-out.
  ScriptedTransport late;
  late.stepMs = 1000;
  late.budgetMs = 5000;
  late.responses.assign(9, R"({"sentcnt":1})");
  EXPECT_EQ(-2, Receive(late, 2, R"({"sentcnt":1})"));
  EXPECT_EQ(std::tuple(6u, nullptr), std::tuple(late.elapsedAtCall.size(), late.Context()->json));

  // A response filling the receive area is read; a byte more is cut, no JSON; longer claims unread.
  const std::string body = R"({"sentcnt":1})";
  const std::size_t capacity = static_cast<std::size_t>(kGrpcRecvCapacity);
  EXPECT_EQ(0, Receive(t, 1, std::string(capacity - body.size(), ' ') + body));
  CaptureStdout();
  EXPECT_EQ(kGrpcParseError, Receive(t, 1, std::string(capacity + 1 - body.size(), ' ') + body));
  GetCapturedStdout();
  t.claimedLength = 4 * kGrpcRecvCapacity;
  EXPECT_EQ(0, Receive(t, 1, std::string(capacity - body.size(), ' ') + body));

  for (const TableRow& row : Table("grpc/error_members.md")) {
    ScriptedTransport u;
    u.Context()->errorcode = 99;
    std::strcpy(u.Context()->errmsg, "stale");
    const std::string& member = row.Text("error member");
    const std::string error = member.empty() ? "" : ",\"Error\":" + member;
    EXPECT_EQ(0, Receive(u, 1, "{\"sentcnt\":1" + error + "}")) << row.Where();
    EXPECT_EQ(row.Int("error code"), u.Context()->errorcode) << row.Where();
    EXPECT_EQ(row.Text("message"), u.Context()->errmsg) << row.Where();
  }
  // A long message keeps its first 255 characters.
  ScriptedTransport longError;
  std::string message(300, 'm');
  message[254] = 'E';
  EXPECT_EQ(0, Receive(longError, 2,
                       R"({"sentcnt":2,"error":{"errorcode":9,"message":")" + message + "\"}}"));
  EXPECT_EQ(message.substr(0, 255), longError.Context()->errmsg);
}

}  // namespace
}  // namespace qcsdk::test
