# Install rules, a pkg-config file and a CMake package config, so a host can
# use find_package(qcsdk) or pkg-config --cflags --libs qcsdk. Components:
# "runtime" (the shared libraries), "dev" (headers, .so links, pkg-config,
# CMake package) and "tools"; the Debian packages follow them.
include(CMakePackageConfigHelpers)

install(TARGETS qcsdk EXPORT qcsdkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/qcsdk DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev FILES_MATCHING PATTERN "*.h")
# The libraries the SDK loads: only the SDK links them, so their .so links
# are left out.
foreach(lib qvsp qp qvc octc)
  if(TARGET ${lib})
    install(TARGETS ${lib}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  endif()
endforeach()

# The tools (component "tools"): the viewer, the command-line tool, the RTSP server and the
# device simulator, installed as qcsdk-vdevice. They find the SDK's libraries
# through a run path relative to themselves, so they start from any prefix
# without LD_LIBRARY_PATH.
foreach(tool qcview qcctl qcrtsp)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()
if(TARGET vdevice)
  # Renamed on the way, so its run path (the build tree's) is set here.
  install(PROGRAMS $<TARGET_FILE:vdevice> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME qcsdk-vdevice
    COMPONENT tools)
  # Installed as a plain program, so it is stripped here when the targets
  # are (install --strip, packages).
  install(CODE "set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/qcsdk-vdevice\")
    file(RPATH_SET FILE \"\${file}\" NEW_RPATH \"\$ORIGIN/../${CMAKE_INSTALL_LIBDIR}\")
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" \"\${file}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT tools)
endif()

install(EXPORT qcsdkTargets NAMESPACE qcsdk:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qcsdk
  COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qcsdkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qcsdkConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qcsdk)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qcsdkConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qcsdkConfig.cmake ${PROJECT_BINARY_DIR}/qcsdkConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qcsdk COMPONENT dev)

# The .pc file finds its prefix from its own location, so an installed tree
# can be moved.
file(RELATIVE_PATH QCSDK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/qcsdk.pc.in ${PROJECT_BINARY_DIR}/qcsdk.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qcsdk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(cmake/Packaging.cmake)
endif()
