// The minimal epoll loop and its senders. Frames go behind a length word;
// the loop reads up to 64 KiB per readable socket and calls its function
// for every whole frame there, as a transport with nothing else to do would.
#include "epoll_anchor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

namespace nxl_e2e {

std::vector<Pair> MakePairs(int count) {
  std::vector<Pair> pairs;
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 128) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listener >= 0) ::close(listener);
    return pairs;
  }
  int one = 1;
  for (int i = 0; i < count; ++i) {
    Pair p;
    p.writer = ::socket(AF_INET, SOCK_STREAM, 0);
    if (p.writer < 0 || ::connect(p.writer, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (p.reader = ::accept(listener, nullptr, nullptr)) < 0) {
      if (p.writer >= 0) ::close(p.writer);
      break;
    }
    ::setsockopt(p.writer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(p.reader, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    pairs.push_back(p);
  }
  ::close(listener);
  return pairs;
}

void ClosePairs(const std::vector<Pair>& pairs) {
  for (const Pair& p : pairs) {
    ::close(p.writer);
    ::close(p.reader);
  }
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kReadChunk = 64 * 1024;

bool SendAll(int fd, const uint8_t* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t w = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

// A frame behind its length word.
std::vector<uint8_t> Framed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(4 + size);
  const uint32_t n = static_cast<uint32_t>(size);
  std::memcpy(out.data(), &n, 4);
  if (size > 0) std::memcpy(out.data() + 4, data, size);
  return out;
}

// The loop: waits, reads what each readable socket holds, calls `on_frame`
// with the last four bytes of each whole frame. Ends when `stop` is set
// (checked at least every 50 ms).
class Loop {
 public:
  Loop(const std::vector<Pair>& pairs, std::function<void(uint32_t)> on_frame)
      : epoll_(::epoll_create1(EPOLL_CLOEXEC)), on_frame_(std::move(on_frame)) {
    buffers_.resize(pairs.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u64 = i;
      ::epoll_ctl(epoll_, EPOLL_CTL_ADD, pairs[i].reader, &ev);
      buffers_[i].fd = pairs[i].reader;
    }
  }
  ~Loop() { ::close(epoll_); }

  void Run(const std::atomic<bool>& stop) {
    epoll_event events[128];
    while (!stop.load(std::memory_order_relaxed)) {
      const int n = ::epoll_wait(epoll_, events, 128, 50);
      for (int i = 0; i < n; ++i) Read(buffers_[events[i].data.u64]);
    }
  }

 private:
  struct Buffer {
    int fd = -1;
    std::vector<uint8_t> bytes;
    size_t have = 0;
  };

  void Read(Buffer& b) {
    if (b.bytes.size() - b.have < kReadChunk) b.bytes.resize(b.have + kReadChunk);
    const ssize_t r = ::recv(b.fd, b.bytes.data() + b.have, kReadChunk, MSG_DONTWAIT);
    if (r <= 0) return;
    b.have += static_cast<size_t>(r);
    size_t at = 0;
    for (uint32_t n = 0; b.have - at >= 4; at += 4 + n) {
      std::memcpy(&n, b.bytes.data() + at, 4);
      if (b.have - at - 4 < n) break;
      uint32_t tail = 0;
      if (n >= 4) std::memcpy(&tail, b.bytes.data() + at + n, 4);
      on_frame_(tail);
    }
    std::memmove(b.bytes.data(), b.bytes.data() + at, b.have - at);
    b.have -= at;
  }

  int epoll_;
  std::function<void(uint32_t)> on_frame_;
  std::vector<Buffer> buffers_;
};

double ThreadCpuSeconds(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

std::vector<int64_t> AnchorLatencies(const std::vector<std::vector<uint8_t>>& frames, int count,
                                     std::chrono::nanoseconds interval) {
  std::vector<int64_t> latency_ns(static_cast<size_t>(count), -1);
  const std::vector<Pair> pairs = MakePairs(1);
  if (pairs.empty() || frames.empty()) return latency_ns;
  std::vector<std::atomic<int64_t>> sent(static_cast<size_t>(count));
  auto ns_now = [] {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
  };
  std::atomic<bool> stop{false};
  Loop loop(pairs, [&](uint32_t index) {
    const int64_t now = ns_now();
    if (index < static_cast<uint32_t>(count)) {
      latency_ns[index] = now - sent[index].load(std::memory_order_relaxed);
    }
  });
  std::thread reader([&] { loop.Run(stop); });
  auto due = Clock::now();
  for (uint32_t i = 0; i < static_cast<uint32_t>(count); ++i) {
    std::vector<uint8_t> m =
        Framed(frames[i % frames.size()].data(), frames[i % frames.size()].size());
    if (m.size() >= 8) std::memcpy(m.data() + m.size() - 4, &i, 4);
    due += interval;
    std::this_thread::sleep_until(due);
    sent[i].store(ns_now(), std::memory_order_relaxed);
    if (!SendAll(pairs[0].writer, m.data(), m.size())) break;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  reader.join();
  ClosePairs(pairs);
  return latency_ns;
}

double AnchorCpuPercent(int connections, int groups, size_t frame_bytes,
                        std::chrono::microseconds period, bool spread,
                        std::chrono::milliseconds window) {
  const std::vector<Pair> pairs = MakePairs(connections);
  if (pairs.empty()) return 0;
  const int n = static_cast<int>(pairs.size());
  groups = std::clamp(groups, 1, n);
  const std::vector<uint8_t> frame =
      Framed(std::vector<uint8_t>(frame_bytes, 0x5A).data(), frame_bytes);
  std::atomic<uint64_t> frames_seen{0};
  std::atomic<bool> stop{false};
  Loop loop(pairs, [&](uint32_t) { frames_seen.fetch_add(1, std::memory_order_relaxed); });
  std::thread reader([&] { loop.Run(stop); });
  // One sender per group, as each device has its own: connection i is in
  // group i % groups; a group starts at its own point of the period and
  // sends its frames together there, or spread evenly over the period.
  std::vector<std::thread> writers;
  for (int g = 0; g < groups; ++g) {
    writers.emplace_back([&, g] {
      std::vector<std::pair<Clock::duration, int>> plan;
      for (int i = g; i < n; i += groups) plan.emplace_back(Clock::duration{}, i);
      const int m = static_cast<int>(plan.size());
      for (int k = 0; k < m; ++k) {
        plan[static_cast<size_t>(k)].first =
            (period * g / groups + (spread ? period * k / m : Clock::duration{})) % period;
      }
      std::sort(plan.begin(), plan.end());
      for (auto tick = Clock::now(); !stop.load(); tick += period) {
        for (const auto& [offset, i] : plan) {
          if (Clock::now() < tick + offset) std::this_thread::sleep_until(tick + offset);
          SendAll(pairs[static_cast<size_t>(i)].writer, frame.data(), frame.size());
        }
      }
    });
  }
  clockid_t clock{};
  pthread_getcpuclockid(reader.native_handle(), &clock);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
  const double cpu0 = ThreadCpuSeconds(clock);
  const auto start = Clock::now();
  std::this_thread::sleep_for(window);
  const double cpu = ThreadCpuSeconds(clock) - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  for (std::thread& writer : writers) writer.join();
  reader.join();
  ClosePairs(pairs);
  return 100.0 * cpu / wall;
}

double QuantileMicros(std::vector<int64_t> latency_ns, double q) {
  latency_ns.erase(std::remove(latency_ns.begin(), latency_ns.end(), -1), latency_ns.end());
  if (latency_ns.empty()) return 0;
  std::sort(latency_ns.begin(), latency_ns.end());
  const size_t at = static_cast<size_t>(q * static_cast<double>(latency_ns.size() - 1));
  return static_cast<double>(latency_ns[at]) / 1e3;
}

}  // namespace nxl_e2e
