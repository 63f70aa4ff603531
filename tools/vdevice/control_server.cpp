#include "vdevice/control_server.h"

#include <stdexcept>

#include "netio/address.h"
#include "vdevice/control_client.h"
#include "vdevice/device_host.h"

namespace vdevice {
namespace {

// The answer to "encode OPTIONS" (ControlClient::EncodePattern reads it).
std::string Encoded(const std::string& request) {
  PatternOptions options;
  if (!ParsePatternOptions(request, &options)) return "error bad encode options\n";
  try {
    const std::vector<MediaFrame> frames = EncodePattern(options);
    std::string head = "frames " + std::to_string(frames.size()), body;
    for (const MediaFrame& f : frames) {
      head += ' ' + std::to_string(f.data.size()) + (f.key ? "k" : "");
      body.append(f.data.begin(), f.data.end());
    }
    return head + '\n' + body;
  } catch (const std::exception& e) {
    return std::string("error ") + e.what() + '\n';
  }
}

}  // namespace

bool ControlServer::Start(uint16_t port, std::string* error) {
  listener_ = netio::ListenTcp(netio::kLoopback, port, error);
  if (!listener_.valid()) return false;
  port_ = netio::LocalPort(listener_.get());
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void ControlServer::Stop() {
  if (!acceptor_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    for (Connection& c : connections_) netio::Shutdown(c.fd.get());
  }
  netio::Shutdown(listener_.get());  // wakes the accept
  acceptor_.join();
  for (Connection& c : connections_) c.thread.join();
  connections_.clear();
  listener_ = netio::Fd();
}

void ControlServer::AcceptLoop() {
  for (;;) {
    netio::Fd fd = netio::Accept(listener_.get());
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_ || !fd.valid()) return;
    Connection& c = connections_.emplace_back();
    c.fd = std::move(fd);
    c.thread = std::thread(&ControlServer::Serve, c.fd.get());
  }
}

void ControlServer::Serve(netio::Socket fd) {
  DeviceHost host;
  std::string pending;
  char buf[512];
  size_t got = 0;
  while (netio::ReceiveSome(fd, buf, sizeof buf, &got) == netio::Received::kData) {
    pending.append(buf, got);
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string line = pending.substr(0, end);
      std::string answer = "error expected 'device SETTINGS' or 'encode OPTIONS'\n", error;
      DeviceSpec spec;
      if (line.rfind("device ", 0) == 0) {
        const int index =
            ParseDeviceSpec(line.substr(7), &spec, &error) ? host.Add(spec, &error) : -1;
        answer = (index < 0 ? "error " + error : host.Describe(static_cast<size_t>(index))) + '\n';
      } else if (line.rfind("encode ", 0) == 0) {
        answer = Encoded(line.substr(7));
      }
      if (!netio::SendAll(fd, answer.data(), answer.size())) return;
    }
  }
  host.Stop();
}

}  // namespace vdevice
