// Sixteen channels over both transports against the device simulator, decoding, displaying,
// recording and downloading, with RPC calls from two host threads, while the host's thread and the
// callbacks disconnect, reconnect, stop downloads and release the SDK; a watchdog ends a stuck run.
#include <gtest/gtest.h>
#include <qcsdk/qcsdk_grpc.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "hostlib/simulator.h"
#include "hostlib/virtual_display.h"
#include "qcview/x_window.h"
#include "support/host_recorder.h"
#include "support/process_probe.h"
#include "vdevice/av_owners.h"
#include "vdevice/virtual_device.h"

namespace qcsdk::test {
namespace {

namespace fs = std::filesystem;

// Slot s: device s / 2 % 2, device channel s / 4, Nxl for even s, OCT for odd.
constexpr int kSlots = 16, kTileW = 80, kTileH = 60;  // tiles: the slots' 4 x 4 rectangles

enum class State { kDown, kConnecting, kUp };
struct Slot {
  State state = State::kDown;
  int32_t channel = -1;
  uintptr_t serial = 0;  // of the connect whose events count
  bool drop = false;     // disconnect from inside its event 1
  bool redial = false;   // connect again from inside its end event
};
// Where the SDK is released: on the host's thread, inside an Nxl event 1, inside a decoded picture.
enum Where { kHost, kInEvent, kInPicture };

// Why a file the SDK wrote is unfinished ("" if it is not): empty is fine, an MP4 must read and end
// with its random access index, a ".sv" file needs agreeing header copies counting its frames.
std::string Unfinished(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  if (bytes.empty()) return "";
  if (bytes.size() >= 8 && bytes.compare(4, 4, "ftyp") == 0) {
    AVFormatContext* raw = nullptr;
    const bool opened = avformat_open_input(&raw, path.c_str(), nullptr, nullptr) == 0;
    const vdevice::InputPtr input(raw);
    if (!opened || avformat_find_stream_info(raw, nullptr) < 0) return "MP4 unreadable";
    return bytes.compare(bytes.size() - 12, 4, "mfro") == 0 ? "" : "MP4 never closed";
  }
  if (bytes.size() < 64) return "header cut short";
  // Bytes 12 to 15 of each copy count the frames: 0 in the first, set at the close in the second.
  if (bytes.compare(0, 12, bytes, 32, 12) != 0 || bytes.compare(16, 16, bytes, 48, 16) != 0)
    return "header copies differ";
  const bool counted = bytes.compare(44, 4, std::string(4, '\0')) != 0;
  return counted || bytes.size() == 64 ? "" : "frames not counted: never closed";
}

class Torture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (hostlib::FindProgram("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
    std::string error;
    ASSERT_TRUE(display_.Start(4 * kTileW, 4 * kTileH, error)) << error;
    setenv("DISPLAY", display_.name().c_str(), 1);
    ASSERT_TRUE(window_.Open(4 * kTileW, 4 * kTileH, "torture", error)) << error;
    const std::string common = "channels=4,limit=64,width=160,height=120,fps=10,";
    ASSERT_TRUE(sim_.Start(VDEVICE_PROGRAM, {"--until-stdin-closes", "--device", common + "kind=0",
                                             "--device", common + "kind=3,codec=h265"}));
    ASSERT_EQ(sim_.devices().size(), 2u);
    fs::create_directories(dir_);
    const vdevice::Date t = vdevice::Today();
    dates_ = {t.year, t.month, t.day, t.year, t.month, t.day};
    host_.onEvent = [this](const HostEvent& e) { OnEvent(e); };
    host_.onDownload = [this](int32_t n, int32_t code) {
      if (code == QCSDK_DOWNLOAD_PROGRESS && ++progress_ % 5 == 0) Stop(n);
    };
    host_.onDecoded = [this](int32_t) { ReleaseInside(kInPicture); };
    // A run that makes no progress ends with every thread's stack.
    watchdog_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      for (int last = -1; !changed_.wait_for(lock, Scaled(30000), [&] { return done_; });
           last = beat_) {
        if (beat_ != last) continue;
        std::fprintf(stderr, "torture: no progress at \"%s\"; the threads:\n", phase_.load());
        const std::string gdb = "gdb -batch -p " + std::to_string(::getpid()) +
                                " -ex 'thread apply all bt -frame-arguments none' >&2";
        if (std::system(gdb.c_str()) != 0) std::fputs("(no stacks without gdb)\n", stderr);
        std::abort();
      }
    });
  }
  void TearDown() override {
    Signal([&] { done_ = true; });
    if (watchdog_.joinable()) watchdog_.join();
    sim_.Stop();
    unsetenv("DISPLAY");
    fs::remove_all(dir_);
  }

  void Beat(const char* phase) {
    phase_ = phase;
    ++beat_;
  }
  template <class F>
  void Signal(F change) {
    std::lock_guard lock(mutex_);
    change();
    changed_.notify_all();
  }
  int32_t Channel(int s) {
    std::lock_guard lock(mutex_);
    return slots_[s].state == State::kUp ? slots_[s].channel : -1;
  }
  void Stop(int32_t n) { QCSDK_DownloadRemoteFile(n, -1, nullptr); }
  std::string File(const char* prefix, const char* extension = "") {
    return (dir_ / (prefix + std::to_string(++files_) + extension)).string();
  }

  // Connects slot s when it is down and no release is under way.
  void Dial(int s, bool drop, bool redial) {
    uintptr_t serial = 0;
    {
      std::lock_guard lock(mutex_);
      if (noDials_ || slots_[s].state != State::kDown) return;
      slots_[s] = {State::kConnecting, -1, serial = ++serials_, drop, redial};
      ++dials_;
    }
    const int oct = s % 2;  // OCT counts device channels from 1
    const hostlib::SimDevice& device = sim_.devices()[s / 2 % 2];
    const int32_t n =
        QCSDK_Connect2(oct, "127.0.0.1", oct ? device.oct_port : device.port, s / 4 + oct, 0,
                       "admin", "admin", 0, reinterpret_cast<void*>(serial * kSlots + s));
    Signal([&] {
      if (n < 0 && slots_[s].serial == serial) slots_[s].state = State::kDown;
      --dials_;
    });
  }

  void OnEvent(const HostEvent& e) {
    const auto tag = reinterpret_cast<uintptr_t>(e.user);
    const int s = static_cast<int>(tag % kSlots);
    const int32_t n = e.channel;
    Slot slot;
    {
      std::lock_guard lock(mutex_);
      if (slots_[s].serial != tag / kSlots) return;  // an earlier connect of the slot
      slots_[s].channel = n;                         // every event of one connect names its channel
      if (e.code == QCSDK_EVENT_CONNECTED) slots_[s].state = State::kUp;
      if (e.code >= QCSDK_EVENT_AUTH_FAILED && e.code <= QCSDK_EVENT_REMOTE_CLOSED)
        slots_[s].state = State::kDown;
      slot = slots_[s];
    }
    changed_.notify_all();
    if (e.code == QCSDK_EVENT_CONNECTED) {
      if (s % 2 == 0 && ReleaseInside(kInEvent)) return;
      QCSDK_EnableDecoder(n, 1);
      const QCSDK_Rect r{s % 4 * kTileW, s / 4 * kTileH, (s % 4 + 1) * kTileW,
                         (s / 4 + 1) * kTileH};
      shown_ += QCSDK_SetVideoPreview(n, window_.handle(), &r);
      QCSDK_StartRec(n, File("rec", s / 2 % 2 ? ".mp4" : ".sv4").c_str());
      QCSDK_GetRemoteRecFileList(n, dates_.data());
      if (slot.drop) QCSDK_Disconnect(n);
    } else if (e.code == QCSDK_EVENT_REC_LIST && e.value > 0) {
      QCSDK_DownloadRemoteFile(n, static_cast<int32_t>(tag % e.value), File("dl").c_str());
    } else if (slot.state == State::kDown && slot.redial) {
      Dial(s, false, false);
    }
  }

  // Releases the SDK where the host's thread asked (there or in a callback) once no connect runs.
  bool ReleaseInside(Where where) {
    {
      std::lock_guard lock(mutex_);
      if (armed_ != where || dials_ > 0) return false;
      armed_ = -1;
      noDials_ = true;
    }
    QCSDK_ReleaseSDK();
    Signal([&] { released_ = true; });
    return true;
  }

  // Releases where asked, with an RPC call in flight if one comes, and restarts once none is.
  bool Release(Where where, int nxlSlot) {
    static const char* const kPhases[] = {"release", "release in event", "release in picture"};
    Beat(kPhases[where]);
    std::unique_lock lock(mutex_);
    released_ = false;
    armed_ = where;
    noDials_ = where == kHost;
    changed_.wait_for(lock, Scaled(1000), [&] { return where != kHost || rpcs_ > 0; });
    // In a callback: a new Nxl link brings an event 1 and pictures. Again if a connect was running.
    for (int tries = 0; tries < 3 && !released_; ++tries) {
      lock.unlock();
      if (where == kHost) {
        ReleaseInside(kHost);
      } else {
        QCSDK_Disconnect(Channel(nxlSlot));
        Dial(nxlSlot, false, false);
      }
      lock.lock();
      changed_.wait_for(lock, Scaled(5000),
                        [&] { return released_ || (where == kHost && dials_ == 0); });
    }
    if (!released_) {
      armed_ = -1;
      ADD_FAILURE() << kPhases[where] << ": not done";
      return false;
    }
    Beat("start again");
    noCalls_ = true;
    for (Slot& slot : slots_) slot = {.serial = ++serials_};  // every channel is gone
    const bool idle = changed_.wait_for(lock, Scaled(15000), [&] { return rpcs_ + dials_ == 0; });
    lock.unlock();
    const bool started = idle && QCSDK_InitSDK(0, nullptr) == 1;
    Signal([&] { noCalls_ = noDials_ = false; });
    EXPECT_TRUE(started) << (idle ? "InitSDK failed" : "calls still in flight");
    return started;
  }

  // RPC calls on random live channels until the test ends.
  void CallRpcs(unsigned seed) {
    std::mt19937 rng(seed);
    std::unique_lock lock(mutex_);
    while (!stop_) {
      std::vector<int32_t> up;
      for (const Slot& slot : slots_)
        if (slot.state == State::kUp && !noCalls_) up.push_back(slot.channel);
      if (up.empty()) {
        changed_.wait_for(lock, Scaled(1000));
        continue;
      }
      const int32_t n = up[rng() % up.size()];
      ++rpcs_;
      lock.unlock();
      qvbu_dev_get_info_result info{};
      if (QCSDK_GRPC_Begin(n) == 1 && QCSDK_GRPC_dev_get_info(n, nullptr, &info) == 1) ++rpcOk_;
      QCSDK_GRPC_End(n);
      lock.lock();
      --rpcs_;
      changed_.notify_all();
    }
  }

  bool Settle() {
    Beat("connecting");
    std::unique_lock lock(mutex_);
    std::string stuck;
    changed_.wait_for(lock, Scaled(15000), [&] {
      stuck.clear();
      for (int s = 0; s < kSlots; ++s)
        if (slots_[s].state == State::kConnecting) stuck += " " + std::to_string(s);
      return stuck.empty();
    });
    EXPECT_EQ(stuck, "") << "slots still connecting";
    return stuck.empty();
  }

  hostlib::VirtualDisplay display_;
  qcview::XWindow window_;
  hostlib::Simulator sim_;
  HostRecorder host_;
  const fs::path dir_ = fs::temp_directory_path() / ("qcsdk_torture_" + std::to_string(::getpid()));
  std::array<int32_t, 6> dates_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  Slot slots_[kSlots];
  uintptr_t serials_ = 0;
  int dials_ = 0, rpcs_ = 0, armed_ = -1;
  bool noDials_ = false, noCalls_ = false, released_ = false, stop_ = false, done_ = false;
  std::atomic<int> beat_{0}, files_{0}, progress_{0}, shown_{0}, rpcOk_{0};
  std::atomic<const char*> phase_{"start"};
  std::thread watchdog_;
};

TEST_F(Torture, SixteenChannelsOutliveDisconnectsDownloadStopsAndReleases) {
  std::thread([] {}).join();  // a sanitizer's runtime starts a thread of its own
  const int threads = ThreadCount(), descriptors = HandleCount();
  ASSERT_EQ(QCSDK_InitSDK(0, nullptr), 1);
  std::thread rpc[] = {std::thread([this] { CallRpcs(1); }), std::thread([this] { CallRpcs(2); })};
  for (int round = 0; round < 200; ++round) {
    Beat("round");
    std::mt19937 rng(static_cast<unsigned>(round));
    for (int s = 0; s < kSlots; ++s) Dial(s, rng() % 6 == 0, rng() % 3 == 0);
    if (!Settle()) break;
    // The host's own operations on random slots, live or not.
    for (int k = 0; k < 3; ++k) {
      const int s = static_cast<int>(rng() % kSlots);
      const int32_t n = Channel(s);
      switch (rng() % 4) {
        case 0: QCSDK_Disconnect(n); break;
        case 1: Stop(n); break;
        case 2: QCSDK_GetRemoteRecFileList(n, dates_.data()); break;  // a new download follows
        default: QCSDK_StartRec(n, File("rec", s / 2 % 2 ? ".mp4" : ".sv4").c_str()); break;
      }
    }
    if (round % 33 == 32 && !Release(static_cast<Where>(round / 33 % 3), 2 * (round / 33 % 8)))
      break;
  }
  Signal([&] { stop_ = true; });
  Beat("end of the RPC calls");
  for (std::thread& t : rpc) t.join();
  Beat("last release");
  QCSDK_ReleaseSDK();

  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }))
      << ThreadCount() << " threads, " << threads << " before";
  EXPECT_TRUE(WaitUntil([&] { return HandleCount() == descriptors; }))
      << HandleCount() << " descriptors, " << descriptors << " before";
  EXPECT_GT(host_.Decoded().size(), 0u);
  EXPECT_GT(shown_, 0);
  EXPECT_GT(rpcOk_, 0);
  EXPECT_GT(host_.Downloads().size(), 0u);
  int written = 0;
  for (const fs::directory_entry& file : fs::directory_iterator(dir_)) {
    if (file.path().extension() == ".qdx") continue;  // the index beside an MP4 recording
    written += file.file_size() > 0;
    EXPECT_EQ(Unfinished(file.path()), "") << file.path();
  }
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace qcsdk::test
