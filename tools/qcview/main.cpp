// qcview: a viewer host. It shows device channels in a grid in one X11
// window through the SDK's display, with a status line per tile. Without
// devices on the command line it starts the device simulator and shows its
// channels. Headless, it writes a PNG of its window and ends.
#include <qcsdk/qcsdk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostlib/child_process.h"
#include "hostlib/device_source.h"
#include "hostlib/simulator.h"
#include "hostlib/virtual_display.h"
#include "viewer.h"
#include "x_window.h"

namespace {

const char kUsage[] =
    "usage: qcview [options] [DEVICE ...]\n"
    "Shows device channels in a grid in one window. Without DEVICE it starts the\n"
    "device simulator and shows one of its channels per tile, alternately over Nxl\n"
    "(H.264) and OCT (H.265).\n"
    "DEVICE: nxl://[USER[:PASSWORD]@]HOST[:PORT][/CHANNEL]\n"
    "        oct://[USER[:PASSWORD]@]HOST[:PORT][/CHANNEL[/STREAM]]\n"
    "  HOST: an IPv4 address or host name (with PORT), or a device or cloud number\n"
    "  (without PORT; looked up in the transport's directory). User and password\n"
    "  default to admin/admin, the channel to 0 (Nxl) or 1 (OCT).\n"
    "Options:\n"
    "  --grid CxR         columns and rows (default: room for every device, or 2x2)\n"
    "  --size WxH         window size (default: 320x240 of video per tile)\n"
    "  --out DIR          where snapshots and recordings go (default .)\n"
    "  --xvfb             start a private virtual X server (Xvfb) and show the\n"
    "                     window there instead of on DISPLAY\n"
    "  --screenshot FILE  headless: write a PNG of the window and end, once every\n"
    "                     tile has shown pictures and the --keys have run, after\n"
    "                     --after SECONDS more (default 2), or once --timeout\n"
    "                     SECONDS (default 30) have passed; the exit status is\n"
    "                     then 3 when some tile showed none\n"
    "  --keys K1,K2,...   press these keys once every tile shows pictures, each\n"
    "                     after what the one before asked for (a recording list,\n"
    "                     a playback's pictures) has arrived: a character, or one\n"
    "                     of Return Escape Tab space Left Right Up Down Home;\n"
    "                     \"live\" presses nothing and waits until every tile is\n"
    "                     live again (a playback ended)\n"
    "A tile whose connect fails or whose link ends shows why, with its last picture\n"
    "dimmed, and connects again after 1 s, 2 s, 4 s ... up to 30 s.\n"
    "Keys (on the selected tile):\n"
    "  Tab / Shift+Tab, Control+arrows, a click  select a tile\n"
    "  f, a double click   the tile alone in the whole window, and back (also Escape)\n"
    "  arrows              pan and tilt while held\n"
    "  s snapshot (PNG)    r start/stop recording    a sound on/off\n"
    "  p                   the device's recordings of today, in the tile:\n"
    "                      Up/Down choose, Left/Right the day before/after,\n"
    "                      Enter plays it in the tile\n"
    "  while playing       space pause/resume, - slower, + (=) faster, 1 normal\n"
    "                      speed, Left/Right 5 s back/forward, Home from the start\n"
    "  Escape              live again (from a list or playback); else quit\n"
    "  q                   quit (so do SIGINT and SIGTERM)\n";

// Key symbols by name for --keys; a single character stands for itself.
bool ParseKeys(const std::string& text, std::vector<uint32_t>& keys) {
  static const std::pair<const char*, uint32_t> kNames[] = {
      {"Return", 0xff0d}, {"Escape", 0xff1b},
      {"Tab", 0xff09},    {"space", ' '},
      {"Left", 0xff51},   {"Up", 0xff52},
      {"Right", 0xff53},  {"Down", 0xff54},
      {"Home", 0xff50},   {"live", qcview::kScriptWaitForLive}};
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string name = text.substr(start, comma - start);
    uint32_t symbol = name.size() == 1 ? static_cast<uint8_t>(name[0]) : 0;
    for (const auto& [known, value] : kNames) {
      if (name == known) symbol = value;
    }
    if (symbol == 0) return false;
    keys.push_back(symbol);
    start = comma + 1;
  }
  return true;
}

bool ParsePair(const char* text, char separator, int& a, int& b) {
  char* end = nullptr;
  a = static_cast<int>(std::strtol(text, &end, 10));
  if (end == text || *end != separator) return false;
  const char* second = end + 1;
  b = static_cast<int>(std::strtol(second, &end, 10));
  return end != second && *end == '\0' && a > 0 && b > 0;
}

bool ParseSeconds(const char* text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && seconds >= 0 && seconds < 86400;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  qcview::ViewerOptions options;
  std::vector<hostlib::DeviceSource> sources;
  bool gridGiven = false, xvfb = false;
  int width = 0, height = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--xvfb") {
      xvfb = true;
      continue;
    } else if (arg.rfind("--", 0) != 0) {
      hostlib::DeviceSource source;
      std::string error;
      // Names are looked up at each connect: one that does not resolve is
      // shown on its tile and tried again.
      if (!hostlib::ParseDeviceSource(arg, source, error, false)) {
        std::fprintf(stderr, "qcview: %s\n", error.c_str());
        return 2;
      }
      sources.push_back(source);
      continue;
    } else if (value == nullptr) {
      ok = false;
    } else if (arg == "--grid") {
      ok = gridGiven = ParsePair(value, 'x', options.columns, options.rows);
    } else if (arg == "--size") {
      ok = ParsePair(value, 'x', width, height) && width <= 8192 && height <= 8192;
    } else if (arg == "--out") {
      options.outDir = value;
    } else if (arg == "--screenshot") {
      options.screenshot = value;
    } else if (arg == "--after") {
      ok = ParseSeconds(value, options.after);
    } else if (arg == "--timeout") {
      ok = ParseSeconds(value, options.timeout);
    } else if (arg == "--keys") {
      ok = ParseKeys(value, options.keys);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "qcview: bad option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    ++i;
  }
  const std::size_t given = sources.size();
  if (!gridGiven && given > 0) {
    options.columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(given))));
    options.rows = static_cast<int>((given + options.columns - 1) / options.columns);
  }
  const std::size_t cells = static_cast<std::size_t>(options.columns) * options.rows;
  if (given > cells || cells > 64) {
    std::fprintf(stderr, "qcview: %zu devices do not fit a %dx%d grid (at most 64 tiles)\n", given,
                 options.columns, options.rows);
    return 2;
  }
  if (width == 0) {
    width = options.columns * (320 + 2 * qcview::kFrameWidth);
    height = options.rows * (240 + qcview::kStatusHeight + 2 * qcview::kFrameWidth);
  }

  hostlib::Simulator simulator;
  if (given == 0) {
    // Two devices: tiles take their channels in turn, the first device's
    // over Nxl, the second's over OCT.
    const std::string channels = "channels=" + std::to_string((cells + 1) / 2);
    const std::string program = hostlib::SiblingProgram("vdevice");
    if (!simulator.Start(
            program,
            {"--until-stdin-closes", "--device", "type=2,limit=128,codec=h264," + channels,
             "--device", "type=2,limit=128,codec=h265,width=384,height=216," + channels}) ||
        simulator.devices().size() < 2) {
      std::fprintf(stderr, "qcview: the device simulator (%s) did not start\n", program.c_str());
      return 1;
    }
    for (std::size_t i = 0; i < cells; ++i) {
      const hostlib::SimDevice& device = simulator.devices()[i % 2];
      hostlib::DeviceSource source;
      source.host = device.address;
      source.channel = static_cast<int32_t>(i / 2);
      source.port = device.port;
      if (i % 2 == 1) {
        source.transport = QCSDK_TRANSPORT_OCT;
        source.port = device.oct_port;
        source.channel += 1;
      }
      sources.push_back(source);
    }
  }

  hostlib::VirtualDisplay display;
  std::string error;
  if (xvfb) {
    if (!display.Start(width, height, error)) {
      std::fprintf(stderr, "qcview: %s\n", error.c_str());
      return 1;
    }
    // The SDK's player reaches the X server through DISPLAY as well.
    setenv("DISPLAY", display.name().c_str(), 1);
  }
  qcview::XWindow window;
  if (!window.Open(width, height, "qcview", error)) {
    std::fprintf(stderr, "qcview: %s\n", error.c_str());
    return 1;
  }
  qcview::Viewer viewer(window, sources, options);
  return viewer.Run(width, height);
}
