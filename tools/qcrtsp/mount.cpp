#include "mount.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "audio_blocks.h"
#include "event_line.h"
#include "hostlib/event_names.h"
#include "pipeline_text.h"

namespace qcrtsp {
namespace {

// How long a first client waits for the device: the link, then its first
// key frame (devices send one at least every few seconds).
constexpr auto kOpenWait = std::chrono::seconds(10);
constexpr int kImaAdpcm = 3, kAac = 6;  // QCSDK_GetStreamInfo's audio codes
// Whether a stream carries audio shows only in its frames: a new channel's
// first pipeline is made once audio came or this many video frames did not
// bring any.
constexpr int kAudioWait = 8;
constexpr size_t kMaxLatencySamples = 1 << 20;

GstAppSrc* TakeSource(GstElement* bin, const char* name) {
  GstElement* e = gst_bin_get_by_name(GST_BIN(bin), name);
  return e != nullptr ? GST_APP_SRC(e) : nullptr;
}

bool Playing(GstAppSrc* src) {
  return GST_STATE(src) == GST_STATE_PLAYING;
}

}  // namespace

Mount::Mount(std::string name, hostlib::DeviceSource source, int lingerSeconds,
             std::function<void(Mount&)> linkEnded)
    : m_name(std::move(name)),
      m_source(std::move(source)),
      m_lingerSeconds(lingerSeconds),
      m_linkEnded(std::move(linkEnded)) {}

Mount::~Mount() {
  Close();
  std::lock_guard<std::mutex> guard(m_mutex);
  ReleasePipelineLocked();
}

void Mount::CancelLingerLocked() {
  if (m_linger == nullptr) return;
  g_source_destroy(m_linger);
  g_source_unref(m_linger);
  m_linger = nullptr;
}

bool Mount::Acquire(StreamInfo& info, bool& audio) {
  std::unique_lock<std::mutex> lock(m_mutex);
  CancelLingerLocked();
  if (m_state == State::kIdle) {
    m_state = State::kConnecting;
    m_sawKey = m_sawAudio = false;
    m_videoFrames = 0;
    lock.unlock();
    EventLine("mount " + m_name + ": opening channel " + m_source.Label());
    const int32_t channel = m_source.Connect(this);
    if (channel >= 0) QCSDK_SetRawDataAllCodecs(channel, 1);
    lock.lock();
    if (channel < 0) {
      m_state = State::kIdle;
      EventLine("mount " + m_name + ": channel refused by the SDK");
      return false;
    }
    // A refusal may have been reported already; the channel is then gone.
    if (m_state == State::kConnecting || m_state == State::kOpen) m_channel = channel;
  }
  const bool ready = m_changed.wait_for(lock, kOpenWait, [&] {
    return m_state == State::kIdle ||
           (m_state == State::kOpen && m_sawKey && (m_sawAudio || m_videoFrames >= kAudioWait));
  });
  if (!ready || m_state != State::kOpen) return false;
  ++m_building;
  const int32_t channel = m_channel;
  audio = m_sawAudio;
  lock.unlock();
  return QCSDK_GetStreamInfo(channel, &info) == 1;
}

GstElement* Mount::CreatePipeline() {
  StreamInfo info{};
  bool audio = false;
  const bool open = Acquire(info, audio);
  std::unique_lock<std::mutex> lock(m_mutex);
  if (open) --m_building;
  const std::string text = open ? PipelineText(info, audio) : "";
  if (text.empty()) {
    if (open) EventLine("mount " + m_name + ": " + DescribeStream(info, audio) + " not carried");
    lock.unlock();
    CloseIfUnused();
    return nullptr;
  }
  GError* error = nullptr;
  GstElement* bin =
      gst_parse_launch_full(text.c_str(), nullptr, GST_PARSE_FLAG_PLACE_IN_BIN, &error);
  if (bin == nullptr) {
    EventLine("mount " + m_name + ": pipeline failed: " + (error ? error->message : "?"));
    g_clear_error(&error);
    return nullptr;
  }
  g_clear_error(&error);
  ReleasePipelineLocked();
  m_pipeline = GST_ELEMENT(gst_object_ref(bin));
  m_video = TakeSource(bin, "video");
  m_audio = TakeSource(bin, "audio");
  m_audioCodec = info.audioCodec;
  m_audioChannels = std::max(1, info.audioParam2);
  m_waitKey = true;
  m_sourcesEnded = false;
  m_served = info;
  EventLine("mount " + m_name + ": serving " + DescribeStream(info, m_audio != nullptr));
  return bin;
}

void Mount::OnMediaConfigured(GstRTSPMedia* media) {
  GstElement* element = gst_rtsp_media_get_element(media);
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (element != m_pipeline) {
      gst_object_unref(element);
      return;
    }
    m_media = media;
  }
  g_signal_connect(media, "unprepared", G_CALLBACK(+[](GstRTSPMedia* m, gpointer self) {
                     static_cast<Mount*>(self)->MediaEnded(m);
                   }),
                   this);
  if (GstElement* pay = gst_bin_get_by_name(GST_BIN(element), "pay0")) {
    GstPad* pad = gst_element_get_static_pad(pay, "src");
    gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &Mount::OnPayloaded, this, nullptr);
    gst_object_unref(pad);
    gst_object_unref(pay);
  }
  gst_object_unref(element);
}

void Mount::MediaEnded(GstRTSPMedia* media) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (media != m_media) return;
    ReleasePipelineLocked();
    if (m_state != State::kOpen) return;
    if (m_lingerSeconds > 0) {
      EventLine("mount " + m_name + ": no clients; channel closes in " +
                std::to_string(m_lingerSeconds) + " s");
      m_linger = g_timeout_source_new_seconds(static_cast<guint>(m_lingerSeconds));
      g_source_set_callback(
          m_linger,
          +[](gpointer self) -> gboolean {
            static_cast<Mount*>(self)->CloseIfUnused();
            return G_SOURCE_REMOVE;
          },
          this, nullptr);
      g_source_attach(m_linger, nullptr);
      return;
    }
  }
  CloseIfUnused();
}

void Mount::CloseIfUnused() {
  int32_t channel = -1;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    CancelLingerLocked();
    // Also a channel still connecting: its first client gave up waiting.
    if (m_pipeline != nullptr || m_building > 0 || m_state == State::kIdle || m_channel < 0) {
      return;
    }
    channel = m_channel;
    m_channel = -1;
    m_state = State::kIdle;
  }
  QCSDK_Disconnect(channel);
  EventLine("mount " + m_name + ": channel closed");
}

void Mount::Close() {
  int32_t channel = -1;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    CancelLingerLocked();
    if (m_state == State::kIdle) return;
    channel = m_channel;
    m_channel = -1;
    m_state = State::kIdle;
  }
  if (channel >= 0) QCSDK_Disconnect(channel);
  EventLine("mount " + m_name + ": channel closed");
}

void Mount::ReleasePipelineLocked() {
  for (GstAppSrc** src : {&m_video, &m_audio}) {
    if (*src != nullptr) gst_object_unref(*src);
    *src = nullptr;
  }
  if (m_pipeline != nullptr) gst_object_unref(m_pipeline);
  m_pipeline = nullptr;
  m_media = nullptr;
}

void Mount::OnEvent(int32_t event) {
  bool ended = false;
  int32_t changed = -1;  // the channel whose stream description changed
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    switch (event) {
      case QCSDK_EVENT_CONNECTED:
        m_state = State::kOpen;
        EventLine("mount " + m_name + ": channel open");
        break;
      case QCSDK_EVENT_STREAM_CHANGED: changed = m_channel; break;
      case QCSDK_EVENT_AUTH_FAILED:
      case QCSDK_EVENT_NO_CHANNEL:
      case QCSDK_EVENT_BAD_CONNECT_TYPE:
      case QCSDK_EVENT_CLIENT_LIMIT:
      case QCSDK_EVENT_CONNECT_FAILED:
        EventLine("mount " + m_name + ": channel not opened: " + hostlib::EventName(event));
        m_state = State::kIdle;
        m_channel = -1;
        break;
      case QCSDK_EVENT_DISCONNECTED:
        m_state = State::kIdle;
        m_channel = -1;
        break;
      case QCSDK_EVENT_LINK_LOST:
      case QCSDK_EVENT_REMOTE_CLOSED:
        EventLine("mount " + m_name + ": link ended: " + hostlib::EventName(event));
        ended = m_state == State::kOpen && m_pipeline != nullptr;
        m_state = State::kIdle;
        m_channel = -1;
        // The clients see the end of the stream (RTCP BYE), then their
        // sessions end; the next client opens the channel anew.
        for (GstAppSrc* src : {m_video, m_audio}) {
          if (src != nullptr) gst_app_src_end_of_stream(src);
        }
        break;
      default: return;
    }
  }
  m_changed.notify_all();
  if (changed >= 0) ended = StreamChanged(changed);
  if (ended) m_linkEnded(*this);
}

bool Mount::StreamChanged(int32_t channel) {
  StreamInfo info{};
  if (QCSDK_GetStreamInfo(channel, &info) != 1) return false;
  std::lock_guard<std::mutex> guard(m_mutex);
  const bool same = info.videoCodec == m_served.videoCodec && info.width == m_served.width &&
                    info.height == m_served.height && info.audioCodec == m_served.audioCodec;
  EventLine("mount " + m_name + ": stream now " + DescribeStream(info, m_audio != nullptr) +
            (same || m_pipeline == nullptr ? "" : "; its clients end and start anew"));
  if (same || m_pipeline == nullptr) return false;
  // The pipeline's parsers and payloaders fit the old stream only: its
  // clients end as at a link's end, the next one gets a pipeline that fits.
  m_sourcesEnded = true;
  for (GstAppSrc* src : {m_video, m_audio}) {
    if (src != nullptr) gst_app_src_end_of_stream(src);
  }
  return true;
}

void Mount::OnFrame(const RawFrame& frame) {
  if (frame.data == nullptr || frame.length <= 0) return;
  GstAppSrc* src = nullptr;
  const bool audio = frame.type == QCSDK_FRAME_AUDIO;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (audio && !m_sawAudio) {
      m_sawAudio = true;
      m_changed.notify_all();
    } else if (!audio) {
      const bool firstKey = !m_sawKey && frame.type == QCSDK_FRAME_KEY;
      m_sawKey = m_sawKey || firstKey;
      if (m_videoFrames < kAudioWait && ++m_videoFrames == kAudioWait) m_changed.notify_all();
      if (firstKey) m_changed.notify_all();
    }
    src = audio ? m_audio : m_video;
    if (src == nullptr || m_sourcesEnded || frame.type > QCSDK_FRAME_AUDIO || frame.type < 0) {
      return;
    }
    if (m_waitKey) {
      // The pipeline starts with a key frame once it plays.
      if (audio || frame.type != QCSDK_FRAME_KEY || !Playing(src)) return;
      m_waitKey = false;
    }
    gst_object_ref(src);
    // Audio conversion uses the mount's buffer, so it stays under the lock.
    if (audio) {
      PushAudio(src, frame);
      gst_object_unref(src);
      return;
    }
  }
  PushVideo(src, frame);
  gst_object_unref(src);
}

void Mount::PushVideo(GstAppSrc* src, const RawFrame& frame) {
  GstBuffer* buffer = gst_buffer_new_memdup(frame.data, static_cast<gsize>(frame.length));
  if (frame.type != QCSDK_FRAME_KEY) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
  gst_app_src_push_buffer(src, buffer);
}

void Mount::PushAudio(GstAppSrc* src, const RawFrame& frame) {
  const auto* data = frame.data;
  auto length = static_cast<size_t>(frame.length);
  if (m_audioCodec == kImaAdpcm) {
    m_converted.clear();
    ImaAdpcmToMuLaw(data, length, m_audioChannels, m_converted);
    data = m_converted.data();
    length = m_converted.size();
  } else if (m_audioCodec == kAac) {
    const Span s = StripAdts(data, length);
    data = s.data;
    length = s.length;
  }
  if (length == 0) return;
  gst_app_src_push_buffer(src, gst_buffer_new_memdup(data, length));
}

GstPadProbeReturn Mount::OnPayloaded(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
  GstBuffer* buffer = nullptr;
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
    GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    const guint n = gst_buffer_list_length(list);
    if (n > 0) buffer = gst_buffer_list_get(list, n - 1);
  } else {
    buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  }
  uint8_t header[2];
  // Only the packet with the marker bit, the last of its picture.
  if (buffer == nullptr || !GST_BUFFER_PTS_IS_VALID(buffer) ||
      gst_buffer_extract(buffer, 0, header, 2) != 2 || (header[1] & 0x80) == 0) {
    return GST_PAD_PROBE_OK;
  }
  GstElement* parent = gst_pad_get_parent_element(pad);
  if (parent == nullptr) return GST_PAD_PROBE_OK;
  if (GstClock* clock = gst_element_get_clock(parent)) {
    const GstClockTime now = gst_clock_get_time(clock) - gst_element_get_base_time(parent);
    const double ms = static_cast<double>(GST_CLOCK_DIFF(GST_BUFFER_PTS(buffer), now)) / 1e6;
    auto* mount = static_cast<Mount*>(self);
    std::lock_guard<std::mutex> guard(mount->m_statsMutex);
    if (mount->m_latencyMs.size() < kMaxLatencySamples) mount->m_latencyMs.push_back(ms);
    gst_object_unref(clock);
  }
  gst_object_unref(parent);
  return GST_PAD_PROBE_OK;
}

std::vector<double> Mount::LatencySamples() const {
  std::lock_guard<std::mutex> guard(m_statsMutex);
  std::vector<double> samples = m_latencyMs;
  std::sort(samples.begin(), samples.end());
  return samples;
}

void Mount::ClearLatencySamples() {
  std::lock_guard<std::mutex> guard(m_statsMutex);
  m_latencyMs.clear();
}

}  // namespace qcrtsp
