// The MP4 packaging library's operations as the SDK calls them. This header
// is the one door of the library's declarations into the SDK: nothing else
// under src/ includes qp.h.
#pragma once

#include <qp/qp.h>

#include <cstddef>
#include <cstdint>

// The records the SDK fills for the packager.
static_assert(sizeof(QP_VideoDesc) == 28);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(QP_Frame) == 32);
static_assert(offsetof(QP_Frame, data) == 4);
static_assert(offsetof(QP_Frame, length) == 8);
static_assert(offsetof(QP_Frame, timestamp) == 16);
static_assert(offsetof(QP_Frame, zero) == 24);
#endif

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
