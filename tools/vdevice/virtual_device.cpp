#include "vdevice/virtual_device.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "vdevice/cfg_pack.h"
#include "vdevice/stream_header.h"

namespace vdevice {
namespace {

constexpr const char* kExtensions[] = {"sv4", "sv5", "sv6", "mp4", "mp4"};
constexpr const char* kNames[] = {"080000", "120000", "160000"};
constexpr size_t kMaxFileFrames = 3000;
// How long a device fed by a camera waits at start for its first picture.
constexpr auto kSourceWait = std::chrono::seconds(20);

bool ShortEntries(int device_type) {
  return device_type == 1 || device_type == 5;
}

// Times as comparable numbers: yyyymmddhhmmss.
int64_t Stamp(const DateTime& t) {
  const Date& d = t.date;
  return ((((int64_t{d.year} * 100 + d.month) * 100 + d.day) * 100 + t.hour) * 100 + t.minute) *
             100 +
         t.second;
}

}  // namespace

Date Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

VirtualDevice::VirtualDevice(DeviceSpec spec, int index)
    : spec_(std::move(spec)),
      index_(index),
      rpc_({rpc::Account{spec_.user, spec_.password, "admin", ""}}, true) {
  if (!spec_.source.empty()) {
    StartSource();
  } else if (!spec_.media_file.empty()) {
    clip_ = MediaFileClip(spec_.media_file, kMaxFileFrames);
  } else {
    // Two seconds with a key frame every second: one shared clip per
    // (codec, size, rate) however many devices and channels use it.
    clip_ = TestPatternClip(spec_.codec, spec_.width, spec_.height, spec_.fps, 2 * spec_.fps,
                            spec_.fps);
  }
  if (!spec_.cfg_library.empty()) {
    std::ifstream in(spec_.cfg_library, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the configuration library " + spec_.cfg_library);
    cfg_library_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // Packed once here: packing a large library takes long enough to miss a
    // client's five-second wait if it were done per request.
    cfg_packed_ = CfgPack(cfg_library_);
  }
  if (spec_.faults.hostile_seed) {
    hostile_ = std::make_unique<HostileAnswers>(*spec_.faults.hostile_seed);
  }
}

VirtualDevice::~VirtualDevice() = default;

// The device announces what the camera sends: its first connection's video
// and audio. Its clip (for the few uses outside live and recordings) is
// what the camera sent so far.
void VirtualDevice::StartSource() {
  source_ = std::make_unique<LiveSource>(spec_.source, spec_.source_udp, spec_.keep_minutes);
  SourceFormat f;
  std::chrono::system_clock::time_point start;
  if (!source_->WaitFormat(kSourceWait, &f) || !(clip_ = source_->Kept(&start))) {
    throw std::runtime_error("the source " + spec_.source + " sent no picture");
  }
  spec_.codec = f.codec;
  spec_.width = f.width;
  spec_.height = f.height;
  spec_.fps = f.fps;
  spec_.audio = f.audio != SourceAudio::kNone;
  spec_.aac = f.audio == SourceAudio::kAac;
  spec_.mu_law = f.audio == SourceAudio::kMuLaw;
  spec_.audio_rate = spec_.aac ? f.audio_rate : 8000;
  spec_.audio_channels = spec_.aac ? f.audio_channels : 1;
}

std::vector<Recording> VirtualDevice::Recordings(int channel, const Date& date) const {
  std::vector<Recording> out;
  if (!(date == Today())) return out;
  // A camera's device has one recording a channel: the kept minutes, named
  // by the time their first picture arrived.
  std::vector<std::string> names(std::begin(kNames), std::end(kNames));
  std::shared_ptr<const MediaClip> kept;
  if (source_) {
    std::chrono::system_clock::time_point start;
    if (!(kept = source_->Kept(&start))) return out;
    const std::time_t t = std::chrono::system_clock::to_time_t(start);
    std::tm local{};
    localtime_r(&t, &local);
    if (!(Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday} == date)) return out;
    char name[8];
    std::snprintf(name, sizeof name, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
    names = {name};
  }
  const char* ext = kExtensions[spec_.recording_kind];
  for (size_t i = 0; i < names.size(); ++i) {
    Recording r;
    r.channel = channel;
    r.date = date;
    r.name = names[i];
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "R%02d", channel % 100);
    r.prefix = prefix;
    r.drive = static_cast<char>('C' + i % 2);
    r.frames = static_cast<uint32_t>(kept ? kept->frames.size() : 3 * clip_->fps);
    r.clip = kept;
    char path[256];
    if (ShortEntries(spec_.device_type)) {
      std::snprintf(path, sizeof path, "%c:\\QdvrFile\\%04d%02d%02d\\%02d%s.%s", r.drive, date.year,
                    date.month, date.day, channel, r.name.c_str(), ext);
    } else {
      std::snprintf(path, sizeof path, "./rec/%02d/%04d%02d%02d/%s%s.%s", r.drive - 'C', date.year,
                    date.month, date.day, r.prefix.c_str(), r.name.c_str(), ext);
    }
    r.path = path;
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<Recording> VirtualDevice::RecordingsBetween(int channel, const DateTime& from,
                                                        const DateTime& to) const {
  // Only today has recordings: the range is answered by those of today
  // whose start lies in it.
  std::vector<Recording> out;
  for (Recording& r : Recordings(channel, Today())) {
    const int64_t start = Stamp({r.date, std::stoi(r.name.substr(0, 2)),
                                 std::stoi(r.name.substr(2, 2)), std::stoi(r.name.substr(4, 2))});
    if (start >= Stamp(from) && start <= Stamp(to)) out.push_back(std::move(r));
  }
  return out;
}

bool VirtualDevice::FindRecording(int channel, const std::string& path, Recording* out) const {
  for (const Recording& r : Recordings(channel, Today())) {
    // The kept minutes of a camera move on: their path is found whatever
    // start time the list gave.
    const size_t at = r.path.rfind(r.name);
    const bool moved = source_ && path.size() == r.path.size() &&
                       path.compare(0, at, r.path, 0, at) == 0 &&
                       path.compare(at + 6, std::string::npos, r.path, at + 6) == 0;
    if (r.path == path || hostile_ || moved) {
      *out = r;
      return true;
    }
  }
  return false;
}

std::vector<uint8_t> VirtualDevice::FileListAnswer(int channel, const Date& from,
                                                   const Date& to) const {
  std::vector<uint8_t> out;
  for (const Recording& r : RecordingsBetween(channel, {from}, {to, 23, 59, 59})) {
    out.push_back(static_cast<uint8_t>(r.drive));
    out.insert(out.end(), r.name.begin(), r.name.end());
    if (!ShortEntries(spec_.device_type)) out.insert(out.end(), r.prefix.begin(), r.prefix.end());
  }
  return out;
}

const MediaFrame& VirtualDevice::RecordingFrame(const Recording& r, uint32_t i) const {
  const MediaClip& clip = RecordingClip(r);
  return clip.frames[i % clip.frames.size()];
}

std::vector<uint8_t> VirtualDevice::RecordingAudio(const Recording& r, uint32_t i) const {
  const MediaClip& clip = RecordingClip(r);
  if (clip.audio.empty()) return AudioForFrame(i);
  return clip.audio[i % clip.audio.size()];
}

std::vector<uint8_t> VirtualDevice::AudioForFrame(uint64_t frame) const {
  const size_t samples = AudioBytesPerFrame();  // one byte a sample
  return G711Tone(spec_.mu_law, frame * samples, samples);
}

size_t VirtualDevice::AudioBytesPerFrame() const {
  return static_cast<size_t>(8000 / clip_->fps);
}

size_t VirtualDevice::RawRecordingSize(const Recording& r) const {
  size_t size = 64;
  for (uint32_t i = 0; i < r.frames; ++i) {
    size += RecordingFrame(r, i).data.size() + RecordingAudio(r, i).size();
  }
  return size;
}

std::vector<uint8_t> VirtualDevice::RawRecordingFile(const Recording& r) const {
  // The ".sv" layout: the 32-byte header twice (the second with the frame
  // count), then the frames as they travel, audio after each picture.
  std::array<uint8_t, 32> head = ShortHeader(spec_, *clip_, 0);
  std::vector<uint8_t> out(64);
  std::copy(head.begin(), head.end(), out.begin());
  PutLe32(head.data() + 12, r.frames);
  std::copy(head.begin(), head.end(), out.begin() + 32);
  for (uint32_t i = 0; i < r.frames; ++i) {
    const MediaFrame& f = RecordingFrame(r, i);
    out.insert(out.end(), f.data.begin(), f.data.end());
    const std::vector<uint8_t> audio = RecordingAudio(r, i);
    out.insert(out.end(), audio.begin(), audio.end());
  }
  return out;
}

std::vector<std::vector<uint8_t>> VirtualDevice::ChunkedRecording(const Recording& r,
                                                                  size_t block_size) const {
  std::vector<std::vector<uint8_t>> blocks;
  const std::array<uint8_t, 96> record = StreamRecord(spec_, *clip_, r.frames);
  blocks.emplace_back(record.begin(), record.end());
  std::vector<uint8_t> block;
  auto chunk = [&](uint8_t kind, const std::vector<uint8_t>& payload, uint64_t ms) {
    if (!block.empty() && block.size() + 16 + payload.size() > block_size) {
      blocks.push_back(std::move(block));
      block.clear();
    }
    uint8_t head[16] = {'Q', 'V', 'S', 0, kind};
    head[5] = static_cast<uint8_t>(payload.size());
    head[6] = static_cast<uint8_t>(payload.size() >> 8);
    head[7] = static_cast<uint8_t>(payload.size() >> 16);
    PutLe32(head + 8, static_cast<uint32_t>(ms));
    PutLe32(head + 12, static_cast<uint32_t>(ms >> 32));
    block.insert(block.end(), head, head + 16);
    block.insert(block.end(), payload.begin(), payload.end());
  };
  for (uint32_t i = 0; i < r.frames; ++i) {
    const MediaFrame& f = RecordingFrame(r, i);
    const uint64_t ms = uint64_t{i} * 1000 / static_cast<uint64_t>(clip_->fps);
    chunk(f.key ? 1 : 3, f.data, ms);
    const std::vector<uint8_t> audio = RecordingAudio(r, i);
    if (!audio.empty()) chunk(4, audio, ms);
  }
  if (!block.empty()) blocks.push_back(std::move(block));
  return blocks;
}

std::string VirtualDevice::HandleRpc(std::string_view request) {
  return rpc_.Handle(request);
}

uint32_t VirtualDevice::ConfigVersion() const {
  if (cfg_library_.size() < 4) return 0;
  return GetLe32(cfg_library_.data() + cfg_library_.size() - 4);
}

std::vector<uint8_t> VirtualDevice::ConfigMessage(uint32_t client_version) const {
  std::vector<uint8_t> image;
  if (!cfg_library_.empty() && client_version != ConfigVersion()) image = cfg_packed_;
  char params[128];
  const int n = std::snprintf(params, sizeof params, "type=%d;channels=%d;number=%s%d",
                              spec_.device_type, spec_.channels, spec_.group.c_str(), spec_.number);
  const std::size_t text = n > 0 ? static_cast<std::size_t>(n) + 1 : 1;
  std::vector<uint8_t> m(8 + image.size() + text, 0);
  PutLe32(m.data(), 5u | (static_cast<uint32_t>(static_cast<uint8_t>(spec_.cfg_param_kind)) << 5));
  PutLe32(m.data() + 4, static_cast<uint32_t>(4 + image.size()));
  std::copy(image.begin(), image.end(), m.begin() + 8);
  if (n > 0)
    std::copy(params, params + n, m.begin() + 8 + static_cast<std::ptrdiff_t>(image.size()));
  return m;
}

void VirtualDevice::NoteControl(uint32_t code) {
  std::lock_guard lock(mutex_);
  controls_.push_back(code);
}

std::vector<uint32_t> VirtualDevice::Controls() const {
  std::lock_guard lock(mutex_);
  return controls_;
}

void VirtualDevice::PushUserData(const std::vector<uint8_t>& data) {
  std::vector<DeviceSinks> sinks;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, s] : sinks_) sinks.push_back(s);
  }
  for (auto& s : sinks) {
    if (s.user_data) s.user_data(data);
  }
}

void VirtualDevice::PushRecordingState(bool recording) {
  std::vector<DeviceSinks> sinks;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, s] : sinks_) sinks.push_back(s);
  }
  for (auto& s : sinks) {
    if (s.recording_state) s.recording_state(recording);
  }
}

int VirtualDevice::AddSinks(DeviceSinks sinks) {
  std::lock_guard lock(mutex_);
  sinks_[next_sink_] = std::move(sinks);
  return next_sink_++;
}

void VirtualDevice::RemoveSinks(int id) {
  std::lock_guard lock(mutex_);
  sinks_.erase(id);
}

}  // namespace vdevice
