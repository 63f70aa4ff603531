# 64-bit Windows, cross-built with mingw-w64: the same code built for the
# other Windows target (hosts load the 32-bit DLLs).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QCSDK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
