#include "oct_fixture.h"

#include "support/process_probe.h"

namespace octc::test {
namespace {

// The recorder of the running test; the library's callbacks carry no user value.
Recorder* g_rec = nullptr;

template <typename F>
void Record(F f) {
  if (Recorder* r = g_rec) {
    r->Locked([&] { f(*r); });
    r->cv.notify_all();
  }
}

void OnConn(int32_t conn, int32_t event, int32_t, int32_t result, int32_t, int32_t, int32_t,
            const OctDevInfo* info) {
  ConnEvent e{conn, event, result, info != nullptr, {}};
  if (info != nullptr && info->device_id != nullptr) e.device_id = info->device_id;
  std::function<void(const ConnEvent&)> hook;
  Record([&](Recorder& r) {
    r.conns.push_back(e);
    hook = r.on_conn;
  });
  if (hook) hook(e);
}

template <char M>
void OnState(int32_t conn, int32_t handle, int32_t status, int32_t result) {
  Record([&](Recorder& r) { r.states.push_back({M, conn, handle, status, result}); });
}

template <char M>
void OnData(int32_t, int32_t handle, int32_t kind, const void*) {
  Record([&](Recorder& r) { r.data.push_back({M, handle, kind, {}}); });
}

void OnChat(int32_t, int32_t handle, const void* data, int32_t length) {
  auto* p = static_cast<const uint8_t*>(data);
  Record([&](Recorder& r) { r.data.push_back({'c', handle, 0, {p, p + length}}); });
}

}  // namespace

bool Recorder::WaitFor(const std::function<bool()>& pred, int ms) {
  // Wakes on every report and also every 10 ms, for conditions on the device side.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(ms));
  std::unique_lock<std::mutex> lock(mutex);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    cv.wait_for(lock, std::chrono::milliseconds(10));
  }
  return true;
}

void OctTest::SetUp() {
  std::thread([] {}).join();  // a sanitizer starts its helper thread with the first thread
  threads_before = qcsdk::test::ThreadCount();
  g_rec = &rec;
  ASSERT_EQ(octc_set_timeouts(2000, 10000, ScaledMs(5000)), 0);
  ASSERT_GE(octc_init_sdk("/tmp", 0, "qcsdk", 0, 0), 0);
  octc_encrypt_config(octc_default_encrypt_proc, octc_default_decrypt_proc);
  octc_register_callbacks(OnConn);
  ASSERT_EQ(octc_cmd_init_module([](int32_t, int32_t, const void*, int32_t) {}), 0);
  ASSERT_EQ(octc_stream_init_module(OnState<'s'>, OnData<'s'>), 0);
  ASSERT_EQ(octc_vod_init_module(OnState<'v'>, OnData<'v'>), 0);
  ASSERT_EQ(octc_down_init_module(OnState<'d'>, [](int32_t, int32_t, const OctDownData*) {}), 0);
  ASSERT_EQ(octc_chat_init_module(OnState<'c'>, OnChat), 0);
  config.channel_count = 2;
  config.password = "s3cret";
  dev = std::make_unique<device::DeviceEngine>(config, &handler);
  ASSERT_TRUE(dev->Start());
  ASSERT_NE(dev->port(), 0);
}

void OctTest::TearDown() {
  octc_chat_release_module();
  octc_down_release_module();
  octc_vod_release_module();
  octc_stream_release_module();
  octc_cmd_release_module();
  EXPECT_EQ(octc_release_sdk(), 0);
  g_rec = nullptr;
  dev->Stop();
  dev.reset();
  octc_set_timeouts(2000, 10000, 5000);
  // Every thread has been joined (a joined thread stays listed by the kernel for a moment).
  EXPECT_TRUE(rec.WaitFor([&] { return qcsdk::test::ThreadCount() == threads_before; }))
      << qcsdk::test::ThreadCount() << " threads, " << threads_before << " before";
}

int32_t OctTest::ConnectOk() {
  size_t before = rec.Locked([&] { return rec.conns.size(); });
  int32_t conn = octc_connect_by_hostname("127.0.0.1", dev->port(), "admin", "s3cret", 0, 0, 0);
  EXPECT_GT(conn, 0);
  EXPECT_EQ(WaitConn(before + 1).Key(), std::tuple(conn, OCTC_CONN_RESULT, 0));
  return conn;
}

}  // namespace octc::test
