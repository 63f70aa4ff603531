// Used while our MP4 packaging library is not part of the build.
#include "platform/absent.h"
#include "platform/mp4pkg_api.h"

namespace qcsdk::platform {

const Mp4PkgApi& DefaultMp4Pkg() {
  static const Mp4PkgApi api{QCSDK_REFUSE(QP_OpenPackage, 0), QCSDK_REFUSE(QP_PackageOneFrame, 0),
                             QCSDK_REFUSE(QP_ClosePackage, 0)};
  return api;
}

}  // namespace qcsdk::platform
