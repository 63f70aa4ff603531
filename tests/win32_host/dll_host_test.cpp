// A Windows host's whole session through qcsdk.dll, loaded with LoadLibraryA and every export
// resolved with GetProcAddress (no import library): a device of the native simulator streams its
// test pattern over Nxl; the link comes up, the pictures are decoded, drawn into the host's window
// and recorded, an RPC call is answered, and the SDK is released and unloaded.
#include <windows.h>

#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "qcsdk/base/bytes.h"
#include "support/event_log.h"
#include "support/host_window.h"
#include "support/process_probe.h"
#include "support/simulated_devices.h"
#include "vdevice/pattern_encoder.h"

namespace qcsdk::test {
namespace {

constexpr int kWidth = 320, kHeight = 240;  // the device's pictures
constexpr int kWindowWidth = kWidth + 40;

// What the host's callbacks (C convention) saw: event codes, decoded picture sizes.
EventLog<int32_t> g_events;
EventLog<std::pair<int32_t, int32_t>> g_pictures;

void QCSDK_CALLBACK OnEvent(int32_t, int32_t code, const char*, int32_t, void*) {
  g_events.Add(code);
}
void QCSDK_CALLBACK OnPicture(int32_t, const DecodedFrame* frame, void*) {
  g_pictures.Add({frame->width, frame->height});
}

// The export `name` of the DLL, as the type of its declaration.
template <typename F>
F* Resolve(HMODULE dll, const char* name) {
  if (FARPROC f = GetProcAddress(dll, name))
    return reinterpret_cast<F*>(reinterpret_cast<void*>(f));
  throw std::runtime_error(std::string("not exported: ") + name);
}
#define SDK(f) Resolve<decltype(::f)>(dll, #f)

TEST(DllHost, ConnectsDecodesDrawsRecordsCallsAndUnloads) {
  // The window and the device first: wine's display and socket threads stay.
  HostWindow window(kWindowWidth, kHeight + 20);
  const QCSDK_Rect rect{20, 10, 20 + kWidth, 10 + kHeight};
  SimulatedDevices devices;
  std::string error;
  const int port = devices.AddDevice("user=host,password=pw", &error).nxl;
  ASSERT_GT(port, 0) << error;
  const int threads = ThreadCount();
  const auto file = std::filesystem::temp_directory_path() /
                    ("qcsdk_dll_host_" + std::to_string(GetCurrentProcessId()) + ".sv5");
  const auto waitEvent = [](int32_t code) {
    return g_events.WaitCount(1, [code](int32_t c) { return c == code; });
  };
  const auto waitPictures = [](size_t more) {
    return g_pictures.WaitCount(g_pictures.Count() + more);
  };

  HMODULE dll = LoadLibraryA("qcsdk.dll");
  ASSERT_NE(dll, nullptr) << GetLastError();
  SDK(QCSDK_RegisterCallback)(&OnEvent, nullptr, nullptr, &OnPicture, nullptr);
  ASSERT_EQ(SDK(QCSDK_InitSDK)(0, nullptr), 1);
  const int32_t n = SDK(QCSDK_Connect)("127.0.0.1", port, 0, "host", "pw", 0, nullptr);
  ASSERT_EQ(n, 0);
  ASSERT_TRUE(waitEvent(QCSDK_EVENT_CONNECTED));
  ASSERT_EQ(SDK(QCSDK_EnableDecoder)(n, 1), 1);
  ASSERT_EQ(SDK(QCSDK_SetVideoPreview)(n, window.handle(), &rect), 1);
  ASSERT_TRUE(waitPictures(5));
  // Display off: nothing draws after it returns, and the window keeps the last picture.
  EXPECT_EQ(SDK(QCSDK_SetVideoPreview)(n, nullptr, nullptr), 1);
  EXPECT_EQ(g_pictures.Snapshot().back(), std::pair(kWidth, kHeight));
  const std::vector<uint32_t> pixels = window.Pixels();
  // Mean luma distance of the rectangle from the nearest of the device's 50 pattern pictures, over
  // the pixels below the label band that the way to RGB left unclipped (a channel at 0 or 255 has
  // lost luma; dark pictures clip half of theirs): 2.1 measured; 9.3 or more a pixel off, upside
  // down or red and blue swapped (the same pictures through swscale). The band carries the label
  // (channel and clock), also in predicted pictures: its light pixels are counted. Outside the
  // rectangle the window keeps the host's colour.
  const int labelRows = vdevice::PatternLabelRows(kHeight);
  const auto clipped = [](uint32_t c) {
    return ((c & 0xFF) + 1) % 256 < 2 || ((c >> 8 & 0xFF) + 1) % 256 < 2 ||
           ((c >> 16 & 0xFF) + 1) % 256 < 2;
  };
  int lit = 0, compared = 0;
  double best = 1e9;
  int outside = 0;
  for (int index = 0; index < 50; ++index) {
    double sum = 0;
    compared = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
      const int x = static_cast<int>(i) % kWindowWidth - rect.left;
      const int y = static_cast<int>(i) / kWindowWidth - rect.top;
      if (x < 0 || x >= kWidth || y < 0 || y >= kHeight) {
        outside += index == 0 && pixels[i] != kHostColour;
      } else if (y < labelRows) {
        lit += index == 0 && Luma(pixels[i]) > 140;
      } else if (!clipped(pixels[i])) {
        sum += std::abs(Luma(pixels[i]) - vdevice::PatternLuma(x, y, index, kHeight));
        ++compared;
      }
    }
    best = std::min(best, sum / std::max(compared, 1));
  }
  EXPECT_LT(best, 6.0);
  EXPECT_GT(compared, kWidth * (kHeight - labelRows) / 3);
  EXPECT_TRUE(lit > 800 && lit < 2500)
      << lit << " light pixels: \"CH 1 HH:MM:SS\" lights 1,000 to 1,500";
  EXPECT_EQ(outside, 0);

  // Recorded from a key frame on in the device's container (.sv5 for its recording kind 1): its
  // 32-byte stream header twice, the second with the count of video frames, then the frames,
  // beginning with a key frame's parameter set.
  ASSERT_EQ(SDK(QCSDK_StartRec)(n, file.string().c_str()), 1);
  ASSERT_TRUE(waitPictures(60));  // over two key-frame intervals
  EXPECT_EQ(SDK(QCSDK_StopRec)(n), 1);
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  std::filesystem::remove(file);
  ASSERT_GT(bytes.size(), 1000u);
  const auto le32 = [&](size_t at) {
    return LoadLe32(reinterpret_cast<const uint8_t*>(&bytes[at]));
  };
  EXPECT_EQ(bytes.substr(0, 4), std::string("QVS\x05", 4));
  EXPECT_EQ(std::tuple(le32(4), le32(8), le32(12)),
            std::tuple(uint32_t{kWidth}, uint32_t{kHeight}, 0u));
  EXPECT_EQ(bytes.substr(32, 12), bytes.substr(0, 12));
  EXPECT_GE(le32(44), 25u);
  EXPECT_EQ(bytes.substr(64, 5), std::string("\0\0\0\1\x67", 5));

  // An RPC call answered from the device's own account list.
  ASSERT_EQ(SDK(QCSDK_GRPC_Begin)(n), 1);
  qvbu_account_get_users_result users{};
  ASSERT_EQ(SDK(QCSDK_GRPC_account_get_users)(n, nullptr, &users), 1);
  ASSERT_EQ(users.users_count, 1);
  EXPECT_STREQ(users.users[0].name, "host");

  // Released and unloaded with the libraries it loaded: no thread stays.
  EXPECT_EQ(SDK(QCSDK_Disconnect)(n), 1);
  EXPECT_TRUE(waitEvent(QCSDK_EVENT_DISCONNECTED));
  EXPECT_EQ(SDK(QCSDK_ReleaseSDK)(), 1);
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_EQ(GetModuleHandleA("qcsdk.dll"), nullptr);
  EXPECT_EQ(GetModuleHandleA("QVSDKP.dll"), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; })) << ThreadCount() - threads;
}

}  // namespace
}  // namespace qcsdk::test
