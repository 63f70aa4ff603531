// Process-wide state of the library.
#include "library.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "broadcast_service.h"
#include "event_loop.h"
#include "link.h"
#include "netio/address.h"
#include "qvc/qvc_config.h"
#include "search_service.h"

namespace qvc {

Library& Library::Get() {
  static Library library;
  return library;
}

Library::Library()
    : search_(std::make_unique<SearchService>(*this)),
      broadcast_(std::make_unique<BroadcastService>(*this)) {
  netio::ParseAddress(QVC_DEFAULT_DIRECTORY_ADDRESS, &settings_.directory_address);
  settings_.directory_port = QVC_DEFAULT_DIRECTORY_PORT;
  netio::ParseAddress(QVC_DEFAULT_BROADCAST_ADDRESS, &settings_.broadcast_address);
  settings_.local_address = 0;  // any
}

Library::~Library() {
  Release();
}

bool Library::Init() {
  std::lock_guard lock(mu_);
  threads_.ReapFinished();
  initialised_ = true;
  active_.store(true);
  return true;
}

void Library::Release() {
  // From here on no callback starts; the joins below wait for those running.
  active_.store(false);
  std::map<int32_t, std::shared_ptr<Link>> links;
  std::vector<std::shared_ptr<EventLoop>> loops;
  {
    std::lock_guard lock(mu_);
    initialised_ = false;
    links.swap(links_);
    loops.swap(loops_);
  }
  for (auto& [id, link] : links) link->RequestStop(Link::Stop::kRelease);
  search_->Stop();
  broadcast_->Stop();
  for (auto& loop : loops) loop->Stop();
  threads_.JoinAll();
}

Settings Library::settings() const {
  std::lock_guard lock(mu_);
  return settings_;
}

void Library::UpdateSettings(const Settings& settings) {
  std::lock_guard lock(mu_);
  settings_ = settings;
}

int Library::LoopCount() {
  constexpr int kMaxLoops = 8;
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxLoops);
}

const char* Library::StartLink(const std::shared_ptr<Link>& link) {
  threads_.ReapFinished();
  std::lock_guard lock(mu_);
  if (!initialised_) return "library not initialised";
  if (links_.count(link->id()) != 0) return "link id in use";
  for (int i = static_cast<int>(loops_.size()); i < LoopCount(); ++i) {
    auto loop = std::make_shared<EventLoop>();
    if (!loop->valid() || threads_.Spawn([loop] { loop->Run(); }) == 0) break;
    loops_.push_back(std::move(loop));
  }
  if (loops_.empty()) return "no thread for the link";
  auto& loop = *std::min_element(loops_.begin(), loops_.end(), [](const auto& a, const auto& b) {
    return a->load().load() < b->load().load();
  });
  loop->load().fetch_add(1);
  if (!link->Start(loop)) {
    loop->load().fetch_sub(1);
    return "no thread for the link";
  }
  links_.emplace(link->id(), link);
  return nullptr;
}

void Library::ReportRefusedConnect(int32_t link_id, const char* text) noexcept {
  auto report = [this, link_id, text] {
    if (!active()) return;
    if (auto cb = callbacks_.on_connect.load()) cb(link_id, QVC_CONNECT_FAILED, text);
  };
  try {
    if (threads_.Spawn(report) != 0) return;
  } catch (...) {
  }
  report();
}

std::shared_ptr<Link> Library::FindLink(int32_t link_id) const {
  std::lock_guard lock(mu_);
  auto it = links_.find(link_id);
  return it == links_.end() ? nullptr : it->second;
}

std::shared_ptr<Link> Library::TakeLink(int32_t link_id) {
  std::lock_guard lock(mu_);
  auto it = links_.find(link_id);
  if (it == links_.end()) return nullptr;
  auto link = std::move(it->second);
  links_.erase(it);
  return link;
}

void Library::ForgetLink(int32_t link_id, const Link* link) {
  std::lock_guard lock(mu_);
  auto it = links_.find(link_id);
  if (it != links_.end() && it->second.get() == link) links_.erase(it);
}

}  // namespace qvc
