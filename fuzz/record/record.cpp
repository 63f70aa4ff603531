// Records the seed corpora of the fuzz targets from real traffic: virtual
// devices of the simulator on loopback, the SDK over the real Nxl library
// with its callbacks tapped, a raw OCT login and live stream, raw discovery
// answers, and the simulator's RPC answer to every method. Run by
// `./scripts/fuzz record`; writes fuzz/<target>/corpus/<hash>.
#include <poll.h>
#include <qcsdk/qcsdk.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "auth.h"
#include "discovery.h"
#include "frame_io.h"
#include "grpc/grpc_descriptor.h"
#include "grpc/grpc_envelope.h"
#include "netio/address.h"
#include "netio/socket.h"
#include "netio/wait.h"
#include "platform/nxl_api.h"
#include "vdevice/device_host.h"
#include "vdevice/media_clip.h"
#include "vdevice/stream_header.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

fs::path g_root;

void Save(const std::string& target, const Bytes& bytes) {
  const fs::path dir = g_root / target / "corpus";
  fs::create_directories(dir);
  char name[20];
  std::snprintf(name, sizeof name, "%016zx",
                std::hash<std::string>()({bytes.begin(), bytes.end()}));
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// [a][b][u16 length][bytes], cut to `limit` bytes.
void Append(Bytes& out, uint8_t a, uint8_t b, const uint8_t* data, int32_t length, size_t limit) {
  const size_t n = std::min<size_t>(length > 0 ? static_cast<size_t>(length) : 0, limit);
  out.insert(out.end(), {a, b, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
  out.insert(out.end(), data, data + n);
}

// What the tapped Nxl callbacks saw.
struct Tap {
  QVC_StreamCallback live = nullptr;
  QVC_FileListCallback list = nullptr;
  QVC_TextCallback text = nullptr;
  QVC_DownloadCallback download = nullptr;
  Bytes stream, download_seed;
  int frames = 0, blocks = 0;
  std::atomic<bool> done_stream{false}, done_list{false}, done_download{false};
} g_tap;

void OnLive(int32_t link, uint8_t type, const uint8_t* data, int32_t length) {
  if (!g_tap.done_stream) {
    Append(g_tap.stream, 0, type, data, length, 2048);
    if ((type == 1 || type == 3) && length > 8) Save("annexb", Bytes(data + 8, data + length));
    if (++g_tap.frames == 8) {
      Save("nxl_stream", g_tap.stream);
      g_tap.done_stream = true;
    }
  }
  g_tap.live(link, type, data, length);
}

void OnList(int32_t link, const uint8_t* data, int32_t length) {
  // Device type 2 (10-byte entries), then the same bytes read by type 1 as
  // 7-byte entries; recording kind 1.
  for (const uint8_t deviceType : {2, 1}) {
    Bytes seed = {deviceType, 1};
    seed.insert(seed.end(), data, data + length);
    Save("rec_list", seed);
  }
  g_tap.done_list = true;
  g_tap.list(link, data, length);
}

void OnText(int32_t link, uint8_t type, const uint8_t* data, int32_t length) {
  if (type == 81 && length > 8) Save("cfg_dialog", Bytes(data, data + length));
  g_tap.text(link, type, data, length);
}

void OnDownload(int32_t link, uint8_t type, const uint8_t* data, int32_t length, uint32_t total) {
  if (!g_tap.done_download) {
    Append(g_tap.download_seed, type, static_cast<uint8_t>(total >> 16), data, length, 4096);
    if (++g_tap.blocks == 4 || (type >= 34 && type <= 36) || type == 118) {
      Save("download", g_tap.download_seed);
      g_tap.done_download = true;
    }
  }
  g_tap.download(link, type, data, length, total);
}

int32_t RegisterTapped(QVC_ConnectCallback connect, QVC_StreamCallback live,
                       QVC_FileListCallback list, QVC_TalkCallback talk, QVC_TextCallback text,
                       QVC_DownloadCallback download, QVC_StreamCallback playback) {
  g_tap.live = live;
  g_tap.list = list;
  g_tap.text = text;
  g_tap.download = download;
  return qcsdk::platform::DefaultNxl().RegisterCallBack(connect, &OnLive, &OnList, talk, &OnText,
                                                        &OnDownload, playback);
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 200 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return done();
}

void RecordNxl(vdevice::DeviceHost& host) {
  static qcsdk::platform::NxlApi tapped = qcsdk::platform::DefaultNxl();
  tapped.RegisterCallBack = &RegisterTapped;
  qcsdk::platform::BindNxl(&tapped);
  QCSDK_InitSDK(0, nullptr);
  const uint16_t port = host.nxl(0).port();
  const int32_t n = QCSDK_Connect("127.0.0.1", port, 0, "admin", "admin", 0, nullptr);
  WaitFor([] { return g_tap.done_stream.load(); });
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const int32_t dates[6] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                            t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
  QCSDK_GetRemoteRecFileList(n, dates);
  WaitFor([] { return g_tap.done_list.load(); });
  const std::string file = (fs::temp_directory_path() / "qcsdk-record.bin").string();
  QCSDK_DownloadRemoteFile(n, 0, file.c_str());
  WaitFor([] { return g_tap.done_download.load(); });
  fs::remove(file);
  // The configuration handshake of a type-3 device that sends a library.
  const uint16_t cfg = host.nxl(1).port();
  const int32_t m = QCSDK_Connect("127.0.0.1", cfg, 0, "admin", "admin", 0, nullptr);
  WaitFor([m] {
    int32_t type = 0;
    return QCSDK_GetDeviceInfo(m, &type) == 1 && type == 3;
  });
  QCSDK_RemoteConfig(m, 1);
  QCSDK_ReleaseSDK();
  qcsdk::platform::BindNxl(nullptr);
}

// A raw OCT login and live stream; every byte the device sends is kept.
void RecordOct(vdevice::DeviceHost& host) {
  using namespace octc;
  netio::Fd fd = netio::ConnectTcp("127.0.0.1", host.oct(0)->port(), 2000, 2000, nullptr);
  if (!fd.valid()) return;
  Bytes seed;
  wire::Frame f;
  auto read = [&] {
    if (net::ReadFrame(fd.get(), 2000, f) != net::ReadResult::kFrame) return false;
    const Bytes m = wire::BuildMessage(f.header.type, f.header.handle, f.header.seq, f.payload);
    seed.insert(seed.end(), m.begin(), m.begin() + std::min<size_t>(m.size(), 3000));
    return true;
  };
  auto send = [&](wire::Type type, int32_t handle, const Bytes& payload) {
    const Bytes m = wire::BuildMessage(type, handle, 1, payload);
    netio::SendAll(fd.get(), m.data(), m.size());
  };
  send(wire::Type::kHello, 0,
       wire::Writer().U16(wire::kVersion).U16(wire::kMinVersion).Text("octc").Take());
  if (!read()) return;
  wire::Reader r(f.payload);
  r.U16();
  auth::Nonce nonce{};
  r.Bytes(nonce.data(), nonce.size());
  auth::Digest digest{};
  auth::MakeDigest(nonce, "admin", "admin", digest);
  send(wire::Type::kLogin, 0,
       wire::Writer().Text("admin").Bytes(digest.data(), digest.size()).Take());
  send(wire::Type::kStreamOpen, 7, wire::Writer().I32(1).I32(0).Take());
  for (int i = 0; i < 8 && read(); ++i) {
  }
  Save("oct_wire", seed);
}

// One datagram to the responder on loopback, and its answer.
Bytes Ask(uint16_t port, const Bytes& probe, const char* address = "127.0.0.1") {
  const netio::Fd s = netio::BindUdp(0, 0, false, nullptr);
  netio::Endpoint to{0, port};
  netio::ParseAddress(address, &to.address);
  netio::SendDatagram(s.get(), to, probe.data(), probe.size());
  netio::WaitFor(s.get(), POLLIN, netio::Clock::now() + std::chrono::seconds(2));
  Bytes answer(2048);
  const ssize_t n = netio::ReceiveDatagram(s.get(), answer.data(), answer.size(), nullptr);
  answer.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return answer;
}

uint16_t PortAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(" " + key + "=");
  return at == std::string::npos
             ? 0
             : static_cast<uint16_t>(std::stoi(text.substr(at + key.size() + 2)));
}

void RecordDiscovery(vdevice::DeviceHost& host) {
  const std::string ports = host.Describe(0);
  Bytes answer = Ask(PortAfter(ports, "search"), qvc::wire::EncodeSearchProbe(7));
  Save("nxl_wire", answer);
  answer.insert(answer.begin(), 0);
  Save("search", answer);
  octc::wire::Writer probe;
  probe.U16(octc::wire::kVersion);
  answer = Ask(PortAfter(ports, "oct-search"),
               octc::wire::BuildMessage(octc::wire::Type::kSearchProbe, 0, 7, probe.data()),
               "127.255.255.255");
  answer.insert(answer.begin(), 1);
  Save("search", answer);
  uint8_t find[qvc::wire::kOkipMessageSize] = {1};
  answer = Ask(PortAfter(ports, "okip"),
               qvc::wire::EncodeOkip(qvc::wire::DiscoveryKind::kRequest, 7, find));
  Save("okip", answer);
  Save("nxl_wire", answer);
}

// What the player decodes: the record and the first pictures of the
// simulator's clip, each followed by its G.711 audio, for both video codecs
// and both laws, in a small picture size so that each input decodes fast.
void RecordPlayer() {
  for (const bool h265 : {false, true}) {
    vdevice::DeviceSpec spec;
    spec.codec = h265 ? vdevice::VideoCodec::kH265 : vdevice::VideoCodec::kH264;
    spec.mu_law = h265;
    spec.width = 32;
    spec.height = 32;
    const auto clip = vdevice::TestPatternClip(spec.codec, spec.width, spec.height, spec.fps,
                                               2 * spec.fps, spec.fps);
    const auto record = vdevice::StreamRecord(spec, *clip, 0);
    Bytes seed(record.begin(), record.end());
    const size_t samples = static_cast<size_t>(8000 / spec.fps);
    for (size_t i = 0; i < 3; ++i) {
      const Bytes& frame = clip->frames[i].data;
      Append(seed, 0, 0, frame.data(), static_cast<int32_t>(frame.size()), 65535);
      const Bytes audio = vdevice::G711Tone(spec.mu_law, i * samples, samples);
      Append(seed, 0, 0, audio.data(), static_cast<int32_t>(audio.size()), 65535);
    }
    Save("player_frames", seed);
  }
}

// The simulator's answer to every method, with its index in front.
void RecordRpc(vdevice::DeviceHost& host) {
  for (size_t i = 0; i < qcsdk::grpc::kMethodCount; ++i) {
    const char* method = qcsdk::grpc::kMethods[i].name;
    char digest[33];
    qcsdk::grpc_user_digest("admin", method, "admin", digest);
    const std::string request = std::string("{\"method\":\"") + method +
                                "\",\"sentcnt\":1,\"user\":{\"name\":\"admin\",\"digest\":\"" +
                                digest + "\"}}";
    const std::string answer = host.device(0).rpc().Handle(request);
    Bytes seed = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
    seed.insert(seed.end(), answer.begin(), answer.end());
    Save("rpc_response", seed);
  }
}

}  // namespace

int main(int argc, char** argv) {
  g_root = argc > 1 ? fs::path(argv[1]) : fs::current_path();
  vdevice::DeviceHost host;
  host.EnableDiscovery(0, 0);
  host.EnableOctSearch(0);
  std::string error;
  vdevice::DeviceSpec spec;
  spec.width = 160;
  spec.height = 120;
  spec.recording_kind = 3;
  if (host.Add(spec, &error) < 0) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  const fs::path library = fs::temp_directory_path() / "qcsdk-record-cfg";
  {
    std::ofstream out(library, std::ios::binary);
    for (int i = 0; i < 300; ++i) out << "dialog entry " << i % 17 << ";";
  }
  spec.device_type = 3;
  spec.cfg_library = library.string();
  if (host.Add(spec, &error) < 0) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  RecordNxl(host);
  RecordOct(host);
  RecordDiscovery(host);
  RecordRpc(host);
  RecordPlayer();
  host.Stop();
  fs::remove(library);
  return 0;
}
