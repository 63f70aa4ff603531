// One download of a recording on the OCT transport: its thread sends the
// recording in blocks with the total and received byte counts (the ".sv"
// file bytes, or for the MP4 recording kinds the "QFH" record and blocks of
// "QVS" chunks), then closes the download from the device side.
#pragma once

#include <atomic>
#include <thread>

#include "octc_device/device.h"
#include "vdevice/outbox.h"
#include "vdevice/virtual_device.h"

namespace vdevice {

class OctDownload {
 public:
  OctDownload(VirtualDevice& device, OctOutbox& out, octc::device::SubRef ref, Recording recording);
  ~OctDownload();  // stops and joins the thread
  OctDownload(const OctDownload&) = delete;
  OctDownload& operator=(const OctDownload&) = delete;

  void Start();
  void RequestStop() { stop_ = true; }
  bool finished() const { return finished_; }

 private:
  void Run();

  VirtualDevice& device_;
  OctOutbox& out_;
  const octc::device::SubRef ref_;
  const Recording recording_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace vdevice
