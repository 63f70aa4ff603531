#include "vdevice/control_client.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vdevice {

namespace {
constexpr PatternCodec kCodecs[] = {PatternCodec::kMpeg4, PatternCodec::kH264, PatternCodec::kH265};
constexpr int kChroma[] = {420, 422, 444};  // by PatternChroma
}  // namespace

std::string ControlClient::Ask(const std::string& request, std::string* rest, std::string* error) {
  if (!control_.valid()) {
    int port = port_;
    if (const char* file = std::getenv("QCSDK_VDEVICE_PORT_FILE"); port == 0 && file != nullptr)
      std::ifstream(file) >> port;
    control_ = netio::ConnectTcp("127.0.0.1", static_cast<uint16_t>(port), 10000, 60000);
    if (!control_.valid()) {
      *error = "no simulator at control port " + std::to_string(port);
      return {};
    }
  }
  const std::string line = request + "\n";
  std::string got;
  char buf[4096];
  size_t n = 0, end = 0;
  bool ok = netio::SendAll(control_.get(), line.data(), line.size());
  while (ok && (end = got.find('\n')) == std::string::npos) {
    ok = netio::ReceiveSome(control_.get(), buf, sizeof buf, &n) == netio::Received::kData;
    got.append(buf, ok ? n : 0);
  }
  if (!ok) {
    *error = "the simulator is gone";
    return {};
  }
  *rest = got.substr(end + 1);
  got.resize(end);
  return got;
}

DevicePorts ControlClient::AddDevice(const std::string& settings, std::string* error) {
  std::string rest;
  const std::string answer = Ask("device " + settings, &rest, error);
  // "device 0 nxl=127.0.0.1:40123 oct=127.0.0.1:40125 ..." (DeviceHost::Describe)
  auto port = [&](const std::string& key) {
    const size_t at = answer.find(" " + key + "=127.0.0.1:");
    return at == std::string::npos ? -1 : std::atoi(answer.c_str() + at + key.size() + 12);
  };
  if (answer.rfind("device ", 0) != 0 || port("nxl") < 0) {
    if (!answer.empty()) *error = answer;
    return {};
  }
  return {port("nxl"), port("oct")};
}

// The answer: "frames N SIZE..." (a key frame's SIZE ends in 'k'), then the
// N packets back to back.
std::vector<MediaFrame> ControlClient::EncodePattern(const PatternOptions& options) {
  std::string error, bytes;
  std::istringstream answer(Ask("encode " + FormatPatternOptions(options), &bytes, &error));
  std::string word;
  size_t count = 0, total = 0;
  if (!(answer >> word >> count) || word != "frames")
    throw std::runtime_error("pattern encoder: " + (error.empty() ? answer.str() : error));
  std::vector<MediaFrame> frames(count);
  for (MediaFrame& f : frames) {
    answer >> word;
    f.key = word.ends_with('k');
    f.data.resize(std::strtoul(word.c_str(), nullptr, 10));
    total += f.data.size();
  }
  const size_t had = bytes.size();
  bytes.resize(total);
  if (total > had &&
      netio::ReceiveAll(control_.get(), bytes.data() + had, total - had) != netio::Received::kData)
    throw std::runtime_error("pattern encoder: the simulator is gone");
  for (size_t i = 0, at = 0; i < count; at += frames[i++].data.size())
    std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at), frames[i].data.size(),
                frames[i].data.begin());
  return frames;
}

std::string FormatPatternOptions(const PatternOptions& o) {
  std::ostringstream out;
  out << PatternEncoderName(o.codec) << ' ' << o.width << ' ' << o.height << ' ' << o.frames << ' '
      << o.gop << ' ' << o.fps << ' ' << o.bitRate << ' ' << kChroma[static_cast<int>(o.chroma)]
      << ' ' << o.preset;
  if (o.flat)
    for (uint8_t v : *o.flat) out << ' ' << static_cast<int>(v);
  return out.str();
}

bool ParsePatternOptions(const std::string& text, PatternOptions* o) {
  std::istringstream in(text);
  std::string codec;
  int chroma = 0, y = 0, u = 0, v = 0;
  if (!(in >> codec >> o->width >> o->height >> o->frames >> o->gop >> o->fps >> o->bitRate >>
        chroma >> o->preset))
    return false;
  if (in >> y >> u >> v)
    o->flat = {static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(v)};
  const auto c = std::find_if(std::begin(kCodecs), std::end(kCodecs),
                              [&](PatternCodec k) { return codec == PatternEncoderName(k); });
  const auto s = std::find(std::begin(kChroma), std::end(kChroma), chroma);
  if (c == std::end(kCodecs) || s == std::end(kChroma)) return false;
  o->codec = *c;
  o->chroma = static_cast<PatternChroma>(s - std::begin(kChroma));
  return true;
}

std::string ControlClient::PathForSimulator(const std::string& path) {
#ifdef _WIN32
  using ToUnix = char*(CDECL*)(LPCWSTR);
  static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  std::wstring wide(path.begin(), path.end());
  char* unix = toUnix != nullptr ? toUnix(wide.c_str()) : nullptr;
  if (unix != nullptr) {
    std::string out = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return out;
  }
#endif
  return path;
}

}  // namespace vdevice
