# Windows builds (mingw-w64, see cmake/toolchains/): every executable and DLL
# in one folder so that Windows finds the DLLs beside the programs, the Win32
# headers trimmed, and the tests run under wine through build-*/wine-run.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

if(CMAKE_CROSSCOMPILING)
  # Test lists are read when ctest runs, not at build time: wine starts slowly
  # and the build must not need it.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  find_program(QCSDK_WINE wine REQUIRED)
  # FFmpeg's DLLs, as wine's DLL path (Windows paths: the Unix root is Z:).
  set(QCSDK_WINEPATH)
  foreach(dep ${QCSDK_WIN_DEPS})
    if(IS_DIRECTORY ${dep}/bin)
      string(REPLACE "/" "\\" dir "Z:${dep}/bin")
      list(APPEND QCSDK_WINEPATH "${dir}")
    endif()
  endforeach()
  set(QCSDK_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
  set(QCSDK_ASOUND_CONF ${CMAKE_CURRENT_LIST_DIR}/windows/asound.conf)
  # Where the ctest fixture "vdevice" writes the native simulator's control
  # port (tests/CMakeLists.txt), for vdevice::ControlClient.
  set(QCSDK_VDEVICE_PORT_FILE ${PROJECT_BINARY_DIR}/vdevice.port)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/wine-run.in ${PROJECT_BINARY_DIR}/wine-run
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
  endif()
endif()

# Parts whose Windows code has not landed yet are left out of Windows builds
# (see docs/windows.md): the tools, which need X11, POSIX processes or the
# in-process simulator.
set(QCSDK_WIN32_PENDING hostlib vdevice qcview qcctl qcdemo qcrtsp)
# The test folders (tests/<name>) that build on Windows so far.
set(QCSDK_WIN32_TESTS mp4pkg netio nxl oct player win32_host oct_channel nxl_channel discovery grpc
  files log spine nxl_e2e hostile)
