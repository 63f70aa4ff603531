// Serves a VirtualDevice over the Nxl transport: a qvc::device::DeviceServer
// whose handlers map every client message onto the device, one NxlSession
// per logged-in client for its state, playback and downloads, and one
// NxlLiveFeed that paces the live video of every client.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "qvc/device/device_server.h"
#include "vdevice/nxl_live_feed.h"
#include "vdevice/outbox.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class NxlSession;

class NxlFrontEnd {
 public:
  explicit NxlFrontEnd(std::shared_ptr<VirtualDevice> device);
  ~NxlFrontEnd();
  NxlFrontEnd(const NxlFrontEnd&) = delete;
  NxlFrontEnd& operator=(const NxlFrontEnd&) = delete;

  // Listens on 127.0.0.1:port (0: the system picks).
  bool Start(uint16_t port);
  void Stop();
  uint16_t port() const;
  size_t client_count() const;
  qvc::device::DeviceServer& server() { return *server_; }
  VirtualDevice& device() { return *device_; }

 private:
  void OnLogin(const qvc::device::ClientInfo& info);
  void OnMessage(qvc::device::ClientId id, uint32_t type, const uint8_t* data, size_t size);
  void OnGone(qvc::device::ClientId id);
  std::shared_ptr<NxlSession> Session(qvc::device::ClientId id) const;
  void HandleText(NxlSession& s, uint32_t type, const uint8_t* data, size_t size);

  std::shared_ptr<VirtualDevice> device_;
  std::unique_ptr<qvc::device::DeviceServer> server_;
  std::unique_ptr<NxlOutbox> out_;
  std::unique_ptr<NxlLiveFeed> feed_;
  mutable std::mutex mutex_;
  std::map<qvc::device::ClientId, std::shared_ptr<NxlSession>> sessions_;
  std::vector<std::shared_ptr<NxlSession>> retired_;
  int sink_id_ = 0;
};

}  // namespace vdevice
