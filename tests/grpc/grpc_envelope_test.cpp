// The envelope: request counter, "user" digest, sending and receiving,
// response matching, error extraction and the receive bound.
#include "grpc/grpc_envelope.h"

#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <cstring>
#include <string>

#include "rpc_test_support.h"

namespace qcsdk::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A request tree with only "method" (or none when method is null).
void SetRequest(GrpcContext* context, const char* method) {
  cJSON_Delete(context->json);
  context->json = cJSON_CreateObject();
  if (method != nullptr) cJSON_AddStringToObject(context->json, "method", method);
}

TEST(GrpcEnvelope, SentcntStartsAtOneAndCountsEveryRequest) {
  ScriptedTransport t;
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));
  ASSERT_EQ(2u, t.sent.size());
  EXPECT_EQ("{\"method\":\"dev_get_info\",\"sentcnt\":1}", t.sent[0]);
  EXPECT_EQ("{\"method\":\"dev_get_info\",\"sentcnt\":2}", t.sent[1]);

  // Without a tree nothing is sent, but the counter still moves on.
  cJSON_Delete(t.Context()->json);
  t.Context()->json = nullptr;
  EXPECT_EQ(-1, grpc_send_request(t.Context()));
  EXPECT_EQ(3u, t.Context()->sentcnt);
  EXPECT_EQ(2u, t.sent.size());

  // A "sentcnt" already in the tree is overwritten, not repeated.
  SetRequest(t.Context(), "x");
  cJSON_AddNumberToObject(t.Context()->json, "SentCnt", 99);
  grpc_send_request(t.Context());
  EXPECT_EQ("{\"method\":\"x\",\"sentcnt\":4}", t.sent.back());
}

TEST(GrpcEnvelope, UserBlockCarriesMd5DigestOfUserMethodAndPassword) {
  // Expected digests are the MD5 test vectors of RFC 1321, split into
  // user name, method name and password.
  struct Case {
    const char* user;
    const char* method;
    const char* password;
    const char* digest;
  } cases[] = {
      {"a", "b", "c", "900150983cd24fb0d6963f7d28e17f72"},             // "abc"
      {"message ", "digest", "", "f96b697d7cb7938d525a2f31aaf161d0"},  // no password
      {"abcdefgh", "ijklmnopqrs", "tuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ab", nullptr, "c", "900150983cd24fb0d6963f7d28e17f72"},  // no "method"
  };
  for (const Case& c : cases) {
    ScriptedTransport t;
    grpc_set_credentials(t.Context(), c.user, c.password);
    SetRequest(t.Context(), c.method);
    ASSERT_GE(grpc_send_request(t.Context()), 0);
    std::string expected = "{";
    if (c.method != nullptr) expected += std::string("\"method\":\"") + c.method + "\",";
    expected += std::string("\"sentcnt\":1,\"user\":{\"name\":\"") + c.user + "\",\"digest\":\"" +
                c.digest + "\"}}";
    EXPECT_EQ(expected, t.sent.at(0)) << c.user;
  }

  // A "method" that is not a string stays out of the digest.
  ScriptedTransport t;
  grpc_set_credentials(t.Context(), "ab", "c");
  SetRequest(t.Context(), nullptr);
  cJSON_AddNumberToObject(t.Context()->json, "method", 5);
  grpc_send_request(t.Context());
  EXPECT_NE(std::string::npos, t.sent.at(0).find("900150983cd24fb0d6963f7d28e17f72"));

  // The password never travels; an empty user name sends no "user".
  ScriptedTransport plain;
  grpc_set_credentials(plain.Context(), "", "secret");
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(plain.Qvbu()));
  EXPECT_EQ("{\"method\":\"dev_get_info\",\"sentcnt\":1}", plain.sent.at(0));
  ScriptedTransport named;
  grpc_set_credentials(named.Context(), "admin", "secret");
  ASSERT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(named.Qvbu()));
  EXPECT_EQ(std::string::npos, named.sent.at(0).find("secret"));
}

TEST(GrpcEnvelope, SendFailuresAndShortSendsAreReported) {
  ScriptedTransport t;
  t.sendResult = -1;
  EXPECT_EQ(-1, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));

  t.sendResult = 3;
  CaptureStdout();
  EXPECT_EQ(0, CLIENT_REQ_qvbu_dev_get_info(t.Qvbu()));  // a short send is no failure
  std::string out = GetCapturedStdout();
  EXPECT_EQ(0u, out.find("send error  : ")) << out;
  EXPECT_NE(std::string::npos, out.find(", ret: 3, tosend: 37\n")) << out;

  // Without a send function the request counts as sent with 0 bytes.
  t.Context()->send_func = nullptr;
  CaptureStdout();
  SetRequest(t.Context(), "m");
  EXPECT_EQ(0, grpc_send_request(t.Context()));
  out = GetCapturedStdout();
  EXPECT_EQ(0u, out.find("send error: send func not setted\nsend error  : ")) << out;
}

TEST(GrpcEnvelope, MismatchedSentcntIsDroppedWithinOneBudget) {
  ScriptedTransport t;
  t.Context()->sentcnt = 4;
  t.stepMs = 100;
  t.responses = {"{\"sentcnt\":3,\"result\":{}}", "{\"result\":{}}", "{\"sentcnt\":\"4\"}",
                 "{\"sentcnt\":4,\"result\":{}}"};
  EXPECT_EQ(0, grpc_recv_response(t.Context()));
  EXPECT_EQ((std::vector<int32_t>{0, 100, 200, 300}), t.elapsedAtCall);
  EXPECT_TRUE(t.responses.empty());

  // A transport that keeps answering the wrong request times out.
  ScriptedTransport late;
  late.Context()->sentcnt = 2;
  late.stepMs = 1000;
  late.budgetMs = 5000;
  for (int i = 0; i < 10; ++i) late.responses.push_back("{\"sentcnt\":1}");
  EXPECT_EQ(-2, grpc_recv_response(late.Context()));
  EXPECT_EQ(6u, late.elapsedAtCall.size());
  EXPECT_EQ(nullptr, late.Context()->json);
}

TEST(GrpcEnvelope, ErrorMemberRules) {
  struct Case {
    const char* error;
    int32_t code;
    const char* message;
  } cases[] = {
      {"{\"errorcode\":-1,\"errcode\":17}", 17, ""},
      {"{\"errorcode\":-1,\"errcode\":\"17\"}", -1, ""},
      {"{\"message\":\"x\"}", -1, "x"},
      {"{\"errorcode\":0}", 0, ""},
      {"{\"errorcode\":5,\"errcode\":17,\"message\":7}", 5, ""},
      {"{\"errorcode\":\"5\",\"errcode\":17}", 17, ""},
      {"{\"ErrorCode\":-32001,\"MESSAGE\":\"Method not implemented\"}", -32001,
       "Method not implemented"},
      {"\"broken\"", -1, ""},
  };
  for (const Case& c : cases) {
    ScriptedTransport t;
    t.Context()->sentcnt = 1;
    t.Context()->errorcode = 99;
    std::strcpy(t.Context()->errmsg, "stale");
    t.responses.push_back(std::string("{\"sentcnt\":1,\"Error\":") + c.error + "}");
    EXPECT_EQ(0, grpc_recv_response(t.Context())) << c.error;
    EXPECT_EQ(c.code, t.Context()->errorcode) << c.error;
    EXPECT_STREQ(c.message, t.Context()->errmsg) << c.error;
  }

  // Neither "error" nor "result": a success that resets the last error.
  ScriptedTransport t;
  t.Context()->sentcnt = 1;
  t.Context()->errorcode = 3;
  t.responses.push_back("{\"sentcnt\":1}");
  EXPECT_EQ(0, grpc_recv_response(t.Context()));
  EXPECT_EQ(0, t.Context()->errorcode);

  // A long message keeps its first 255 characters.
  std::string message(300, 'm');
  message[254] = 'E';
  t.Context()->sentcnt = 2;
  t.responses.push_back("{\"sentcnt\":2,\"error\":{\"errorcode\":9,\"message\":\"" + message +
                        "\"}}");
  EXPECT_EQ(0, grpc_recv_response(t.Context()));
  EXPECT_EQ(255u, std::strlen(t.Context()->errmsg));
  EXPECT_EQ(message.substr(0, 255), t.Context()->errmsg);
}

TEST(GrpcEnvelope, ResponseTextHandling) {
  // Leading blanks and control bytes are skipped; names match in any case.
  ScriptedTransport t;
  t.Context()->sentcnt = 1;
  t.responses.push_back(" \t\r\n\x01{\"SENTCNT\":1,\"Result\":{\"limittype\":3}}");
  EXPECT_EQ(0, grpc_recv_response(t.Context()));
  qvbu_iplist_limit_type_get_result result;
  EXPECT_EQ(0, CLIENT_RESP_qvbu_iplist_limit_type_get(t.Qvbu(), &result));
  EXPECT_EQ(3, result.limittype);

  // Text that is not JSON.
  t.Context()->sentcnt = 2;
  t.responses.push_back("<html>");
  CaptureStdout();
  EXPECT_EQ(kGrpcParseError, grpc_recv_response(t.Context()));
  EXPECT_EQ("ERROR: Failed parse json: <html>\n", GetCapturedStdout());
  EXPECT_EQ(nullptr, t.Context()->json);

  // No receive function, a failing one, and one that delivers nothing.
  t.responses.clear();
  EXPECT_EQ(-1, grpc_recv_response(t.Context()));
  t.budgetMs = 0;
  t.stepMs = 1;
  EXPECT_EQ(-2, grpc_recv_response(t.Context()));
  t.Context()->recv_func = nullptr;
  CaptureStdout();
  EXPECT_EQ(-1, grpc_recv_response(t.Context()));
  EXPECT_EQ("recv error: recv func not setted\n", GetCapturedStdout());

  ScriptedTransport empty;
  empty.responses.push_back("{}");
  empty.claimedLength = 0;
  empty.Context()->errorcode = 12;
  SetRequest(empty.Context(), "m");
  EXPECT_EQ(0, grpc_recv_response(empty.Context()));
  EXPECT_EQ(12, empty.Context()->errorcode);  // left as it was
  EXPECT_NE(nullptr, empty.Context()->json);  // the request tree stays
}

TEST(GrpcEnvelope, ResponsesAreBoundedByTheReceiveArea) {
  // A response filling the whole 131,072-byte area is read.
  std::string body = "{\"sentcnt\":1}";
  std::string full(static_cast<std::size_t>(kGrpcRecvCapacity) - body.size(), ' ');
  full += body;
  ScriptedTransport t;
  t.Context()->sentcnt = 1;
  t.responses.push_back(full);
  EXPECT_EQ(0, grpc_recv_response(t.Context()));

  // A longer one is cut at the capacity by the transport and is no JSON.
  t.Context()->sentcnt = 2;
  t.responses.push_back(std::string(static_cast<std::size_t>(kGrpcRecvCapacity), ' ') +
                        "{\"sentcnt\":2}");
  CaptureStdout();
  EXPECT_EQ(kGrpcParseError, grpc_recv_response(t.Context()));
  GetCapturedStdout();

  // A transport claiming more than the capacity is not read past it.
  t.Context()->sentcnt = 3;
  t.claimedLength = 4 * kGrpcRecvCapacity;
  t.responses.push_back(std::string(static_cast<std::size_t>(kGrpcRecvCapacity) - 13, ' ') +
                        "{\"sentcnt\":3}");
  EXPECT_EQ(0, grpc_recv_response(t.Context()));
}

TEST(GrpcEnvelope, ArenaBlocksAndCredentials) {
  ScriptedTransport t;
  char* a = grpc_strdup(t.Context(), "alpha");
  char* b = grpc_strdup(t.Context(), "");
  ASSERT_NE(nullptr, a);
  EXPECT_STREQ("alpha", a);
  EXPECT_STREQ("", b);
  EXPECT_EQ(nullptr, grpc_strdup(t.Context(), nullptr));
  GrpcArenaBlock* newest = t.Context()->arena;
  ASSERT_NE(nullptr, newest);
  EXPECT_EQ(kGrpcArenaMagic, newest->magic);
  EXPECT_EQ(1u + 12u, newest->size);
  EXPECT_EQ(reinterpret_cast<char*>(newest + 1), b);
  EXPECT_EQ(reinterpret_cast<char*>(newest->next + 1), a);

  std::string longName(40, 'u');
  grpc_set_credentials(t.Context(), longName.c_str(), nullptr);
  EXPECT_EQ(31u, std::strlen(t.Context()->username));
  EXPECT_STREQ("", t.Context()->password);
}

}  // namespace
}  // namespace qcsdk::test
