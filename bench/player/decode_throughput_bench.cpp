// Decode throughput of a 1080p H.264 clip through the player library (one
// decoding thread) against `ffmpeg -threads 1 -i clip -f null -` run on the
// same file in the same run. Reports frames per second of both (ffmpeg's
// from its own -benchmark decoding-loop time, and from the wall time of the
// whole process) and the ratio player / ffmpeg loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <qvsp/qvsp.h>
#include <qvsp/qvsp_ext.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "vdevice/pattern_encoder.h"

extern "C" {
#include <libavutil/log.h>
}

extern char** environ;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 150;

using Clock = std::chrono::steady_clock;

std::filesystem::path g_clipFile;  // removed at exit once written

struct Clip {
  std::vector<vdevice::MediaFrame> packets;
  std::filesystem::path file;
};

// The clip, encoded once per run: 150 pictures of the moving pattern, a key
// frame every 50, about 6 Mbit/s as a camera would send.
const Clip& TheClip() {
  static const Clip clip = [] {
    vdevice::PatternOptions options;
    options.codec = vdevice::PatternCodec::kH264;
    options.width = kWidth;
    options.height = kHeight;
    options.frames = kFrames;
    options.gop = 50;
    options.bitRate = 6'000'000;
    options.preset = "veryfast";
    Clip c;
    c.packets = vdevice::EncodePattern(options);
    c.file = std::filesystem::temp_directory_path() /
             ("qvsp_bench_" + std::to_string(getpid()) + ".h264");
    g_clipFile = c.file;
    std::ofstream out(c.file, std::ios::binary);
    for (const auto& p : c.packets) {
      out.write(reinterpret_cast<const char*>(p.data.data()),
                static_cast<std::streamsize>(p.data.size()));
    }
    return c;
  }();
  return clip;
}

struct PictureCounter {
  std::mutex mutex;
  std::condition_variable changed;
  int pictures = 0;
} g_counter;

void CountPicture(int32_t, const uint8_t*, const uint8_t*, const uint8_t*, int32_t, int32_t) {
  std::lock_guard<std::mutex> lock(g_counter.mutex);
  ++g_counter.pictures;
  g_counter.changed.notify_all();
}

// Seconds from the first frame written to the last picture reported;
// negative when not every picture arrived.
double DecodeWithPlayer(const Clip& clip) {
  QVSP_InitSDK();
  QVSP_SetCallBack(&CountPicture, nullptr, nullptr, nullptr);
  const int32_t player = QVSP_CreatePlayer();
  std::array<uint8_t, 96> record{};
  record[38] = 1;  // H.264
  record[44] = kWidth & 0xFF;
  record[45] = kWidth >> 8;
  record[46] = kHeight & 0xFF;
  record[47] = kHeight >> 8;
  QVSP_OpenStream(player, record.data(), static_cast<int32_t>(record.size()));
  // Room for the whole clip: the benchmark measures decoding, not dropping.
  QVSP_SetQueueLimits(player, 1000, 512 << 20);
  {
    std::lock_guard<std::mutex> lock(g_counter.mutex);
    g_counter.pictures = 0;
  }
  const auto start = Clock::now();
  for (const auto& p : clip.packets) {
    QVSP_WriteToStreamOneFrame(player, p.data.data(), static_cast<int32_t>(p.data.size()));
  }
  bool complete = false;
  {
    std::unique_lock<std::mutex> lock(g_counter.mutex);
    complete = g_counter.changed.wait_for(lock, std::chrono::minutes(5),
                                          [] { return g_counter.pictures >= kFrames; });
  }
  const double seconds =
      complete ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
  QVSP_ReleasePlayer(player);
  QVSP_ReleaseSDK();
  return seconds;
}

struct FfmpegTimes {
  double process = -1;  // wall time of the whole program run
  double loop = -1;     // its own "rtime": the decoding loop without start-up and probing
};

// Runs the ffmpeg program on the clip with -benchmark; its report goes to a
// file beside the clip.
FfmpegTimes DecodeWithFfmpeg(const Clip& clip) {
  FfmpegTimes times;
  const std::string file = clip.file.string();
  const std::string report = file + ".log";
  std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostdin", "-benchmark", "-threads",
                                   "1",      "-i",           file,       "-f",         "null",
                                   "-"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, report.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return times;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return times;
  }
  times.process = std::chrono::duration<double>(Clock::now() - start).count();
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find("rtime=");
    if (at != std::string::npos) times.loop = std::atof(line.c_str() + at + 6);
  }
  std::error_code ignored;
  std::filesystem::remove(report, ignored);
  return times;
}

void BM_Decode1080pH264(benchmark::State& state) {
  const Clip& clip = TheClip();
  if (clip.packets.size() != static_cast<size_t>(kFrames)) {
    state.SkipWithError("clip encoding failed");
    return;
  }
  double playerSeconds = 0;
  double ffmpegProcess = 0;
  double ffmpegLoop = 0;
  for (auto _ : state) {
    const double player = DecodeWithPlayer(clip);
    if (player < 0) {
      state.SkipWithError("the player did not report every picture");
      return;
    }
    const FfmpegTimes ffmpeg = DecodeWithFfmpeg(clip);
    if (ffmpeg.process < 0 || ffmpeg.loop <= 0) {
      state.SkipWithError("ffmpeg did not run or gave no benchmark report");
      return;
    }
    state.SetIterationTime(player);
    playerSeconds += player;
    ffmpegProcess += ffmpeg.process;
    ffmpegLoop += ffmpeg.loop;
  }
  // The ratio compares with ffmpeg's own decoding loop, the stricter of the
  // two: the whole process also starts up and probes the file.
  const double frames = static_cast<double>(kFrames) * static_cast<double>(state.iterations());
  state.counters["player_fps"] = frames / playerSeconds;
  state.counters["ffmpeg_fps"] = frames / ffmpegLoop;
  state.counters["ffmpeg_process_fps"] = frames / ffmpegProcess;
  state.counters["ratio"] = ffmpegLoop / playerSeconds;
}
BENCHMARK(BM_Decode1080pH264)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  if (!g_clipFile.empty()) std::filesystem::remove(g_clipFile, ignored);
  return 0;
}
