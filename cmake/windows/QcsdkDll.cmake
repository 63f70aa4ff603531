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
