// The library's process-wide state: registered callbacks, settings, the
// links by id, the event loops that serve them, the search and broadcast
// services and every thread started.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qvc/qvc.h"
#include "thread_set.h"

namespace qvc {

class EventLoop;
class Link;
class SearchService;
class BroadcastService;

struct Settings {
  uint32_t directory_address = 0;  // network order
  uint16_t directory_port = 0;     // host order
  uint32_t broadcast_address = 0;  // network order
  uint16_t broadcast_port = 0;     // 0: the service's remote port
  uint32_t local_address = 0;      // network order; 0: any
  int connect_timeout_ms = 5000;
  int ping_interval_ms = 2000;
  int silence_timeout_ms = 8000;
};

struct Callbacks {
  std::atomic<QVC_ConnectCallback> on_connect{nullptr};
  std::atomic<QVC_StreamCallback> on_live{nullptr};
  std::atomic<QVC_FileListCallback> on_file_list{nullptr};
  std::atomic<QVC_TalkCallback> on_talk{nullptr};
  std::atomic<QVC_TextCallback> on_text{nullptr};
  std::atomic<QVC_DownloadCallback> on_download{nullptr};
  std::atomic<QVC_StreamCallback> on_playback{nullptr};
};

class Library {
 public:
  static Library& Get();

  Library();
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Init();
  void Release();
  // Callbacks run only while this is true (between init and release).
  bool active() const { return active_.load(); }

  Callbacks& callbacks() { return callbacks_; }
  ThreadSet& threads() { return threads_; }

  Settings settings() const;
  void UpdateSettings(const Settings& settings);

  // Registers the link under its id and hands it to the least busy event
  // loop (the loops start with the first link). Null when it started, else
  // the reason: the library is not initialised, the id is taken or no loop
  // thread can start.
  const char* StartLink(const std::shared_ptr<Link>& link);
  // Reports a connect refused before its link started (result 4 with the
  // text) from a thread of the library, or from the caller's thread when
  // none can start.
  void ReportRefusedConnect(int32_t link_id, const char* text) noexcept;
  // Event loop threads: one per processor core, at least 1, at most 8.
  static int LoopCount();
  std::shared_ptr<Link> FindLink(int32_t link_id) const;
  // Removes and returns the link of that id.
  std::shared_ptr<Link> TakeLink(int32_t link_id);
  // Removes the entry if it still names `link` (a link ending on its own).
  void ForgetLink(int32_t link_id, const Link* link);

  SearchService& search() { return *search_; }
  BroadcastService& broadcast() { return *broadcast_; }

 private:
  std::atomic<bool> active_{false};
  Callbacks callbacks_;
  mutable std::mutex mu_;
  Settings settings_;
  bool initialised_ = false;
  std::map<int32_t, std::shared_ptr<Link>> links_;
  std::vector<std::shared_ptr<EventLoop>> loops_;
  std::unique_ptr<SearchService> search_;
  std::unique_ptr<BroadcastService> broadcast_;
  // Declared last: destroyed first, joining every thread while the state
  // above still exists.
  ThreadSet threads_;
};

}  // namespace qvc
