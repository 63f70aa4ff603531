# Shared by the mingw-w64 toolchain files: QCSDK_MINGW_TRIPLE names the
# target (i686-w64-mingw32 or x86_64-w64-mingw32). The -posix compilers give
# std::thread and std::mutex; libgcc, libstdc++ and winpthread are linked
# statically so that no mingw runtime DLL has to ship beside ours.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QCSDK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QCSDK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QCSDK_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${QCSDK_MINGW_TRIPLE}-dlltool)

# -static: the runtime archives instead of their DLLs (import libraries
# named by full path, as CMake passes them, still link their DLLs).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# The dependencies cross-built from Debian's source packages by
# scripts/lib/win32_deps.sh: <cache>/<triple>/<package> links to the build
# of the current source version.
if(NOT QCSDK_WIN_CACHE)
  if(DEFINED ENV{QCSDK_WIN_CACHE})
    set(QCSDK_WIN_CACHE $ENV{QCSDK_WIN_CACHE})
  else()
    set(QCSDK_WIN_CACHE /var/cache/qcsdk-win32)
  endif()
endif()
set(QCSDK_WIN_DEPS)
foreach(_pkg cjson googletest ffmpeg)
  if(EXISTS ${QCSDK_WIN_CACHE}/${QCSDK_MINGW_TRIPLE}/${_pkg})
    list(APPEND QCSDK_WIN_DEPS ${QCSDK_WIN_CACHE}/${QCSDK_MINGW_TRIPLE}/${_pkg})
  endif()
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${QCSDK_MINGW_TRIPLE} ${QCSDK_WIN_DEPS})
set(CMAKE_PREFIX_PATH ${QCSDK_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the cross-built packages, never the host's.
set(_qcsdk_pc)
foreach(_dep ${QCSDK_WIN_DEPS})
  list(APPEND _qcsdk_pc ${_dep}/lib/pkgconfig)
endforeach()
string(REPLACE ";" ":" _qcsdk_pc "${_qcsdk_pc}")
set(ENV{PKG_CONFIG_LIBDIR} "${_qcsdk_pc}")
set(ENV{PKG_CONFIG_PATH} "")
