// Process-wide state of the library.
#include "library.h"

#include <arpa/inet.h>

#include <vector>

#include "broadcast_service.h"
#include "link.h"
#include "net.h"
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
  net::ParseAddress(QVC_DEFAULT_DIRECTORY_ADDRESS, &settings_.directory_address);
  settings_.directory_port = QVC_DEFAULT_DIRECTORY_PORT;
  net::ParseAddress(QVC_DEFAULT_BROADCAST_ADDRESS, &settings_.broadcast_address);
  settings_.local_address = htonl(INADDR_ANY);
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
  {
    std::lock_guard lock(mu_);
    initialised_ = false;
    links.swap(links_);
  }
  for (auto& [id, link] : links) link->RequestStop(Link::Stop::kRelease);
  search_->Stop();
  broadcast_->Stop();
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

const char* Library::StartLink(const std::shared_ptr<Link>& link) {
  threads_.ReapFinished();
  std::lock_guard lock(mu_);
  if (!initialised_) return "library not initialised";
  if (links_.count(link->id()) != 0) return "link id in use";
  links_.emplace(link->id(), link);
  uint64_t thread = threads_.Spawn([link] { link->Run(); });
  if (thread == 0) {
    links_.erase(link->id());
    return "no thread for the link";
  }
  link->set_thread_id(thread);
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
