// The SDK's table of our MP4 packaging library.
#include "platform/mp4pkg_api.h"

namespace qcsdk::platform {

const Mp4PkgApi& DefaultMp4Pkg() {
  static const Mp4PkgApi api{&QP_OpenPackage, &QP_PackageOneFrame, &QP_ClosePackage};
  return api;
}

}  // namespace qcsdk::platform
