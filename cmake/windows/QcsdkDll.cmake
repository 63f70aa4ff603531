# qcsdk.dll: its export table comes from module-definition files written at
# build time from the public headers (cmake/windows/exports_def.py), so that
# the standard-call exports carry their plain names while a host compiled
# against the headers links them through libqcsdk.dll.a by the decorated ones.
# The DLL is linked with qcsdk.link.def (export table sorted by the plain
# names); the import library is then written by dlltool from qcsdk.def.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(QCSDK_DLLTOOL ${QCSDK_MINGW_TRIPLE}-dlltool REQUIRED)
set(QCSDK_DEF ${CMAKE_CURRENT_BINARY_DIR}/qcsdk.def)
set(QCSDK_LINK_DEF ${CMAKE_CURRENT_BINARY_DIR}/qcsdk.link.def)
math(EXPR QCSDK_POINTER_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
set(QCSDK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/qcsdk/qcsdk.h
  ${QVBU_GEN_INCLUDE_DIR}/qcsdk/qcsdk_grpc.h)
add_custom_command(
  OUTPUT ${QCSDK_DEF} ${QCSDK_LINK_DEF}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/windows/exports_def.py
          ${QCSDK_DEF} ${QCSDK_LINK_DEF} qcsdk.dll ${QCSDK_POINTER_BITS} ${QCSDK_PUBLIC_HEADERS}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/windows/exports_def.py ${QCSDK_PUBLIC_HEADERS}
  COMMENT "Writing the export table of qcsdk.dll from the public headers"
  VERBATIM)
add_custom_target(qcsdk_def DEPENDS ${QCSDK_DEF} ${QCSDK_LINK_DEF})

# qcsdk_dll_exports(<target>): links <target> with the generated export table
# and replaces the linker's import library with dlltool's.
function(qcsdk_dll_exports target)
  target_sources(${target} PRIVATE ${QCSDK_LINK_DEF})
  add_dependencies(${target} qcsdk_def)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${QCSDK_DLLTOOL} -d ${QCSDK_DEF} -D $<TARGET_FILE_NAME:${target}>
            -l $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
endfunction()
