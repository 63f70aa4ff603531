// One mount of the server: the SDK channel behind rtsp://HOST:PORT/NAME and
// the pipeline that carries its frames to the clients. The channel opens
// when the first client asks (Acquire) and closes when no pipeline has used
// it for the linger time; every client of the mount shares the one channel
// and the one pipeline. Frames arrive on the SDK's threads and go into the
// pipeline's sources as they are, from a key frame on.
#pragma once

#include <gst/app/gstappsrc.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <qcsdk/qcsdk.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "hostlib/device_source.h"

namespace qcrtsp {

class Mount {
 public:
  // linkEnded runs when the device link of a mount that had clients ended:
  // it ends those clients' sessions.
  Mount(std::string name, hostlib::DeviceSource source, int lingerSeconds,
        std::function<void(Mount&)> linkEnded);
  ~Mount();
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;

  const std::string& name() const { return m_name; }

  // A new pipeline for the mount's first client (RTSP server's thread):
  // opens the channel when needed and waits, bounded, for its first key
  // frame. Null when the device cannot be reached in time.
  GstElement* CreatePipeline();
  // The server made a media of a pipeline; when it is this mount's, the
  // mount follows it until it is unprepared (its last client gone).
  void OnMediaConfigured(GstRTSPMedia* media);

  // The SDK's reports for this mount's channel.
  void OnEvent(int32_t event);
  void OnFrame(const RawFrame& frame);

  // Closes the channel now (at exit).
  void Close();

  // Milliseconds from a frame reaching the host to its last RTP packet
  // leaving the payloader: the sorted samples.
  std::vector<double> LatencySamples() const;
  void ClearLatencySamples();

 private:
  enum class State { kIdle, kConnecting, kOpen };
  bool Acquire(StreamInfo& info, bool& audio);
  void MediaEnded(GstRTSPMedia* media);
  // True when the pipeline no longer fits the channel's new description.
  bool StreamChanged(int32_t channel);
  void CloseIfUnused();
  // Stops the linger timer, if one runs (under m_mutex).
  void CancelLingerLocked();
  void ReleasePipelineLocked();
  void PushVideo(GstAppSrc* src, const RawFrame& frame);
  void PushAudio(GstAppSrc* src, const RawFrame& frame);
  static GstPadProbeReturn OnPayloaded(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  const std::string m_name;
  const hostlib::DeviceSource m_source;
  const int m_lingerSeconds;
  const std::function<void(Mount&)> m_linkEnded;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  State m_state = State::kIdle;
  int32_t m_channel = -1;
  bool m_sawKey = false;    // of the open channel
  bool m_sawAudio = false;  // of the open channel
  int m_videoFrames = 0;    // of the open channel, counted up to a few
  int m_building = 0;       // pipelines being made for the open channel
  GSource* m_linger = nullptr;
  // The pipeline clients use now (none: the elements are null).
  GstElement* m_pipeline = nullptr;
  GstRTSPMedia* m_media = nullptr;
  GstAppSrc* m_video = nullptr;
  GstAppSrc* m_audio = nullptr;
  bool m_waitKey = true;        // nothing goes in before a key frame
  bool m_sourcesEnded = false;  // the pipeline's streams were ended
  StreamInfo m_served{};        // the stream the pipeline was made for
  int m_audioCodec = 0;         // QCSDK_GetStreamInfo's code of the pipeline's audio
  int m_audioChannels = 1;
  std::vector<uint8_t> m_converted;  // reused for IMA ADPCM blocks

  mutable std::mutex m_statsMutex;
  std::vector<double> m_latencyMs;
};

}  // namespace qcrtsp
