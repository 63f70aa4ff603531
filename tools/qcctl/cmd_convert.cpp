// convert: a recording in the device's own container (.sv4, .sv5, .sv6, as
// the SDK records it or a device's raw download delivers it) into MP4
// through the packaging library.
#include <qp/qp.h>

#include <fstream>
#include <iterator>

#include "commands.h"
#include "qcsdk/channel/svx_reader.h"

namespace qcctl {
namespace {

struct PackageCloser {
  void operator()(void* package) const { QP_ClosePackage(package); }
};

}  // namespace

int RunConvert(const Invocation& call) {
  const std::string& from = call.args[0];
  const std::string& to = call.args[1];
  const std::string in = Extension(from);
  if (in != ".sv4" && in != ".sv5" && in != ".sv6") {
    return Fail(kUsage, "convert: FILE ends in .sv4, .sv5 or .sv6");
  }
  if (Extension(to) != ".mp4") return Fail(kUsage, "convert: the output file ends in .mp4");
  std::ifstream file(from, std::ios::binary);
  if (!file) return Fail(kFailed, "convert: cannot read " + from);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                   std::istreambuf_iterator<char>()};
  qcsdk::SvxRecording rec;
  if (!qcsdk::ReadSvxRecording(bytes, rec)) {
    return Fail(kFailed, "convert: " + from + " has no recording header (\"QVS\" at byte 0)");
  }
  if (rec.pictures.empty()) return Fail(kFailed, "convert: " + from + " holds no pictures");
  QP_VideoDesc video{};
  video.width = static_cast<int32_t>(rec.width);
  video.height = static_cast<int32_t>(rec.height);
  video.frameRate = static_cast<float>(rec.frameRate);
  const int32_t format = rec.hevc ? QP_VIDEO_H265 : QP_VIDEO_H264;
  std::unique_ptr<void, PackageCloser> package(
      QP_OpenPackage(&video, 1, 0, to.c_str(), nullptr, format, 0));
  if (!package) return Fail(kFailed, "convert: the packager cannot open " + to);
  for (std::size_t i = 0; i < rec.pictures.size(); ++i) {
    QP_Frame frame{};
    frame.kind = QP_FRAME_VIDEO;
    frame.data = rec.pictures[i].data;
    frame.length = static_cast<int32_t>(rec.pictures[i].size);
    frame.timestamp = 0;  // from the frame rate
    if (QP_PackageOneFrame(package.get(), &frame) == 0) {
      return Fail(kFailed,
                  "convert: the packager refused picture " + std::to_string(i + 1) + " of " + from);
    }
  }
  package.reset();
  const double seconds = static_cast<double>(rec.pictures.size()) / rec.frameRate;
  if (call.out.json()) {
    JsonPtr doc(cJSON_CreateObject());
    cJSON_AddStringToObject(doc.get(), "file", to.c_str());
    cJSON_AddNumberToObject(doc.get(), "frames", static_cast<double>(rec.pictures.size()));
    cJSON_AddNumberToObject(doc.get(), "headerFrames", rec.frameCount);
    cJSON_AddNumberToObject(doc.get(), "seconds", seconds);
    cJSON_AddStringToObject(doc.get(), "codec", rec.hevc ? "H.265" : "H.264");
    call.out.Json(doc.get());
  } else {
    call.out.Fields({{"file", to},
                     {"frames", std::to_string(rec.pictures.size()) + " (header says " +
                                    std::to_string(rec.frameCount) + ")"},
                     {"seconds", std::to_string(seconds)},
                     {"video", std::string(rec.hevc ? "H.265 " : "H.264 ") +
                                   std::to_string(rec.width) + "x" + std::to_string(rec.height)}});
  }
  return kOk;
}

}  // namespace qcctl
