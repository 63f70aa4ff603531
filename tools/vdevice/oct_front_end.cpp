#include "vdevice/oct_front_end.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>

#include "vdevice/oct_download.h"
#include "vdevice/oct_live_feed.h"
#include "vdevice/oct_media_info.h"
#include "vdevice/oct_replay.h"

namespace vdevice {
namespace {

using octc::device::SubRef;

constexpr int32_t kNoticeJson = 1025, kNoticeUserData = 1029;
constexpr char kUserDataPrefix[] = "qcsdk_user_data:";
constexpr size_t kUserDataHeader = 20;
constexpr int32_t kStreamsPerChannel = 2;

struct JsonFree {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using Json = std::unique_ptr<cJSON, JsonFree>;

Json Parse(const std::string& text) {
  return Json(cJSON_ParseWithLength(text.data(), text.size()));
}

}  // namespace

OctFrontEnd::OctFrontEnd(std::shared_ptr<VirtualDevice> device) : device_(std::move(device)) {
  MakeEngine(0);
}

OctFrontEnd::~OctFrontEnd() {
  Stop();
}

void OctFrontEnd::MakeEngine(uint16_t port) {
  const DeviceSpec& spec = device_->spec();
  octc::device::DeviceConfig config;
  config.port = port;
  config.user = spec.user;
  config.password = spec.password;
  config.device_id = spec.group + std::to_string(spec.number);
  config.name = "vdevice " + std::to_string(device_->index());
  config.device_type = spec.device_type;
  config.channel_count = spec.channels;
  config.stream_count = kStreamsPerChannel;
  config.client_limit = spec.client_limit;
  if (HostileAnswers* hostile = device_->hostile()) hostile->DeviceInfo(&config);
  live_.reset();
  engine_ = std::make_unique<octc::device::DeviceEngine>(config, this);
  out_ = std::make_unique<OctOutbox>(*engine_, device_->hostile());
  live_ = std::make_unique<OctLiveFeed>(*device_, *out_);
  const Faults& f = spec.faults;
  // The refusal switches: a password nobody knows, no logins left, no
  // channels to open.
  if (f.refuse_password) engine_->SetCredentials(spec.user, spec.password + "\x01refused");
  if (f.client_limit) engine_->SetClientLimit(0);
  if (f.no_channel) engine_->SetChannelCount(0);
  if (f.slow_ms > 0) engine_->SetAnswerDelay(f.slow_ms);
  if (f.refuse_text) engine_->SetConfigRefused(true);
}

bool OctFrontEnd::Start(uint16_t port) {
  // The engine listens on the port of its configuration.
  if (port != 0) MakeEngine(port);
  const OctMediaInfo media = OctMediaInfoOf(*device_, 0);
  for (int32_t c = 1; c <= device_->spec().channels; ++c) {
    for (int32_t s = 0; s < kStreamsPerChannel; ++s) out_->SetMediaInfo(c, s, media);
  }
  DeviceSinks sinks;
  sinks.user_data = [this](const std::vector<uint8_t>& data) {
    std::vector<uint8_t> m(kUserDataHeader, 0);  // channel 0: every channel
    std::memcpy(m.data(), kUserDataPrefix, 16);
    m.insert(m.end(), data.begin(), data.end());
    out_->SendNotice(kNoticeUserData, m.data(), m.size());
  };
  sinks.recording_state = [this](bool recording) {
    for (int32_t c = 1; c <= device_->spec().channels; ++c) SendRecordingState(c, recording);
  };
  sink_id_ = device_->AddSinks(std::move(sinks));
  live_->Start();
  if (!engine_->Start()) {
    Stop();
    return false;
  }
  return true;
}

void OctFrontEnd::Stop() {
  if (sink_id_ != 0) device_->RemoveSinks(sink_id_);
  sink_id_ = 0;
  engine_->Stop();
  live_->Stop();
  Retire(0, 0, true);
}

uint16_t OctFrontEnd::port() const {
  return engine_->port();
}

size_t OctFrontEnd::client_count() const {
  return engine_->SessionCount();
}

uint64_t OctFrontEnd::live_pictures() const {
  return live_->pictures_sent();
}

std::vector<OctPlaybackControl> OctFrontEnd::playback_controls() const {
  std::lock_guard lock(mutex_);
  return controls_;
}

void OctFrontEnd::Retire(uint64_t session, int32_t handle, bool join_all) {
  std::vector<std::unique_ptr<OctReplay>> replays;
  std::vector<std::unique_ptr<OctDownload>> downloads;
  {
    std::lock_guard lock(mutex_);
    auto pick = [&](auto& live, auto& retired) {
      for (auto it = live.begin(); it != live.end();) {
        const bool match =
            join_all || (it->first.first == session && (handle == 0 || it->first.second == handle));
        if (match || it->second->finished()) {
          it->second->RequestStop();
          retired.push_back(std::move(it->second));
          it = live.erase(it);
        } else {
          ++it;
        }
      }
    };
    pick(replays_, retired_replays_);
    pick(downloads_, retired_downloads_);
    // Threads are joined once they have ended: a worker may be inside an
    // engine call that waits for the session thread this runs on.
    auto reap = [&](auto& retired, auto& out) {
      for (auto it = retired.begin(); it != retired.end();) {
        if (join_all || (*it)->finished()) {
          out.push_back(std::move(*it));
          it = retired.erase(it);
        } else {
          ++it;
        }
      }
    };
    reap(retired_replays_, replays);
    reap(retired_downloads_, downloads);
  }
  replays.clear();  // joins outside the lock
  downloads.clear();
}

void OctFrontEnd::OnSessionClosed(uint64_t session) {
  Retire(session, 0, false);
}

void OctFrontEnd::OnStreamOpened(SubRef ref, int32_t channel, int32_t stream) {
  // A hostile device describes the stream anew for each viewer.
  if (device_->hostile()) out_->SetMediaInfo(channel, stream, OctMediaInfoOf(*device_, 0));
  live_->AddViewer(ref, channel, stream);
}

void OctFrontEnd::OnStreamClosed(SubRef ref) {
  live_->RemoveViewer(ref);
}

int32_t OctFrontEnd::OnKeyFrameRequest(SubRef ref) {
  return Result(live_->RequestKeyFrame(ref) ? 0 : OCTC_ERR_FAILED);
}

int32_t OctFrontEnd::OnTalkOpen(SubRef) {
  return Result(0);
}

int32_t OctFrontEnd::Result(int32_t result) const {
  HostileAnswers* hostile = device_->hostile();
  return hostile ? hostile->Result(result) : result;
}

std::vector<octc::device::RecordEntry> OctFrontEnd::OnRecordList(const OctRecQuery& q) {
  std::vector<octc::device::RecordEntry> out;
  const DateTime from{
      {q.begin.year, q.begin.month, q.begin.day}, q.begin.hour, q.begin.minute, q.begin.second};
  const DateTime to{{q.end.year, q.end.month, q.end.day}, q.end.hour, q.end.minute, q.end.second};
  const int fps = device_->clip().fps;
  for (const Recording& r : device_->RecordingsBetween(q.channel, from, to)) {
    octc::device::RecordEntry e;
    e.path = r.path;
    e.name = r.path.substr(r.path.find_last_of("/\\") + 1);
    e.channel = r.channel;
    e.year = r.date.year;
    e.month = r.date.month;
    e.day = r.date.day;
    e.hour = std::stoi(r.name.substr(0, 2));
    e.minute = std::stoi(r.name.substr(2, 2));
    e.second = std::stoi(r.name.substr(4, 2));
    e.duration_s = static_cast<int32_t>(r.frames / static_cast<uint32_t>(fps));
    e.size = device_->RawRecordingSize(r);
    out.push_back(std::move(e));
  }
  if (HostileAnswers* hostile = device_->hostile()) {
    hostile->RecordList(&out);
    // A count beyond the items, in the next list.
    if (hostile->CorruptListCount()) engine_->SendMalformed(octc::device::Malformed::kBadCount);
  }
  return out;
}

bool OctFrontEnd::FindRecording(const std::string& path, Recording* out) const {
  for (int c = 1; c <= device_->spec().channels; ++c) {
    if (device_->FindRecording(c, path, out)) return true;
  }
  return false;
}

bool OctFrontEnd::OnPlaybackOpen(SubRef ref, const std::string& path) {
  Recording r;
  if (!FindRecording(path, &r)) return false;
  Retire(0, 0, false);  // collects workers that ended by themselves
  auto replay = std::make_unique<OctReplay>(*device_, *out_, ref, std::move(r));
  replay->Start();
  std::lock_guard lock(mutex_);
  replays_[{ref.session, ref.handle}] = std::move(replay);
  return true;
}

int32_t OctFrontEnd::OnPlaybackSpeed(SubRef ref, int32_t speed) {
  std::lock_guard lock(mutex_);
  controls_.push_back({'s', speed});
  auto it = replays_.find({ref.session, ref.handle});
  return Result(it == replays_.end() ? OCTC_ERR_FAILED : it->second->SetSpeed(speed));
}

int32_t OctFrontEnd::OnPlaybackSkip(SubRef ref, int32_t position_ms) {
  std::lock_guard lock(mutex_);
  controls_.push_back({'k', position_ms});
  auto it = replays_.find({ref.session, ref.handle});
  return Result(it == replays_.end() ? OCTC_ERR_FAILED : it->second->Skip(position_ms));
}

void OctFrontEnd::OnPlaybackClosed(SubRef ref) {
  Retire(ref.session, ref.handle, false);
}

bool OctFrontEnd::OnDownloadOpen(SubRef ref, const std::string& path) {
  Recording r;
  if (!FindRecording(path, &r)) return false;
  Retire(0, 0, false);
  auto download = std::make_unique<OctDownload>(*device_, *out_, ref, std::move(r));
  download->Start();
  std::lock_guard lock(mutex_);
  downloads_[{ref.session, ref.handle}] = std::move(download);
  return true;
}

void OctFrontEnd::OnDownloadClosed(SubRef ref) {
  Retire(ref.session, ref.handle, false);
}

// Talk audio comes back as it came.
void OctFrontEnd::OnTalkData(SubRef ref, const uint8_t* data, size_t size, uint64_t) {
  out_->TalkAudio(ref, data, size);
}

void OctFrontEnd::OnNotice(uint64_t session, int32_t type, const std::string& data) {
  // User data comes back to the client that sent it, addressed as it came.
  if (type == kNoticeUserData && data.size() >= kUserDataHeader &&
      std::memcmp(data.data(), kUserDataPrefix, 16) == 0) {
    out_->SendNoticeTo(session, kNoticeUserData, data.data(), data.size());
  }
}

std::string OctFrontEnd::OnRemoteConfig(uint64_t, const std::string& request) {
  std::string answer = device_->HandleRpc(request);
  NoteRecordSet(request, answer);
  HostileAnswers* hostile = device_->hostile();
  return hostile ? hostile->Rpc(answer) : answer;
}

void OctFrontEnd::SendRecordingState(int32_t channel, bool recording) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "{\"channel\":%d,\"%s\":1}", channel,
                              recording ? "start" : "stop");
  if (n > 0) out_->SendNotice(kNoticeJson, text, static_cast<size_t>(n));
}

// A successful "record_set" changes the recording state of the channels it
// names: each gets a notice with its normal-recording switch.
void OctFrontEnd::NoteRecordSet(const std::string& request, const std::string& answer) {
  const Json req = Parse(request);
  if (!req) return;
  const cJSON* method = cJSON_GetObjectItem(req.get(), "method");
  if (!cJSON_IsString(method) || std::strcmp(method->valuestring, "record_set") != 0) return;
  const Json ans = Parse(answer);
  if (!ans || cJSON_GetObjectItem(ans.get(), "error") != nullptr) return;
  const cJSON* param = cJSON_GetObjectItem(req.get(), "param");
  const cJSON* list = cJSON_GetObjectItem(param, "record_params");
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, list) {
    const cJSON* id = cJSON_GetObjectItem(item, "channelid");
    if (!cJSON_IsNumber(id)) continue;
    SendRecordingState(id->valueint + 1, cJSON_IsTrue(cJSON_GetObjectItem(item, "normal_record")));
  }
}

}  // namespace vdevice
