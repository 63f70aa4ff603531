// The MP4 packaging library's operations as the SDK calls them.
#pragma once

#include <qp/qp.h>

namespace qcsdk::platform {

struct Mp4PkgApi {
  decltype(&QP_OpenPackage) OpenPackage;
  decltype(&QP_PackageOneFrame) PackageOneFrame;
  decltype(&QP_ClosePackage) ClosePackage;
};

const Mp4PkgApi& Mp4Pkg();
void BindMp4Pkg(const Mp4PkgApi* api);
const Mp4PkgApi& DefaultMp4Pkg();

}  // namespace qcsdk::platform
