// The QCSDK_GRPC_<method> exports on channels of a scripted transport whose
// device side runs the generated server stubs.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "grpc/grpc_context.h"
#include "grpc/grpc_descriptor.h"
#include "grpc/qvbu_stub_table.h"
#include "qcsdk/channel/channel.h"
#include "qcsdk/facade/registry.h"
#include "rpc_test_support.h"
#include "support/fake_libraries.h"

namespace qcsdk::test {
namespace {

// The device behind a test channel: answers each request synchronously,
// like the OCT command exchange, with the result set by the test.
struct ScriptedDevice {
  std::mutex mutex;
  ScriptedTransport server;      // context for the server stubs' arena
  std::string error;             // "error" member to add, if not empty
  const void* answer = nullptr;  // result structure for the next answer
  std::vector<std::string> requests;
  std::atomic<int> inFlight{0};
  std::atomic<int> maxInFlight{0};
};

ScriptedDevice* g_device = nullptr;  // set by the fixture for the factory
bool g_withoutContext = false;

class ScriptedChannel : public Channel {
 public:
  ScriptedChannel(int32_t n, ScriptedDevice* device) : Channel(n), m_device(device) {
    if (g_withoutContext) {
      grpc_context_destroy(m_pGrpc);
      m_pGrpc = nullptr;
    }
  }
  bool Disconnect() override { return true; }
  bool EnableVideoData(bool) override { return true; }
  void InsertKeyFrame() override {}
  bool StartTalk() override { return false; }
  bool StopTalk() override { return false; }
  bool SendTalkData(const uint8_t*, int32_t) override { return false; }
  bool GetRemoteRecFileList(const int32_t*) override { return false; }
  bool RemotePlay(int32_t) override { return false; }
  bool RemotePlayControl(int32_t, int32_t) override { return false; }
  bool RemoteRecording(bool) override { return false; }
  bool RemoteConfig(int32_t) override { return false; }
  bool SendPTZCommand(int32_t, bool) override { return false; }
  bool SendUserData(const uint8_t*, int32_t) override { return false; }
  bool GrpcBegin() override { return true; }
  bool GrpcEnd() override { return true; }

  int32_t SendGrpcRequest(GrpcContext*, const char* text, int32_t length) override {
    int now = ++m_device->inFlight;
    int seen = m_device->maxInFlight.load();
    while (now > seen && !m_device->maxInFlight.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::yield();
    std::lock_guard<std::mutex> guard(m_device->mutex);
    std::string request(text, static_cast<std::size_t>(length));
    m_device->requests.push_back(request);
    JsonPtr root(cJSON_Parse(request.c_str()));
    const cJSON* method = cJSON_GetObjectItem(root.get(), "method");
    int32_t index = grpc::FindMethod(cJSON_IsString(method) ? method->valuestring : "");
    JsonPtr response(cJSON_CreateObject());
    cJSON_AddItemToObject(response.get(), "sentcnt",
                          cJSON_Duplicate(cJSON_GetObjectItem(root.get(), "sentcnt"), 1));
    if (!m_device->error.empty()) {
      cJSON_AddItemToObject(response.get(), "error", cJSON_Parse(m_device->error.c_str()));
    }
    if (index >= 0 && m_device->answer != nullptr) {
      grpc::kStubTable[index].generate_response(m_device->server.Qvbu(), response.get(),
                                                const_cast<void*>(m_device->answer));
    }
    m_pending = PrintJson(response.get());
    return length;
  }

  int32_t RecvGrpcResponse(GrpcContext*, char* buffer, int32_t capacity, int32_t*) override {
    std::string text;
    text.swap(m_pending);
    --m_device->inFlight;
    if (text.empty() || text.size() > static_cast<std::size_t>(capacity)) return -1;
    std::memcpy(buffer, text.data(), text.size());
    return static_cast<int32_t>(text.size());
  }

 private:
  ScriptedDevice* m_device;
  std::string m_pending;
};

ChannelPtr MakeScriptedChannel(int32_t n, bool) {
  return std::make_shared<ScriptedChannel>(n, g_device);
}

class GrpcExports : public testing::Test {
 protected:
  void SetUp() override {
    g_device = &m_device;
    g_withoutContext = false;
    SetChannelFactory(&MakeScriptedChannel);
  }
  void TearDown() override {
    RemoveAllChannels();
    SetChannelFactory(nullptr);
    g_device = nullptr;
    g_withoutContext = false;
  }
  int32_t Connect(const char* user = "admin", const char* password = "pw") {
    int32_t n = QCSDK_Connect("127.0.0.1", 9000, 0, user, password, 0, nullptr);
    EXPECT_GE(n, 0);
    return n;
  }

  FakeLibraries m_fakes;
  ScriptedDevice m_device;
};

TEST_F(GrpcExports, FailWithoutChannelOrContext) {
  qvbu_dev_get_info_result r;
  EXPECT_EQ(0, QCSDK_GRPC_dev_get_info(0, nullptr, &r));
  EXPECT_EQ(0, QCSDK_GRPC_dev_get_info(-1, nullptr, &r));
  EXPECT_EQ(0, QCSDK_GRPC_dev_get_info(512, nullptr, &r));
  EXPECT_EQ(0, QCSDK_GRPC_Begin(3));

  g_withoutContext = true;
  int32_t n = Connect();
  ASSERT_GE(n, 0);
  EXPECT_EQ(0, QCSDK_GRPC_dev_get_info(n, nullptr, &r));
  EXPECT_TRUE(m_device.requests.empty());
  EXPECT_EQ(1, QCSDK_GRPC_Begin(n));
}

TEST_F(GrpcExports, SucceedsWithTheDevicesResultAndCredentials) {
  int32_t n = Connect("operator", "secret");
  qvbu_dev_get_info_result answer = {1, "host", "cam", "mon", 3, "en"};
  m_device.answer = &answer;
  qvbu_dev_get_info_result r;
  ASSERT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &r));
  EXPECT_EQ(1, r.bDiscoverable);
  EXPECT_STREQ("host", r.hostname);
  EXPECT_STREQ("en", r.syslanguage);
  EXPECT_EQ(3, r.rebootHour);
  ASSERT_EQ(1u, m_device.requests.size());
  EXPECT_EQ(0u, m_device.requests[0].find(
                    "{\"method\":\"dev_get_info\",\"sentcnt\":1,\"user\":{\"name\":\"operator\","
                    "\"digest\":\""));
  EXPECT_EQ(std::string::npos, m_device.requests[0].find("secret"));

  // Strings handed out stay valid across later calls on the channel.
  const char* host = r.hostname;
  qvbu_dev_get_info_result again;
  ASSERT_EQ(1, QCSDK_GRPC_dev_get_info(n, nullptr, &again));
  EXPECT_STREQ("host", host);
}

TEST_F(GrpcExports, DeviceErrorsFailTheCallAndPlaceholdersAreCleared) {
  int32_t n = Connect();
  qvbu_iplist_limit_type_get_result answer = {2};
  m_device.answer = &answer;
  m_device.error = "{\"errorcode\":17,\"message\":\"denied\"}";
  qvbu_iplist_limit_type_get_result r = {9};
  EXPECT_EQ(0, QCSDK_GRPC_iplist_limit_type_get(n, nullptr, &r));
  EXPECT_EQ(0, r.limittype);  // the result carried with the error is not read
  ChannelPtr channel = FindChannel(n);
  ASSERT_TRUE(channel);
  EXPECT_EQ(17, channel->Grpc()->errorcode);
  EXPECT_STREQ("denied", channel->Grpc()->errmsg);

  int32_t placeholder = 42;
  EXPECT_EQ(0, QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder));
  EXPECT_EQ(0, placeholder);

  m_device.error = "{\"errorcode\":0}";
  placeholder = 42;
  EXPECT_EQ(1, QCSDK_GRPC_iplist_clear(n, nullptr, &placeholder));
  EXPECT_EQ(0, placeholder);
  EXPECT_EQ(1, QCSDK_GRPC_iplist_limit_type_get(n, nullptr, &r));
  EXPECT_EQ(2, r.limittype);

  // A method with request members and no request structure fails unsent.
  std::size_t sent = m_device.requests.size();
  EXPECT_EQ(0, QCSDK_GRPC_account_add_user(n, nullptr, &placeholder));
  EXPECT_EQ(sent, m_device.requests.size());
}

TEST_F(GrpcExports, EveryMethodThroughItsExport) {
  int32_t n = Connect();
  for (std::size_t m = 0; m < grpc::kStubTableSize; ++m) {
    const grpc::MethodDesc& method = grpc::kMethods[m];
    SCOPED_TRACE(method.name);
    RandomBuilder random(static_cast<uint32_t>(m + 77));
    void* param = nullptr;
    if (method.param != nullptr) {
      param = random.Block(method.param->size);
      random.Fill(*method.param, param);
    }
    std::size_t resultSize = method.result != nullptr ? method.result->size : sizeof(int32_t);
    void* answer = random.Block(resultSize);
    void* result = random.Block(resultSize);
    if (method.result != nullptr) random.Fill(*method.result, answer);
    m_device.answer = answer;
    *static_cast<int32_t*>(result) = 1;
    ASSERT_EQ(1, grpc::kStubTable[m].export_call(n, param, result));
    if (method.result != nullptr) {
      ExpectRoundTrip(*method.result, answer, result, "result");
    } else {
      EXPECT_EQ(0, *static_cast<int32_t*>(result));
    }
    ASSERT_EQ(m + 1, m_device.requests.size());
    EXPECT_NE(std::string::npos,
              m_device.requests.back().find(std::string("{\"method\":\"") + method.name + "\""));
  }
}

TEST_F(GrpcExports, CallsOnOneChannelAreSerialised) {
  int32_t n = Connect();
  qvbu_iplist_limit_type_get_result answer = {6};
  m_device.answer = &answer;
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (int c = 0; c < kCalls; ++c) {
        qvbu_iplist_limit_type_get_result r;
        if (QCSDK_GRPC_iplist_limit_type_get(n, nullptr, &r) == 1 && r.limittype == 6) ++ok;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(kThreads * kCalls, ok.load());
  EXPECT_EQ(1, m_device.maxInFlight.load());
  EXPECT_EQ(static_cast<uint32_t>(kThreads * kCalls), FindChannel(n)->Grpc()->sentcnt);
}

}  // namespace
}  // namespace qcsdk::test
