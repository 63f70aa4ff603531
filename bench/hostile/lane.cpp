#include "lane.h"

#include <qcsdk/qcsdk_grpc.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "vdevice/device_host.h"

namespace hostile {
namespace {

constexpr int kQuickMs = 2000;  // exports that only queue a message or read state
constexpr int kWaitMs = 6000;   // exports that wait for the device: 5 s budgets
constexpr size_t kSteps = 12;   // steps of a round

// An export on the lane's channel, named by its own text.
#define CALL(budgetMs, call) Call(#call, budgetMs, [&] { return call; })

}  // namespace

Lane::Lane(int index, int transport, Shared& shared)
    : index_(index),
      transport_(transport),
      shared_(shared),
      dir_(shared.dir /
           ((transport == QCSDK_TRANSPORT_OCT ? "oct" : "nxl") + std::to_string(index))) {}

std::string Lane::Describe() const {
  std::string text = std::string(transport_ == QCSDK_TRANSPORT_OCT ? "OCT" : "Nxl") + " lane " +
                     std::to_string(index_) + ": seed " + std::to_string(seed_) + ", link " +
                     std::to_string(link_number_);
  if (const int64_t since = call_since_ms_; since != 0) {
    text += ", in " + std::string(call_.load()) + " for " + std::to_string(NowMs() - since) + " ms";
  }
  return text;
}

void Lane::Run() {
  const size_t t = static_cast<size_t>(transport_);
  while (!shared_.stop[t]) {
    const int seed = shared_.next_seed[t]++;
    seed_ = seed;
    Seed(seed);
    ++seeds_;
  }
  finished_ = true;
}

void Lane::Seed(int seed) {
  std::error_code error;
  std::filesystem::remove_all(dir_, error);
  std::filesystem::create_directories(dir_, error);
  base_ = (dir_ / std::to_string(seed)).string();
  // The device a seed means in tests/hostile too: device type (list entry
  // form, handshake), recording kind (raw or chunked downloads) and stream
  // header form follow the seed.
  vdevice::DeviceSpec spec;
  spec.width = 160;
  spec.height = 120;
  spec.fps = shared_.options.fps;
  spec.device_type = seed % 2 == 0 ? 3 : 1;
  spec.recording_kind = seed % 5;
  spec.header = static_cast<vdevice::HeaderForm>(seed % 4 == 3 ? 1 + seed % 8 / 4 : 0);
  spec.faults.hostile_seed = static_cast<uint64_t>(seed);
  if (transport_ == QCSDK_TRANSPORT_NXL) spec.oct_port = -1;
  vdevice::DeviceHost device;
  std::string text;
  if (device.Add(spec, &text) != 0) {
    Reports::Finding("seed " + std::to_string(seed) + ": the device did not start: " + text);
    shared_.stop[static_cast<size_t>(transport_)] = true;
    return;
  }
  cursor_ = 0;
  for (int i = 0; i < shared_.options.links && !shared_.stop[static_cast<size_t>(transport_)];
       ++i) {
    link_number_ = i + 1;
    RunLink(device, seed);
  }
  Note(device);
  sent_done_ += sent_now_.exchange(0);
  device.Stop();
}

void Lane::Note(vdevice::DeviceHost& device) {
  const auto side = transport_ == QCSDK_TRANSPORT_OCT ? vdevice::HostileAnswers::Side::kOct
                                                      : vdevice::HostileAnswers::Side::kNxl;
  sent_now_ = device.device(0).hostile()->sent(side);
}

void Lane::RunLink(vdevice::DeviceHost& device, int seed) {
  const bool oct = transport_ == QCSDK_TRANSPORT_OCT;
  link_ = &links_.emplace_back(transport_, seed);
  progress_ms_ = NowMs();
  call_ = "QCSDK_Connect2";
  call_since_ms_ = NowMs();
  n_ = QCSDK_Connect2(transport_, "127.0.0.1", oct ? device.oct(0)->port() : device.nxl(0).port(),
                      oct ? 1 : 0, 0, "admin", "admin", 0, link_);
  call_since_ms_ = 0;
  ++shared_.host_ops[static_cast<size_t>(transport_)];
  if (n_ < 0) {
    Reports::Finding(Describe() + ": the connect was refused");
    return;
  }
  const int hangMs = 1000 * shared_.options.hang_seconds;
  Wait([&] { return link_->connected > 0; }, hangMs);
  if (link_->connected == 0 && link_->ended == 0) {
    Reports::Finding(Describe() + ": no outcome of the connect");
  }
  // Steps go on from where the last link of this device stopped, so that
  // every step also runs on a link where the steps before it did not.
  while (link_->connected > 0 && link_->ended == 0 &&
         !shared_.stop[static_cast<size_t>(transport_)]) {
    Step(cursor_);
    Note(device);
    cursor_ = (cursor_ + 1) % kSteps;
    if (cursor_ == 0) break;  // a whole round on this link
  }
  CALL(kQuickMs, QCSDK_Disconnect(n_));
  WaitForEnd("after QCSDK_Disconnect");
}

void Lane::Step(size_t i) {
  const int32_t n = n_;
  switch (i) {
    case 0: {
      int32_t type = 0;
      CALL(kQuickMs, QCSDK_GetDeviceInfo(n, &type));
      CALL(kQuickMs, QCSDK_GetStreamInfo(n, &info_));
      break;
    }
    case 1: CALL(kQuickMs, QCSDK_EnableDecoder(n, 1)); break;
    case 2: {
      static constexpr const char* kExtensions[] = {".sv4", ".sv5", ".sv6", ".mp4", ".mp4"};
      const int kind =
          info_.recordingKind >= 1 && info_.recordingKind <= 5 ? info_.recordingKind : 1;
      const std::string record = base_ + kExtensions[kind - 1];
      CALL(kQuickMs, QCSDK_StartRec(n, record.c_str()));
      CALL(kQuickMs, QCSDK_EnableVideoData(n, 1));
      break;
    }
    case 3: {
      const vdevice::Date today = vdevice::Today();
      const int32_t dates[6] = {today.year, today.month, today.day,
                                today.year, today.month, today.day};
      list_mark_ = link_->lists;
      CALL(kWaitMs, QCSDK_GetRemoteRecFileList(n, dates));
      Wait([&] { return link_->lists > list_mark_; }, kWaitMs);
      break;
    }
    case 4:
      CALL(kQuickMs, QCSDK_RemotePlay(n, 0));
      for (int32_t command = 0; command <= 5; ++command) {
        CALL(kWaitMs, QCSDK_RemotePlayControl(n, command, command == 5 ? 0x7FFFFFFF : 1));
      }
      break;
    case 5: {
      const std::string download = base_ + ".download";
      download_mark_ = link_->download_ends;
      CALL(kQuickMs, QCSDK_DownloadRemoteFile(n, 0, download.c_str()));
      break;
    }
    case 6: {
      const uint8_t audio[320] = {};
      CALL(kQuickMs, QCSDK_StartTalk(n));
      CALL(kQuickMs, QCSDK_SendTalkData(n, audio, sizeof audio));
      CALL(kQuickMs, QCSDK_StopTalk(n));
      CALL(kQuickMs, QCSDK_SendUserData(n, audio, 16));
      break;
    }
    case 7:
      CALL(kWaitMs, QCSDK_SendPTZCommand(n, 4, 1));
      CALL(2 * kWaitMs, QCSDK_RemoteRecording(n, 1));
      break;
    case 8:
      // RPC calls only over an open exchange, closed whatever the answers.
      if (CALL(kWaitMs, QCSDK_GRPC_Begin(n)) == 1) {
        qvbu_dev_get_info_result device{};
        CALL(kWaitMs, QCSDK_GRPC_dev_get_info(n, nullptr, &device));
        qvbu_ptz_patrols_get_param patrolsParam{};
        qvbu_ptz_patrols_get_result patrols{};
        CALL(kWaitMs, QCSDK_GRPC_ptz_patrols_get(n, &patrolsParam, &patrols));
        qvbu_log_get_param logParam{};
        qvbu_log_get_result log{};
        CALL(kWaitMs, QCSDK_GRPC_log_get(n, &logParam, &log));
      }
      CALL(kQuickMs, QCSDK_GRPC_End(n));
      break;
    case 9: CALL(kWaitMs, QCSDK_RemoteConfig(n, 0)); break;
    case 10: {
      uint8_t* bitmap = nullptr;
      int32_t width = 0, height = 0;
      CALL(kQuickMs, QCSDK_SaveBitmapToBuffer(n, &bitmap, &width, &height));
      QCSDK_FreeBitmapBuffer(bitmap);
      const std::string snapshot = base_ + ".bmp";
      CALL(kQuickMs, QCSDK_SaveBitmap(n, snapshot.c_str()));
      CALL(kQuickMs, QCSDK_Refresh(n));
      break;
    }
    default:
      Wait([&] { return link_->download_ends > download_mark_; }, kWaitMs);
      CALL(kQuickMs, QCSDK_EnableDecoder(n, 0));
      CALL(kQuickMs, QCSDK_StopRec(n));
      break;
  }
}

int32_t Lane::Call(const char* name, int budget_ms, const std::function<int32_t()>& call) {
  if (link_->ended > 0) return -1;
  call_ = name;
  const int64_t start = NowMs();
  call_since_ms_ = start;
  const int32_t result = call();
  const int64_t ms = NowMs() - start;
  call_since_ms_ = 0;
  progress_ms_ = start + ms;
  ++shared_.host_ops[static_cast<size_t>(transport_)];
  if (ms > budget_ms) {
    ++shared_.over_budget;
    int64_t slowest = shared_.slowest_ms;
    while (ms > slowest && !shared_.slowest_ms.compare_exchange_weak(slowest, ms)) {
    }
    if (ms >= slowest) shared_.slowest = name;
  }
  if (result != 0 && result != 1) {
    Reports::Finding(Describe() + ": " + name + " returned " + std::to_string(result));
  }
  return result;
}

void Lane::Wait(const std::function<bool()>& done, int ms) const {
  const int64_t end = NowMs() + ms;
  while (!done() && link_->ended == 0 && NowMs() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Lane::WaitForEnd(const char* after) {
  const int64_t end = NowMs() + 1000 * shared_.options.hang_seconds;
  while (link_->ended == 0 && NowMs() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (link_->ended == 0) Reports::Finding(Describe() + ": the link did not end " + after);
}

}  // namespace hostile
