// One lane of the hostile bench: a host thread that takes seeds one after
// another on one transport and, for each, starts a hostile device of the
// simulator with that seed, connects to it, drives every kind of export on
// the channel (live, decoding, recording, snapshots, lists, playback,
// download, talk, PTZ, RPC, user data, the configuration dialog), and when
// the link ends, by itself or by a disconnect, connects again, until the
// seed has had its links.
#pragma once

#include <qcsdk/qcsdk.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>

#include "hostile_options.h"
#include "reports.h"

namespace vdevice {
class DeviceHost;
}

namespace hostile {

// What the lanes share with the bench's monitor.
struct Shared {
  Options options;
  std::filesystem::path dir;  // lanes keep their files below it
  std::array<std::atomic<int>, 2> next_seed{};
  std::array<std::atomic<bool>, 2> stop{};  // no new link on that transport
  std::array<std::atomic<uint64_t>, 2> host_ops{};
  std::atomic<uint64_t> over_budget{0};  // exports that took longer than their budget
  std::atomic<int64_t> slowest_ms{0};
  std::atomic<const char*> slowest{""};
};

class Lane {
 public:
  Lane(int index, int transport, Shared& shared);
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  // Takes seeds until its transport is told to stop.
  void Run();

  int transport() const { return transport_; }
  bool finished() const { return finished_; }
  // Messages the devices of this lane have mutated and sent so far.
  uint64_t sent() const { return sent_done_ + sent_now_; }
  int seeds() const { return seeds_; }
  int last_seed() const { return seed_; }
  // The export running now and since when (0: none), for the hang watch.
  const char* call() const { return call_; }
  int64_t call_since_ms() const { return call_since_ms_; }
  // When the lane last finished an export or started a link.
  int64_t progress_ms() const { return progress_ms_; }
  // One line: transport, lane, seed, link and the export running now.
  std::string Describe() const;

 private:
  void Seed(int seed);
  // One link to the device: connect, steps until a round is done or the
  // link has ended, then a disconnect unless it ended by itself.
  void RunLink(vdevice::DeviceHost& device, int seed);
  // Step i of a round: one or a few exports, and what they wait for.
  void Step(size_t i);
  // Runs an export unless the link has ended (its number may name another
  // link by then); counts it and notes a slow one; returns its result, -1
  // when skipped.
  int32_t Call(const char* name, int budget_ms, const std::function<int32_t()>& call);
  // Waits (bounded) until `done` or the end of the link.
  void Wait(const std::function<bool()>& done, int ms) const;
  // Waits for the end of the link; a finding when it does not come.
  void WaitForEnd(const char* after);
  void Note(vdevice::DeviceHost& device);

  const int index_;
  const int transport_;
  Shared& shared_;
  const std::filesystem::path dir_;
  std::deque<Link> links_;  // every link of the lane, alive until the bench ends
  Link* link_ = nullptr;
  int32_t n_ = -1;
  size_t cursor_ = 0;  // next step of the round
  std::string base_;   // path of this seed's files, without extension
  StreamInfo info_{};
  int list_mark_ = 0, download_mark_ = 0;
  std::atomic<int> seed_{0}, seeds_{0}, link_number_{0};
  std::atomic<uint64_t> sent_done_{0}, sent_now_{0};
  std::atomic<const char*> call_{""};
  std::atomic<int64_t> call_since_ms_{0};
  std::atomic<int64_t> progress_ms_{NowMs()};
  std::atomic<bool> finished_{false};
};

}  // namespace hostile
