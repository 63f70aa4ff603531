// Hostile devices at scale, in a build with AddressSanitizer and
// UndefinedBehaviorSanitizer (./scripts/bench hostile): lanes of host threads
// on each transport connect to simulated devices whose every message is
// mutated (fault=hostile:SEED), seed after seed, and drive every kind of
// export, while a normal device streams to one channel per transport beside
// them. The run stops by itself once the devices of each transport have sent
// the messages asked for, or at its time bound. A finding is a sanitizer
// report (the process ends with it, after naming the seeds in flight), an
// export, connect or link end past the hang limit, a normal channel without
// frames, or a link that reports its end twice; a hang prints every
// thread's stack. Flags: docs/hostile.md.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "hostile_options.h"
#include "lane.h"
#include "reports.h"
#include "sdk_probe.h"
#include "vdevice/device_host.h"

extern char** environ;

namespace hostile {
namespace {

std::FILE* g_out = stdout;  // the bench's own output; the SDK's goes elsewhere
const std::vector<std::unique_ptr<Lane>>* g_lanes = nullptr;

void PrintLanes() {
  if (g_lanes == nullptr) return;
  for (const auto& lane : *g_lanes) std::fprintf(stderr, "  %s\n", lane->Describe().c_str());
}

// Called by the sanitizer runtime after its report, before the process ends.
void OnSanitizerDeath() {
  std::fprintf(stderr, "hostile_bench: FINDING: a sanitizer report; the lanes were at\n");
  PrintLanes();
}

// Every thread's stack, through gdb, on standard error.
void DumpThreads() {
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
  std::string pid = std::to_string(::getpid());
  std::string args[] = {"gdb", "-p", pid, "-batch", "-nx", "-ex", "thread apply all bt"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  pid_t child = -1;
  if (::posix_spawnp(&child, "gdb", &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(child, &status, 0);
  } else {
    std::fprintf(stderr, "hostile_bench: no gdb to print the threads' stacks\n");
  }
  posix_spawn_file_actions_destroy(&actions);
}

// A hang or a stalled normal channel: nothing would end the run cleanly.
[[noreturn]] void Fatal(const std::string& what) {
  Reports::Finding(what);
  std::fprintf(stderr, "hostile_bench: the lanes:\n");
  PrintLanes();
  DumpThreads();
  std::fflush(nullptr);
  std::_Exit(1);
}

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Runs `what` on a thread of its own; a finding when it has not returned
// within the hang limit.
void Bounded(const char* what, int seconds, const std::function<void()>& work) {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread worker([&] {
    work();
    std::lock_guard lock(mutex);
    finished = true;
    done.notify_all();
  });
  std::unique_lock lock(mutex);
  if (!done.wait_for(lock, std::chrono::seconds(seconds), [&] { return finished; })) {
    Fatal(std::string(what) + " did not return in " + std::to_string(seconds) + " s");
  }
  lock.unlock();
  worker.join();
}

// One channel per transport to a normal device, decoding, which must keep
// receiving frames all through the run.
struct Normal {
  Link link;
  int32_t n = -1;
  uint64_t last_frames = 0;
  int64_t last_rise_ms = 0;
};

// The monitor's loop: stops each transport at its target or all at the time
// bound, watches the normal channels and the lanes' exports, prints progress.
bool Monitor(Shared& shared, const std::vector<std::unique_ptr<Lane>>& lanes,
             std::vector<Normal*>& normals, int64_t start) {
  const Options& o = shared.options;
  const int64_t deadline = start + int64_t{60000} * o.minutes;
  int64_t next_report = start + 30000;
  bool timed_out = false;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t now = NowMs();
    std::array<uint64_t, 2> sent{};
    bool all_finished = true;
    for (const auto& lane : lanes) {
      sent[static_cast<size_t>(lane->transport())] += lane->sent();
      all_finished = all_finished && lane->finished();
      const int64_t since = lane->call_since_ms();
      if (since != 0 && now - since > 1000 * o.hang_seconds) {
        Fatal(lane->Describe() + ": past the hang limit");
      }
      // Waits are bounded by the hang limit too: a lane that has not moved
      // on for three of them hangs outside the exports.
      if (!lane->finished() && now - lane->progress_ms() > 3000 * o.hang_seconds) {
        Fatal(lane->Describe() + ": no progress");
      }
    }
    for (size_t t = 0; t < 2; ++t) {
      if (sent[t] >= o.messages) shared.stop[t] = true;
    }
    if (now > deadline && !timed_out) {
      timed_out = true;
      shared.stop[0] = shared.stop[1] = true;
    }
    for (Normal* normal : normals) {
      const char* name = normal->link.transport == QCSDK_TRANSPORT_OCT ? "OCT" : "Nxl";
      if (normal->link.ended > 0) {
        Fatal(std::string("the normal ") + name + " channel's link ended");
      }
      if (const uint64_t frames = normal->link.frames; frames > normal->last_frames) {
        normal->last_frames = frames;
        normal->last_rise_ms = now;
      }
      if (now - normal->last_rise_ms > 1000 * o.stall_seconds) {
        Fatal(std::string("the normal ") + name + " channel stalled at " +
              std::to_string(normal->last_frames) + " frames");
      }
    }
    const uint64_t rss_mb = qcsdk::bench::ResidentBytes() >> 20;
    if (rss_mb > static_cast<uint64_t>(o.rss_limit_mb)) {
      Fatal("resident memory at " + std::to_string(rss_mb) + " MiB");
    }
    if (all_finished) return timed_out;
    if (now >= next_report) {
      next_report += 30000;
      std::fprintf(g_out,
                   "  %4lld s  messages Nxl %s  OCT %s  host operations %s  rss %llu MiB  "
                   "findings %zu\n",
                   static_cast<long long>((now - start) / 1000), Grouped(sent[0]).c_str(),
                   Grouped(sent[1]).c_str(),
                   Grouped(shared.host_ops[0] + shared.host_ops[1]).c_str(),
                   static_cast<unsigned long long>(rss_mb), Reports::Findings().size());
      std::fflush(g_out);
    }
  }
}

void Summary(const Shared& shared, const std::vector<std::unique_ptr<Lane>>& lanes,
             const std::vector<Normal*>& normals, int64_t ms, bool timed_out) {
  const Options& o = shared.options;
  std::array<uint64_t, 2> sent{};
  for (const auto& lane : lanes) sent[static_cast<size_t>(lane->transport())] += lane->sent();
  auto row = [&](const char* name, const std::function<std::string(size_t)>& value) {
    std::fprintf(g_out, "  %-30s %22s %22s\n", name, value(0).c_str(), value(1).c_str());
  };
  std::fprintf(g_out, "hostile: %lld s (%s)\n", static_cast<long long>(ms / 1000),
               timed_out ? "stopped at the time bound" : "every transport reached its messages");
  row("", [](size_t t) { return std::string(t ? "OCT" : "Nxl"); });
  row("seeds", [&](size_t t) {
    const int last = shared.next_seed[t] - 1;
    return last < o.first_seed ? std::string("-")
                               : std::to_string(o.first_seed) + ".." + std::to_string(last);
  });
  row("messages sent (mutated)", [&](size_t t) { return Grouped(sent[t]); });
  row("host operations", [&](size_t t) { return Grouped(shared.host_ops[t]); });
  row("links ended", [&](size_t t) { return Grouped(Reports::tally(int(t)).links_ended()); });
  row("  connect failed (2-6)", [&](size_t t) {
    uint64_t n = 0;
    for (size_t e = 2; e <= 6; ++e) n += Reports::tally(int(t)).ended[e];
    return Grouped(n);
  });
  static const char* const kEnds[] = {"  disconnected (7)", "  lost (8)", "  closed by device (9)"};
  for (size_t e = 7; e <= 9; ++e) {
    row(kEnds[e - 7], [&](size_t t) { return Grouped(Reports::tally(int(t)).ended[e]); });
  }
  row("raw frames / pictures", [&](size_t t) {
    return Grouped(Reports::tally(int(t)).frames) + " / " +
           Grouped(Reports::tally(int(t)).pictures);
  });
  row("lists / downloads ended / talk", [&](size_t t) {
    const TransportTally& tally = Reports::tally(int(t));
    return Grouped(tally.lists) + " / " + Grouped(tally.downloads) + " / " + Grouped(tally.talk);
  });
  for (const Normal* normal : normals) {
    std::fprintf(g_out, "  normal %s channel: %s frames, longest time between two %.2f s\n",
                 normal->link.transport == QCSDK_TRANSPORT_OCT ? "OCT" : "Nxl",
                 Grouped(normal->link.frames).c_str(),
                 static_cast<double>(normal->link.longest_gap_ms) / 1000.0);
  }
  std::fprintf(g_out, "  exports past their budget (2, 6 or 12 s): %s",
               Grouped(shared.over_budget).c_str());
  if (shared.over_budget > 0) {
    std::fprintf(g_out, ", the slowest %s in %lld ms", shared.slowest.load(),
                 static_cast<long long>(shared.slowest_ms.load()));
  }
  std::fprintf(g_out, "\n  user data reports: %s\n", Grouped(Reports::user_data()).c_str());
  const auto findings = Reports::Findings();
  std::fprintf(g_out, "  findings: %zu\n", findings.size());
  for (const std::string& f : findings) std::fprintf(g_out, "    %s\n", f.c_str());
}

int Main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "hostile_bench: %s\n", error.c_str());
    return 2;
  }
  // The SDK's diagnostics (a line for many a hostile message) go to a file
  // or nowhere; the bench keeps standard output for itself.
  g_out = ::fdopen(::dup(STDOUT_FILENO), "w");
  const int log = ::open(options.sdk_log.empty() ? "/dev/null" : options.sdk_log.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (g_out == nullptr || log < 0 || ::dup2(log, STDOUT_FILENO) < 0) {
    std::fprintf(stderr, "hostile_bench: cannot redirect the SDK's output\n");
    return 1;
  }
  ::close(log);
  av_log_set_level(AV_LOG_QUIET);  // the decoders' complaints about what they were given
  __sanitizer_set_death_callback(&OnSanitizerDeath);
  std::thread([] {}).join();  // a sanitizer's runtime starts a thread of its own
  const int threads = qcsdk::bench::ThreadCount();

  Shared shared;
  shared.options = options;
  shared.dir = std::filesystem::temp_directory_path() /
               ("qcsdk_hostile_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(shared.dir);
  const bool wanted[2] = {options.transports.find("nxl") != std::string::npos,
                          options.transports.find("oct") != std::string::npos};
  for (size_t t = 0; t < 2; ++t) {
    shared.next_seed[t] = options.first_seed;
    shared.stop[t] = !wanted[t];
  }
  std::fprintf(g_out,
               "hostile: %s messages per transport (%s), %d hostile channels each at a time, "
               "%d links a seed, %d pictures a second, at most %d minutes\n",
               Grouped(options.messages).c_str(), options.transports.c_str(), options.lanes,
               options.links, options.fps, options.minutes);
  std::fflush(g_out);

  vdevice::DeviceHost device;
  vdevice::DeviceSpec spec;
  spec.width = 160;
  spec.height = 120;
  if (device.Add(spec, &error) != 0) {
    std::fprintf(stderr, "hostile_bench: the normal device: %s\n", error.c_str());
    return 1;
  }
  Reports::Register();
  if (QCSDK_InitSDK(0, nullptr) != 1) {
    std::fprintf(stderr, "hostile_bench: QCSDK_InitSDK failed\n");
    return 1;
  }
  // Whatever library a hostile device sends, none is loaded.
  const char* const nothing[] = {
      "0000000000000000000000000000000000000000000000000000000000000000"};
  QCSDK_SetCfgDialogDigests(nothing, 1);
  Normal nxl{Link(QCSDK_TRANSPORT_NXL, 0)}, oct{Link(QCSDK_TRANSPORT_OCT, 0)};
  nxl.n = QCSDK_Connect2(QCSDK_TRANSPORT_NXL, "127.0.0.1", device.nxl(0).port(), 0, 0, "admin",
                         "admin", 0, &nxl.link);
  oct.n = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, "127.0.0.1", device.oct(0)->port(), 1, 0, "admin",
                         "admin", 0, &oct.link);
  for (int i = 0; i < 2000 && (nxl.link.connected == 0 || oct.link.connected == 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (nxl.link.connected == 0 || oct.link.connected == 0) {
    std::fprintf(stderr, "hostile_bench: the normal channels did not connect\n");
    return 1;
  }
  QCSDK_EnableDecoder(nxl.n, 1);
  QCSDK_EnableDecoder(oct.n, 1);
  std::vector<Normal*> normals = {&nxl, &oct};
  const int64_t start = NowMs();
  for (Normal* normal : normals) normal->last_rise_ms = start;

  std::vector<std::unique_ptr<Lane>> lanes;
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; wanted[t] && i < options.lanes; ++i) {
      lanes.push_back(std::make_unique<Lane>(i, t, shared));
    }
  }
  g_lanes = &lanes;
  std::vector<std::thread> threadsOfLanes;
  for (auto& lane : lanes) threadsOfLanes.emplace_back([&lane] { lane->Run(); });
  const bool timed_out = Monitor(shared, lanes, normals, start);
  for (std::thread& t : threadsOfLanes) t.join();
  const int64_t ms = NowMs() - start;

  StreamInfo info{};
  for (Normal* normal : normals) {
    if (QCSDK_GetStreamInfo(normal->n, &info) != 1) {
      Reports::Finding("a normal channel has no stream at the end");
    }
  }
  Bounded("QCSDK_ReleaseSDK", options.hang_seconds, [] { QCSDK_ReleaseSDK(); });
  Reports::Unregister();
  device.Stop();
  std::filesystem::remove_all(shared.dir);
  for (int i = 0; i < 1000 && qcsdk::bench::ThreadCount() != threads; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (qcsdk::bench::ThreadCount() != threads) {
    Reports::Finding(std::to_string(qcsdk::bench::ThreadCount()) + " threads at the end, " +
                     std::to_string(threads) + " at the start");
  }
  Summary(shared, lanes, normals, ms, timed_out);
  g_lanes = nullptr;
  std::fflush(g_out);
  if (!Reports::Findings().empty()) return 1;
  return timed_out ? 3 : 0;
}

}  // namespace
}  // namespace hostile

int main(int argc, char** argv) {
  return hostile::Main(argc, argv);
}
