// qcdemo: a host that uses every part of the SDK. Without arguments it
// starts the device simulator and works against its virtual devices; with
// "ADDRESS PORT USER PASSWORD [CHANNEL]" it works against that device.
// Files go to ./demo-out/. Exits 0 only when every step worked, 2 on a wrong
// command line (see kUsage).
#include <qcsdk/qcsdk.h>
#include <qcsdk/qcsdk_grpc.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "demo_host.h"
#include "hostlib/child_process.h"
#include "hostlib/event_names.h"
#include "hostlib/png_writer.h"
#include "hostlib/simulator.h"

namespace {

using qcdemo::DemoHost;

const char* kOut = "demo-out";

const char* kUsage =
    "usage: qcdemo [--broadcast-target ADDRESS] [ADDRESS PORT USER PASSWORD [CHANNEL]]\n"
    "\n"
    "Runs every feature of the SDK step by step and prints a table of the steps.\n"
    "Without a device it starts the device simulator and works against its\n"
    "virtual devices; with ADDRESS PORT USER PASSWORD [CHANNEL] it works\n"
    "against that Nxl device (CHANNEL from 0, default 0).\n"
    "\n"
    "  --broadcast-target ADDRESS  send the LAN search and OKIP probes to this\n"
    "                              IPv4 address (e.g. 192.168.1.255) instead of\n"
    "                              the loopback broadcast address\n"
    "  -h, --help                  show this text\n"
    "\n"
    "Files go to ./demo-out/. Exit status: 0 every step worked, 1 a step\n"
    "failed, 2 a wrong command line.\n";

struct Target {
  std::string address;
  int port = 0;
  std::string user;
  std::string password;
  int channel = 0;
};

struct Step {
  std::string name;
  bool ok;
  std::string detail;  // "skipped..." with ok: the step did not run
};

// The command line, or the reason it is wrong.
struct CommandLine {
  bool help = false;
  std::string error;
  std::string broadcastTarget;      // empty: the SDK's loopback default
  std::vector<std::string> device;  // empty or ADDRESS PORT USER PASSWORD [CHANNEL]
};

bool IsNumber(const std::string& text, long low, long high) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= low && value <= high;
}

CommandLine Parse(int argc, char** argv) {
  CommandLine c;
  for (int i = 1; i < argc && c.error.empty(); ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      c.help = true;
    } else if (arg == "--broadcast-target") {
      if (i + 1 < argc) {
        c.broadcastTarget = argv[++i];
      } else {
        c.error = "--broadcast-target needs an ADDRESS";
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      c.error = "unknown option " + arg;
    } else {
      c.device.push_back(arg);
    }
  }
  if (!c.error.empty() || c.help) return c;
  if (!c.device.empty() && (c.device.size() < 4 || c.device.size() > 5)) {
    c.error = "a device is given as ADDRESS PORT USER PASSWORD [CHANNEL], not " +
              std::to_string(c.device.size()) + " arguments";
  } else if (!c.device.empty() && !IsNumber(c.device[1], 1, 65535)) {
    c.error = "PORT " + c.device[1] + " is not a number from 1 to 65535";
  } else if (c.device.size() == 5 && !IsNumber(c.device[4], 0, 511)) {
    c.error = "CHANNEL " + c.device[4] + " is not a number from 0 to 511";
  }
  return c;
}

// OKIP answers: device number -> address.
std::mutex g_okipMutex;
std::map<std::string, std::string> g_okip;
bool g_okipEnded = false;

void OnOkip(const QCSDK_OkipResult* result) {
  std::lock_guard<std::mutex> guard(g_okipMutex);
  if (result == nullptr) {
    g_okipEnded = true;
    return;
  }
  std::printf("  OKIP: %s at %s, \"%s\"\n", result->deviceNumber, result->address, result->name);
  g_okip[result->deviceNumber] = result->address;
}

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The date range of a recording query: from today to today.
std::array<int32_t, 6> TodayToToday() {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  return {today.tm_year + 1900, today.tm_mon + 1, today.tm_mday,
          today.tm_year + 1900, today.tm_mon + 1, today.tm_mday};
}

long FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

class Demo {
 public:
  std::vector<Step> steps;
  DemoHost host;

  // Runs a step unless a step it needs failed or was skipped: then it is
  // reported as skipped, naming that step.
  bool Run(const std::string& name, const std::function<bool(std::string&)>& body,
           const std::string& needs = "") {
    std::printf("== %s\n", name.c_str());
    std::fflush(stdout);
    std::string detail;
    bool ok = false;
    if (!needs.empty() && !Worked(needs)) {
      ok = true;
      detail = "skipped: needs \"" + needs + "\"";
    } else {
      try {
        ok = body(detail);
      } catch (...) {
        detail = "exception";
      }
    }
    steps.push_back({name, ok, detail});
    if (Skipped(steps.back())) {
      std::printf("   %s\n", detail.c_str());
      return false;
    }
    std::printf("   %s%s%s\n", ok ? "ok" : "FAILED", detail.empty() ? "" : ": ", detail.c_str());
    return ok;
  }

  static bool Skipped(const Step& s) { return s.ok && s.detail.rfind("skipped", 0) == 0; }

  // True when the step ran and worked.
  bool Worked(const std::string& name) const {
    for (const Step& s : steps) {
      if (s.name == name) return s.ok && !Skipped(s);
    }
    return false;
  }

  int Connect(const Target& t) {
    const int before = host.Locked([&] { return host.events[QCSDK_EVENT_CONNECTED]; });
    const int32_t ch = QCSDK_Connect(t.address.c_str(), t.port, t.channel, t.user.c_str(),
                                     t.password.c_str(), 0, nullptr);
    if (ch < 0) return -1;
    if (!host.WaitFor([&] { return host.events[QCSDK_EVENT_CONNECTED] > before; }, 10000))
      return -1;
    return ch;
  }

  bool Record(int32_t ch, const std::string& file, std::string& detail) {
    if (QCSDK_StartRec(ch, file.c_str()) != 1) {
      detail = "recording refused";
      return false;
    }
    Sleep(3000);
    QCSDK_StopRec(ch);
    const long size = FileSize(file);
    detail = file + ", " + std::to_string(size) + " bytes";
    return size > 1000;
  }

  // Asks for the channel's recordings of today; true when a list with
  // entries arrived (kept in host.recList).
  bool List(int32_t ch) {
    host.Locked([&] {
      host.recList.clear();
      host.recListFailed = false;
      return 0;
    });
    const std::array<int32_t, 6> dates = TodayToToday();
    if (QCSDK_GetRemoteRecFileList(ch, dates.data()) != 1) return false;
    return host.WaitFor([&] { return !host.recList.empty() || host.recListFailed; }, 10000) &&
           host.Locked([&] { return !host.recList.empty(); });
  }

  // Downloads entry `index` of the channel's last list to kOut/BASE plus the
  // extension of the entry's kind: .sv4/.sv5/.sv6 recordings arrive raw,
  // .mp4 ones are packaged by the SDK.
  bool Download(int32_t ch, size_t index, const std::string& base, std::string& detail) {
    int32_t kind = 0;
    host.Locked([&] {
      if (index < host.recList.size()) std::memcpy(&kind, host.recList[index].data() + 4, 4);
      return host.downloadEnd = -1;
    });
    const std::string ext = hostlib::RecordingExtension(kind);
    const std::string file = std::string(kOut) + "/" + base + (ext.empty() ? ".bin" : ext);
    if (QCSDK_DownloadRemoteFile(ch, static_cast<int32_t>(index), file.c_str()) != 1) return false;
    const bool ended = host.WaitFor([&] { return host.downloadEnd >= 1; }, 30000);
    const int end = host.Locked([&] { return host.downloadEnd; });
    detail =
        file + ", " + std::to_string(FileSize(file)) + " bytes, end code " + std::to_string(end);
    return ended && end == QCSDK_DOWNLOAD_END_1 && FileSize(file) > 1000;
  }

  int Summary() const {
    int failed = 0, skipped = 0;
    std::printf("\n%-28s %s\n", "step", "result");
    std::printf("%-28s %s\n", "----", "------");
    for (const Step& s : steps) {
      std::printf("%-28s %s\n", s.name.c_str(),
                  Skipped(s) ? s.detail.c_str()
                  : s.ok     ? "ok"
                             : "FAILED");
      failed += s.ok ? 0 : 1;
      skipped += Skipped(s) ? 1 : 0;
    }
    std::printf("\n%zu steps, %d failed, %d skipped\n", steps.size(), failed, skipped);
    return failed == 0 ? 0 : 1;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const CommandLine cmd = Parse(argc, argv);
  if (cmd.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!cmd.error.empty()) {
    std::fprintf(stderr, "qcdemo: %s\n\n%s", cmd.error.c_str(), kUsage);
    return 2;
  }
  const std::string& broadcastTarget = cmd.broadcastTarget;
  const std::vector<std::string>& args = cmd.device;
  if (!broadcastTarget.empty() && QCSDK_SetBroadcastTarget(broadcastTarget.c_str()) != 1) {
    std::fprintf(stderr, "qcdemo: %s is not a dotted IPv4 address\n\n%s", broadcastTarget.c_str(),
                 kUsage);
    return 2;
  }
  mkdir(kOut, 0755);
  hostlib::Simulator simulator;
  Target a, b;
  const bool simulated = args.empty();
  if (simulated) {
    const std::string program = hostlib::SiblingProgram("vdevice");
    std::printf("Starting the device simulator (%s)\n", program.c_str());
    // It also answers search probes and OKIP broadcasts on the ports the
    // SDK's services send to (loopback only).
    if (!simulator.Start(
            program, {"--until-stdin-closes", "--search-port", "6666", "--okip-port", "9106",
                      "--oct-search-port", "29999", "--device",
                      "type=2,channels=2,user=admin,password=secret,kind=3,codec=h264", "--device",
                      "type=2,channels=1,user=admin,password=secret,kind=1,codec=h265"}) ||
        simulator.devices().size() < 2) {
      std::fprintf(stderr, "qcdemo: the device simulator did not start\n");
      return 1;
    }
    a = {simulator.devices()[0].address, simulator.devices()[0].port, "admin", "secret", 0};
    b = {simulator.devices()[1].address, simulator.devices()[1].port, "admin", "secret", 0};
  } else {
    a = {args[0], std::atoi(args[1].c_str()), args[2], args[3],
         args.size() > 4 ? std::atoi(args[4].c_str()) : 0};
  }

  Demo demo;
  DemoHost& host = demo.host;
  int32_t chA = -1, chB = -1, octA = -1, octB = -1;
  if (!demo.Run("initialise", [&](std::string& d) {
        d = "work directory " + std::string(kOut);
        return QCSDK_InitSDK(0, kOut) == 1;
      })) {
    return demo.Summary();
  }
  demo.Run("connect", [&](std::string& d) {
    chA = demo.Connect(a);
    d = a.address + ":" + std::to_string(a.port) + " -> channel " + std::to_string(chA);
    return chA >= 0;
  });
  demo.Run(
      "live frames",
      [&](std::string& d) {
        const bool ok = host.WaitFor([&] { return host.rawFrames >= 25; }, 10000);
        d = std::to_string(host.Locked([&] { return host.rawFrames; })) + " frames";
        return ok;
      },
      "connect");
  demo.Run(
      "stream information",
      [&](std::string& d) {
        StreamInfo info{};
        int32_t type = 0;
        if (QCSDK_GetStreamInfo(chA, &info) != 1 || QCSDK_GetDeviceInfo(chA, &type) != 1)
          return false;
        d = "device type " + std::to_string(type) + ", codec " + std::to_string(info.videoCodec) +
            ", " + std::to_string(info.width) + "x" + std::to_string(info.height) + " at " +
            std::to_string(info.frameRateNum) + "/" + std::to_string(info.frameRateDen) + " fps";
        return info.width > 0;
      },
      "connect");
  demo.Run(
      "decode and snapshot",
      [&](std::string& d) {
        if (QCSDK_EnableDecoder(chA, 1) != 1) return false;
        if (!host.WaitFor([&] { return host.decoded >= 5; }, 10000)) {
          d = "no decoded pictures";
          return false;
        }
        const std::string bmp = std::string(kOut) + "/snapshot.bmp";
        const std::string png = std::string(kOut) + "/snapshot.png";
        if (QCSDK_SaveBitmap(chA, bmp.c_str()) != 1) return false;
        uint8_t* pixels = nullptr;
        int32_t w = 0, h = 0;
        if (QCSDK_SaveBitmapToBuffer(chA, &pixels, &w, &h) != 1) return false;
        const bool ok = hostlib::WritePng(png, pixels, w, h);
        QCSDK_FreeBitmapBuffer(pixels);
        d = bmp + " and " + png + " (" + std::to_string(w) + "x" + std::to_string(h) + ")";
        return ok;
      },
      "connect");
  demo.Run(
      "window",
      [&](std::string& d) {
        // The viewer host shows the devices in one window and saves it; without
        // a display it runs under a virtual X server of its own.
        const char* display = std::getenv("DISPLAY");
        const bool onDisplay = display != nullptr && display[0] != '\0';
        if (!onDisplay && hostlib::FindProgram("Xvfb").empty()) {
          d = "skipped: no DISPLAY and no Xvfb";
          return true;
        }
        const std::string png = std::string(kOut) + "/window.png";
        std::vector<std::string> args = {"--screenshot", png, "--after", "1", "--out", kOut};
        if (!onDisplay) args.push_back("--xvfb");
        int tiles = 0;
        auto device = [&](const char* scheme, const Target& t, int port, int channel) {
          ++tiles;
          args.push_back(std::string(scheme) + "://" + t.user + ":" + t.password + "@" + t.address +
                         ":" + std::to_string(port) + "/" + std::to_string(channel));
        };
        device("nxl", a, a.port, a.channel);
        if (simulated) device("oct", b, simulator.devices()[1].oct_port, 1);
        hostlib::ChildProcess viewer;
        if (!viewer.Start(hostlib::SiblingProgram("qcview"), args)) return false;
        for (std::string line; viewer.ReadLine(line);) std::printf("   %s\n", line.c_str());
        const int status = viewer.Wait(60000);
        d = png + " (" + std::to_string(tiles) + " channels" +
            (onDisplay ? ")" : ", private Xvfb)") + ", viewer exit status " +
            std::to_string(status);
        return status == 0 && FileSize(png) > 0;
      },
      "connect");
  demo.Run(
      "record MP4",
      [&](std::string& d) { return demo.Record(chA, std::string(kOut) + "/live.mp4", d); },
      "connect");
  if (simulated) {
    demo.Run("record .sv5", [&](std::string& d) {
      chB = demo.Connect(b);
      if (chB < 0) {
        d = "second device did not connect";
        return false;
      }
      return demo.Record(chB, std::string(kOut) + "/live.sv5", d);
    });
  }
  demo.Run(
      "remote recording list",
      [&](std::string& d) {
        const bool ok = demo.List(chA);
        const auto list = host.Locked([&] { return host.recList; });
        for (const auto& entry : list) {
          std::printf("   %s  (%s)\n", reinterpret_cast<const char*>(entry.data() + 16),
                      reinterpret_cast<const char*>(entry.data() + 2064));
        }
        d = std::to_string(list.size()) + " recordings today";
        return ok;
      },
      "connect");
  demo.Run(
      "playback",
      [&](std::string& d) {
        const int changed = host.Locked([&] { return host.events[QCSDK_EVENT_STREAM_CHANGED]; });
        if (QCSDK_RemotePlay(chA, 0) != 1) return false;
        const bool started =
            host.WaitFor([&] { return host.events[QCSDK_EVENT_STREAM_CHANGED] > changed; }, 10000);
        Sleep(500);
        QCSDK_RemotePlayControl(chA, 2, 0);  // faster
        Sleep(500);
        QCSDK_RemotePlayControl(chA, 1, 0);  // pause
        Sleep(300);
        QCSDK_RemotePlayControl(chA, 0, 0);  // resume
        Sleep(300);
        QCSDK_RemotePlay(chA, -1);
        d = started ? "played the first recording" : "no playback stream";
        return started;
      },
      "remote recording list");
  demo.Run(
      "download", [&](std::string& d) { return demo.Download(chA, 0, "download", d); },
      "remote recording list");
  if (simulated) {
    demo.Run(
        "download .sv5",
        [&](std::string& d) {
          if (!demo.List(chB)) {
            d = "no list";
            return false;
          }
          return demo.Download(chB, 0, "download-sv5", d);
        },
        "record .sv5");
  }
  demo.Run(
      "talk",
      [&](std::string& d) {
        if (QCSDK_StartTalk(chA) != 1) return false;
        if (!host.WaitFor([&] { return host.talkAccepted > 0; }, 5000)) {
          d = "not accepted";
          return false;
        }
        std::vector<uint8_t> silence(320, 0xD5);  // G.711 A-law silence
        for (int i = 0; i < 25; ++i) {
          QCSDK_SendTalkData(chA, silence.data(), static_cast<int32_t>(silence.size()));
          Sleep(40);
        }
        const bool echoed = host.WaitFor([&] { return host.talkAudio > 0; }, 3000);
        QCSDK_StopTalk(chA);
        d = std::to_string(host.Locked([&] { return host.talkAudio; })) + " audio blocks back";
        return echoed;
      },
      "connect");
  demo.Run(
      "PTZ",
      [&](std::string& d) {
        d = "up, stop, zoom in, stop";
        return QCSDK_SendPTZCommand(chA, 0, 1) == 1 && QCSDK_SendPTZCommand(chA, 0, 0) == 1 &&
               QCSDK_SendPTZCommand(chA, 9, 1) == 1 && QCSDK_SendPTZCommand(chA, 9, 0) == 1;
      },
      "connect");
  demo.Run(
      "user data",
      [&](std::string& d) {
        const char hello[] = "hello device";
        if (QCSDK_SendUserData(chA, hello, sizeof hello - 1) != 1) return false;
        const bool back = host.WaitFor([&] { return host.userData > 0; }, 5000);
        d = back ? "echoed" : "no answer";
        return back;
      },
      "connect");
  demo.Run(
      "device RPC",
      [&](std::string& d) {
        if (QCSDK_GRPC_Begin(chA) != 1) {
          d = "text exchange refused";
          return false;
        }
        qvbu_dev_get_info_result info{};
        const int32_t r = QCSDK_GRPC_dev_get_info(chA, nullptr, &info);
        QCSDK_GRPC_End(chA);
        // The export answers 1 when the whole call succeeded.
        d = std::string("dev_get_info ") + (r == 1 ? "answered" : "failed") +
            (info.name != nullptr ? std::string(", device name \"") + info.name + "\"" : "");
        return r == 1;
      },
      "connect");
  if (simulated && simulator.devices()[0].oct_port > 0) {
    const int octPort = simulator.devices()[0].oct_port;
    demo.Run("OCT live, shared link", [&](std::string& d) {
      // Two channels of one device with the same credentials travel over
      // one OCT connection: device channel 1 main stream, channel 2 sub stream.
      octA = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, a.address.c_str(), octPort, 1, 0, "admin",
                            "secret", 0, nullptr);
      octB = QCSDK_Connect2(QCSDK_TRANSPORT_OCT, a.address.c_str(), octPort, 2, 1, "admin",
                            "secret", 0, nullptr);
      if (octA < 0 || octB < 0) return false;
      const bool ok = host.WaitFor(
          [&] { return host.rawByChannel[octA] >= 25 && host.rawByChannel[octB] >= 25; }, 10000);
      StreamInfo info{};
      QCSDK_GetStreamInfo(octA, &info);
      d = "channels " + std::to_string(octA) + " and " + std::to_string(octB) + ", " +
          std::to_string(host.Locked([&] { return host.rawByChannel[octA]; })) + " and " +
          std::to_string(host.Locked([&] { return host.rawByChannel[octB]; })) + " frames, " +
          std::to_string(info.width) + "x" + std::to_string(info.height);
      return ok;
    });
    demo.Run(
        "OCT recordings",
        [&](std::string& d) {
          if (!demo.List(octA)) {
            d = "no list";
            return false;
          }
          std::string download;
          const bool ok = demo.Download(octA, 0, "oct-download", download);
          d = std::to_string(host.Locked([&] { return host.recList.size(); })) + " recordings; " +
              download;
          return ok;
        },
        "OCT live, shared link");
    demo.Run(
        "OCT device RPC",
        [&](std::string& d) {
          qvbu_dev_get_info_result info{};
          const bool begun = QCSDK_GRPC_Begin(octA) == 1;
          const int32_t r = begun ? QCSDK_GRPC_dev_get_info(octA, nullptr, &info) : 0;
          if (begun) QCSDK_GRPC_End(octA);
          d = std::string("dev_get_info ") + (r == 1 ? "answered" : "failed") + "; PTZ up/stop " +
              (QCSDK_SendPTZCommand(octA, 0, 1) == 1 && QCSDK_SendPTZCommand(octA, 0, 0) == 1
                   ? "sent"
                   : "failed");
          return r == 1;
        },
        "OCT live, shared link");
  }
  demo.Run("LAN search", [&](std::string& d) {
    if (QCSDK_LanSeartchDevice(0, 1000) != 1) {
      d = "no search could start";
      return false;
    }
    const bool ended = host.WaitFor([&] { return host.searchEnded; }, 5000);
    const int nxl = host.Locked([&] { return host.searchByTransport[QCSDK_TRANSPORT_NXL]; });
    const int oct = host.Locked([&] { return host.searchByTransport[QCSDK_TRANSPORT_OCT]; });
    // A device answering on both transports is reported once, by whichever
    // answer came first.
    d = std::to_string(nxl + oct) + " devices (" + std::to_string(nxl) + " first over Nxl, " +
        std::to_string(oct) + " over OCT)";
    // The simulator's devices share their search ports: only a broadcast
    // reaches them all.
    return ended && nxl + oct >= (simulated && broadcastTarget.empty() ? 2 : 1);
  });
  // Re-addressing a device is tried on the simulator only, where every
  // device hears the loopback broadcast.
  if (simulated && broadcastTarget.empty()) {
    demo.Run("OKIP find and re-address", [&](std::string& d) {
      if (QCSDK_OKIP_StartService(&OnOkip) != 1) {
        d = "no OKIP service";
        return false;
      }
      // Broadcasts are told apart by an id that changes every second.
      auto find = [&] {
        Sleep(1100);
        {
          std::lock_guard<std::mutex> guard(g_okipMutex);
          g_okip.clear();
          g_okipEnded = false;
        }
        QCSDK_OKIP_FinDevs(1000);
        for (int i = 0; i < 100; ++i) {
          {
            std::lock_guard<std::mutex> guard(g_okipMutex);
            if (g_okipEnded) break;
          }
          Sleep(30);
        }
        std::lock_guard<std::mutex> guard(g_okipMutex);
        return g_okip;
      };
      const auto before = find();
      const std::string number = simulator.devices()[0].number;
      // Word 1 is the new IPv4 address, first dotted number in the lowest byte.
      const int32_t config[5] = {0, static_cast<int32_t>(0x0900007F), 0x00FFFFFF, 0x0100007F, 0};
      Sleep(1100);
      const int32_t set = QCSDK_OKIP_SetNetCfg(number.c_str(), "admin", "secret", config);
      const auto after = find();
      QCSDK_OKIP_StopService();
      const auto it = after.find(number);
      d = std::to_string(before.size()) + " devices answered; " + number + " now at " +
          (it != after.end() ? it->second : std::string("?"));
      return !before.empty() && set != 0 && it != after.end() && it->second == "127.0.0.9";
    });
  }
  demo.Run("disconnect", [&](std::string& d) {
    const int before = host.Locked([&] { return host.events[QCSDK_EVENT_DISCONNECTED]; });
    int expected = 0;
    for (int32_t ch : {chA, chB, octA, octB}) {
      if (ch >= 0 && QCSDK_Disconnect(ch) == 1) ++expected;
    }
    const bool ok = host.WaitFor(
        [&] { return host.events[QCSDK_EVENT_DISCONNECTED] >= before + expected; }, 5000);
    d = expected > 0 ? std::to_string(expected) + " channels" : "skipped: no channel was connected";
    return ok;
  });
  demo.Run("release", [&](std::string& d) {
    d = "result " + std::to_string(QCSDK_ReleaseSDK());
    return true;
  });
  simulator.Stop();
  return demo.Summary();
}
