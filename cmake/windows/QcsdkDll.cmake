# qcsdk.dll: its export table comes from a module-definition file written at
# build time from the public headers (cmake/windows/exports_def.py), so that
# the standard-call exports carry their plain names while a host compiled
# against the headers links them through libqcsdk.dll.a by the decorated ones.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QCSDK_DEF ${CMAKE_CURRENT_BINARY_DIR}/qcsdk.def)
math(EXPR QCSDK_POINTER_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
set(QCSDK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/qcsdk/qcsdk.h
  ${QVBU_GEN_INCLUDE_DIR}/qcsdk/qcsdk_grpc.h)
add_custom_command(
  OUTPUT ${QCSDK_DEF}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/windows/exports_def.py
          ${QCSDK_DEF} qcsdk.dll ${QCSDK_POINTER_BITS} ${QCSDK_PUBLIC_HEADERS}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/windows/exports_def.py ${QCSDK_PUBLIC_HEADERS}
  COMMENT "Writing the export table of qcsdk.dll from the public headers"
  VERBATIM)
add_custom_target(qcsdk_def DEPENDS ${QCSDK_DEF})

# qcsdk_dll_exports(<target>): links <target> with the generated export table.
function(qcsdk_dll_exports target)
  target_sources(${target} PRIVATE ${QCSDK_DEF})
  add_dependencies(${target} qcsdk_def)
endfunction()

# Until the Win32 system seam exists, a Windows build compiles what of the
# SDK does not depend on it (the record sizes of a 32-bit build are asserted
# there) and writes the export table. Left out: the files that digest with
# libcrypto and the OKIP service's use of rand_r.
function(qcsdk_win32_compile_check)
  set(sources ${QCSDK_CORE_SOURCES})
  list(FILTER sources EXCLUDE REGEX "(grpc_envelope|cfg_digest|okip)\\.cpp$")
  add_library(qcsdk_win32_check OBJECT ${sources} platform/bindings.cpp ${QCSDK_BINDINGS}
    ${QVBU_GEN_SOURCES})
  add_dependencies(qcsdk_win32_check qvbu_generated qcsdk_def)
  target_include_directories(qcsdk_win32_check PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/include ${QVBU_GEN_INCLUDE_DIR})
  target_compile_definitions(qcsdk_win32_check PRIVATE QCSDK_BUILDING)
  target_link_libraries(qcsdk_win32_check PRIVATE qvsp_api qp_api qvc_api octc_api
    PkgConfig::CJSON)
  qcsdk_warnings(qcsdk_win32_check)
endfunction()
