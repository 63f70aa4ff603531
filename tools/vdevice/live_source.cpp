#include "vdevice/live_source.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace vdevice {
namespace {

constexpr auto kFirstRetry = std::chrono::seconds(1);
constexpr auto kLastRetry = std::chrono::seconds(30);

}  // namespace

LiveSource::LiveSource(std::string url, bool udp, int keep_minutes)
    : url_(std::move(url)), udp_(udp), keep_(keep_minutes) {
  thread_ = std::thread([this] { Run(); });
}

LiveSource::~LiveSource() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool LiveSource::WaitFormat(std::chrono::milliseconds timeout, SourceFormat* out) const {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return has_format_ || stop_; }) || !has_format_) {
    return false;
  }
  *out = format_;
  return true;
}

std::vector<LiveSource::PacketPtr> LiveSource::Next(Cursor* cursor, std::chrono::milliseconds wait,
                                                    bool* ended) const {
  std::unique_lock lock(mutex_);
  if (cursor->seq == 0) {
    cursor->seq = next_seq_ - 1;
    cursor->ends = ends_;
  }
  const uint64_t woken = wake_;
  cv_.wait_for(lock, wait, [&] {
    return stop_ || wake_ != woken || next_seq_ - 1 > cursor->seq || ends_ != cursor->ends;
  });
  *ended = ends_ != cursor->ends;
  cursor->ends = ends_;
  std::vector<PacketPtr> out;
  if (!kept_.empty()) {
    const uint64_t first = kept_.front()->seq;
    for (size_t i = cursor->seq + 1 > first ? cursor->seq + 1 - first : 0; i < kept_.size(); ++i) {
      out.push_back(kept_[i]);
    }
  }
  cursor->seq = next_seq_ - 1;
  return out;
}

void LiveSource::WakeReaders() {
  {
    std::lock_guard lock(mutex_);
    ++wake_;
  }
  cv_.notify_all();
}

std::shared_ptr<const MediaClip> LiveSource::Kept(
    std::chrono::system_clock::time_point* start) const {
  std::lock_guard lock(mutex_);
  if (!has_format_ || kept_.empty()) return nullptr;
  auto clip = std::make_shared<MediaClip>();
  clip->codec = format_.codec;
  clip->width = format_.width;
  clip->height = format_.height;
  clip->fps = format_.fps;
  for (const PacketPtr& p : kept_) {
    if (p->audio) {
      if (!clip->audio.empty()) {
        clip->audio.back().insert(clip->audio.back().end(), p->data.begin(), p->data.end());
      }
      continue;
    }
    if (clip->frames.empty()) *start = p->at;
    clip->frames.push_back(MediaFrame{p->data, p->key});
    clip->audio.emplace_back();
  }
  if (clip->frames.empty()) return nullptr;
  return clip;
}

void LiveSource::Publish(SourcePacket&& p, const SourceFormat* first) {
  auto packet = std::make_shared<Packet>();
  packet->audio = p.audio;
  packet->key = p.key;
  packet->at = std::chrono::system_clock::now();
  packet->data = std::move(p.data);
  {
    std::lock_guard lock(mutex_);
    if (first != nullptr && !has_format_) format_ = *first;
    has_format_ = has_format_ || first != nullptr;
    packet->seq = next_seq_++;
    kept_.push_back(std::move(packet));
    // The kept minutes start at a key frame.
    const auto oldest = kept_.back()->at - keep_;
    while (!kept_.empty() && (kept_.front()->at < oldest)) kept_.pop_front();
    while (!kept_.empty() && (kept_.front()->audio || !kept_.front()->key)) kept_.pop_front();
  }
  cv_.notify_all();
}

void LiveSource::EndStream() {
  {
    std::lock_guard lock(mutex_);
    ++ends_;
  }
  cv_.notify_all();
}

bool LiveSource::Sleep(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  return !cv_.wait_for(lock, d, [this] { return stop_; });
}

void LiveSource::Run() {
  auto retry = std::chrono::milliseconds(kFirstRetry);
  const auto stopping = [this] {
    std::lock_guard lock(mutex_);
    return stop_;
  };
  while (!stopping()) {
    bool delivered = false;
    try {
      SourceInput input(url_, udp_, stopping);
      std::fprintf(stderr, "source %s: connected\n", url_.c_str());
      for (SourcePacket p; input.Read(&p);) {
        const bool first = !delivered && !p.audio && p.key;
        delivered = delivered || first;
        if (delivered) Publish(std::move(p), first ? &input.format() : nullptr);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s (%s)\n", e.what(), url_.c_str());
    }
    if (stopping()) break;
    if (delivered) {
      EndStream();
      retry = kFirstRetry;
    }
    std::fprintf(stderr, "source %s: %s; next try in %lld s\n", url_.c_str(),
                 delivered ? "ended" : "no stream", static_cast<long long>(retry.count() / 1000));
    if (!Sleep(retry)) break;
    retry = std::min<std::chrono::milliseconds>(retry * 2, kLastRetry);
  }
  cv_.notify_all();
}

}  // namespace vdevice
