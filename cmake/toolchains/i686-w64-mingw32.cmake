# 32-bit Windows (the DLLs hosts load), cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QCSDK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
