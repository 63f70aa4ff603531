#include "vdevice/oct_download.h"

#include <algorithm>
#include <vector>

namespace vdevice {
namespace {

constexpr size_t kBlock = 64 * 1024;

}  // namespace

OctDownload::OctDownload(VirtualDevice& device, OctOutbox& out, octc::device::SubRef ref,
                         Recording recording)
    : device_(device), out_(out), ref_(ref), recording_(std::move(recording)) {}

OctDownload::~OctDownload() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

void OctDownload::Start() {
  thread_ = std::thread([this] { Run(); });
}

void OctDownload::Run() {
  std::vector<std::vector<uint8_t>> blocks;
  if (device_.ChunkedDownloads()) {
    blocks = device_.ChunkedRecording(recording_, kBlock);
  } else {
    const std::vector<uint8_t> file = device_.RawRecordingFile(recording_);
    for (size_t at = 0; at < file.size(); at += kBlock) {
      const auto from = file.begin() + static_cast<std::ptrdiff_t>(at);
      blocks.emplace_back(from,
                          from + static_cast<std::ptrdiff_t>(std::min(kBlock, file.size() - at)));
    }
  }
  uint64_t total = 0;
  for (const auto& b : blocks) total += b.size();
  const bool abortEarly = device_.spec().faults.abort_downloads;
  uint64_t received = 0;
  bool alive = true;
  for (const auto& b : blocks) {
    if (stop_) break;
    // Under the abort fault the device gives up after its first block and
    // always short of the whole: a recording of one block is cut in half.
    const size_t size = abortEarly && b.size() == total ? b.size() / 2 : b.size();
    received += size;
    alive = out_.DownloadData(ref_, b.data(), size, total, received);
    if (!alive || abortEarly) break;
  }
  // The device closes the download when it has sent everything (or gives
  // up early under the abort fault); the client tells the two apart by the
  // byte counts.
  if (alive && !stop_) out_.EndDownload(ref_, OCTC_STATE_CLOSED, 0);
  finished_ = true;
}

}  // namespace vdevice
