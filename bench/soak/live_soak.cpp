// Frames lost are counted per link: a device cuts a link right after its
// drop-after-th picture on it (the Nxl device counts per client; each OCT
// device serves one channel, and counts over its viewers), so each link that
// ends with event 8 or 9 was sent exactly that many pictures, and what its
// channel did not receive of them is lost. Audio is not counted. The last
// link of each channel, ended by the host, is left out.
#include "live_soak.h"

#include <qcsdk/qcsdk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "cycle_soak.h"
#include "simulator_process.h"

namespace soak {
namespace {

using Clock = std::chrono::steady_clock;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

struct Seat {
  bool oct = false;
  uint16_t port = 0;
  std::atomic<uint64_t> link_pictures{0};  // pictures of the current link
  std::atomic<uint64_t> received{0};
  std::atomic<uint64_t> cut_links{0};
  std::atomic<uint64_t> cut_link_pictures{0};  // received on links the device cut
  std::atomic<uint64_t> most_on_a_link{0};
  std::atomic<int64_t> cut_at_ms{0};
};

struct Tally {
  std::mutex mutex;
  std::deque<Seat*> to_connect;
  std::atomic<uint64_t> failed{0}, reconnect_ms{0}, reconnects{0};
  std::atomic<int64_t> slowest_reconnect_ms{0};
} g_tally;

void OnRaw(int32_t, const RawFrame* frame, void* user) {
  if (frame->type == QCSDK_FRAME_AUDIO || user == nullptr) return;
  auto* seat = static_cast<Seat*>(user);
  ++seat->link_pictures;
  ++seat->received;
}

void OnEvent(int32_t, int32_t event, const char*, int32_t, void* user) {
  auto* seat = static_cast<Seat*>(user);
  if (seat == nullptr) return;
  if (event == QCSDK_EVENT_CONNECTED) {
    const int64_t cut = seat->cut_at_ms.exchange(0);
    if (cut != 0) {
      const int64_t took = NowMs() - cut;
      ++g_tally.reconnects;
      g_tally.reconnect_ms += static_cast<uint64_t>(took);
      int64_t slowest = g_tally.slowest_reconnect_ms;
      while (took > slowest && !g_tally.slowest_reconnect_ms.compare_exchange_weak(slowest, took)) {
      }
    }
    return;
  }
  if (event == QCSDK_EVENT_LINK_LOST || event == QCSDK_EVENT_REMOTE_CLOSED) {
    const uint64_t pictures = seat->link_pictures.exchange(0);
    ++seat->cut_links;
    seat->cut_link_pictures += pictures;
    seat->most_on_a_link = std::max<uint64_t>(seat->most_on_a_link, pictures);
    seat->cut_at_ms = NowMs();
  } else if (event >= QCSDK_EVENT_AUTH_FAILED && event <= QCSDK_EVENT_CONNECT_FAILED) {
    ++g_tally.failed;
  } else {
    return;
  }
  std::lock_guard<std::mutex> lock(g_tally.mutex);
  g_tally.to_connect.push_back(seat);
}

int32_t Connect(Seat* seat) {
  return seat->oct ? QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", seat->port, 1, 0, "admin",
                                    "secret", 0, seat)
                   : QCSDK_Connect("127.0.0.1", seat->port, 0, "admin", "secret", 0, seat);
}

}  // namespace

bool RunLive(const Options& options, std::string* error) {
  const bool nxl = options.transports.find("nxl") != std::string::npos;
  const bool oct = options.transports.find("oct") != std::string::npos;
  const int octSeats = !oct ? 0 : nxl ? options.live_channels / 2 : options.live_channels;
  const int nxlSeats = options.live_channels - octSeats;
  // Device 0 serves every Nxl channel; each OCT channel has a device of its
  // own, as an OCT device counts pictures over all its viewers.
  const std::string common = "password=secret,width=160,height=120,fps=25,fault=drop-after:" +
                             std::to_string(options.drop_after);
  std::vector<std::string> devices = {common +
                                      ",oct_port=-1,limit=" + std::to_string(2 * nxlSeats + 8)};
  devices.insert(devices.end(), static_cast<size_t>(octSeats), common);
  qcsdk::bench::SimulatorProcess simulator;
  if (!simulator.Start(devices, error)) return false;

  std::vector<Seat> seats(static_cast<size_t>(options.live_channels));
  for (int i = 0; i < options.live_channels; ++i) {
    Seat& seat = seats[static_cast<size_t>(i)];
    seat.oct = i >= nxlSeats;
    seat.port = seat.oct ? simulator.oct_ports()[static_cast<size_t>(i - nxlSeats + 1)]
                         : simulator.nxl_ports()[0];
  }
  std::printf(
      "live: %d channels (%d Nxl, %d OCT) for %d s; the devices cut each link after %d "
      "pictures (25 a second)\n",
      options.live_channels, nxlSeats, octSeats, options.live_seconds, options.drop_after);
  QCSDK_RegisterCallback(&OnEvent, &OnRaw, nullptr, nullptr, nullptr);
  if (QCSDK_InitSDK(0, nullptr) != 1) return *error = "QCSDK_InitSDK failed", false;
  PrintResources("start");
  for (Seat& seat : seats) Connect(&seat);
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(options.live_seconds);
  auto next_report = start + std::chrono::seconds(60);
  while (Clock::now() < end) {
    std::deque<Seat*> due;
    {
      std::lock_guard<std::mutex> lock(g_tally.mutex);
      due.swap(g_tally.to_connect);
    }
    for (Seat* seat : due) Connect(seat);
    if (Clock::now() >= next_report) {
      const auto s = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
      PrintResources(("after " + std::to_string(s.count()) + " s").c_str());
      next_report += std::chrono::seconds(60);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  PrintResources("end");
  QCSDK_ReleaseSDK();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);

  uint64_t received = 0, cut = 0, onCut = 0, most = 0;
  for (const Seat& seat : seats) {
    received += seat.received;
    cut += seat.cut_links;
    onCut += seat.cut_link_pictures;
    most = std::max<uint64_t>(most, seat.most_on_a_link);
  }
  const uint64_t sent = cut * static_cast<uint64_t>(options.drop_after);
  const uint64_t reconnects = g_tally.reconnects;
  std::printf(
      "  links cut %llu, reconnects %llu (%.0f ms on average, slowest %lld ms), failed "
      "connects %llu\n",
      static_cast<unsigned long long>(cut), static_cast<unsigned long long>(reconnects),
      reconnects ? static_cast<double>(g_tally.reconnect_ms) / reconnects : 0.0,
      static_cast<long long>(g_tally.slowest_reconnect_ms.load()),
      static_cast<unsigned long long>(g_tally.failed.load()));
  std::printf(
      "  pictures received %llu; on the cut links %llu sent, %llu received, %lld lost "
      "(%.3f %%), at most %llu on one link\n",
      static_cast<unsigned long long>(received), static_cast<unsigned long long>(sent),
      static_cast<unsigned long long>(onCut),
      static_cast<long long>(sent) - static_cast<long long>(onCut),
      sent ? 100.0 * (static_cast<double>(sent) - static_cast<double>(onCut)) /
                 static_cast<double>(sent)
           : 0.0,
      static_cast<unsigned long long>(most));
  return true;
}

}  // namespace soak
