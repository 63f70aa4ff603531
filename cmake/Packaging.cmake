# Debian packages (`./scripts/package`, or `cpack` in the build folder), split
# as Debian splits a library: libqcsdk0 (the SDK library and the transport,
# player and packager libraries it loads), libqcsdk-dev (headers, the .so
# link, pkg-config file, CMake package) and qcsdk-tools (qcview, qcctl,
# qcsdk-vdevice). Installed under /usr; Depends come from dpkg-shlibdeps.
set(QCSDK_DEB_CONTACT "qcsdk developers <qcsdk@example.org>")
set(QCSDK_DEB_RELEASE 1)
set(QCSDK_DEB_VERSION ${PROJECT_VERSION}-${QCSDK_DEB_RELEASE})

# Each package carries its copyright file and its changelog, compressed as
# Debian wants it (gzip -9, no time stamp in the header).
set(QCSDK_DEB_CHANGELOG ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
  OUTPUT_FILE ${QCSDK_DEB_CHANGELOG} COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
foreach(pair runtime:libqcsdk0 dev:libqcsdk-dev tools:qcsdk-tools)
  string(REPLACE ":" ";" parts ${pair})
  list(GET parts 0 component)
  list(GET parts 1 package)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${QCSDK_DEB_CHANGELOG}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    COMPONENT ${component} EXCLUDE_FROM_ALL)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qcsdk)
set(CPACK_PACKAGE_VENDOR "qcsdk developers")
set(CPACK_PACKAGE_CONTACT ${QCSDK_DEB_CONTACT})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QCSDK_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in each package's staging folder: the tools find the
# runtime package's libraries in its sibling folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../runtime/usr/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The runtime package declares its shared libraries (shlibs) and activates
# the ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "client SDK for network video devices (library)
qcsdk connects to network video devices (IP cameras, DVRs, NVRs) over two
transports, shows and records their live video, plays back, lists and
downloads their recordings and calls their RPC methods, through a flat C
interface. This package holds the shared library and the transport, player
and packager libraries it loads.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libqcsdk0 (= ${QCSDK_DEB_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "client SDK for network video devices (development files)
qcsdk connects to network video devices over two transports through a flat C
interface. This package holds the C headers, the link to the shared library,
the pkg-config file and the CMake package needed to build hosts.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION video)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libqcsdk0 (= ${QCSDK_DEB_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "client SDK for network video devices (tools)
Tools built on the qcsdk library: qcview shows device channels in a window,
qcctl runs every device operation from the command line (queries, RPC
methods, recordings, search) and qcsdk-vdevice simulates devices on the
loopback network for testing hosts.")

include(CPack)
