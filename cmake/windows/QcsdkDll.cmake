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
set(QCSDK_MSVC_DEFS ${CMAKE_CURRENT_BINARY_DIR}/qcsdk.msvc.def ${CMAKE_CURRENT_BINARY_DIR}/qcsdk.exact.def)
math(EXPR QCSDK_POINTER_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
set(QCSDK_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/qcsdk/qcsdk.h
  ${QVBU_GEN_INCLUDE_DIR}/qcsdk/qcsdk_grpc.h)
add_custom_command(
  OUTPUT ${QCSDK_DEF} ${QCSDK_LINK_DEF} ${QCSDK_MSVC_DEFS}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/windows/exports_def.py
          --msvc ${QCSDK_MSVC_DEFS} ${QCSDK_DEF} ${QCSDK_LINK_DEF} qcsdk.dll ${QCSDK_POINTER_BITS} ${QCSDK_PUBLIC_HEADERS}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/windows/exports_def.py ${QCSDK_PUBLIC_HEADERS}
  COMMENT "Writing the export table of qcsdk.dll from the public headers"
  VERBATIM)
add_custom_target(qcsdk_def DEPENDS ${QCSDK_DEF} ${QCSDK_LINK_DEF})

# qcsdk.lib, the import library in the form hosts built with Microsoft's
# toolchain link (32-bit only; written when the LLVM tools are installed):
# llvm-dlltool writes the imports that ask the DLL for the plain
# names, lld-link the one export kept decorated, llvm-lib joins the two.
find_program(QCSDK_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
find_program(QCSDK_LLD_LINK NAMES lld-link lld-link-14)
find_program(QCSDK_LLVM_LIB NAMES llvm-lib llvm-lib-14)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND QCSDK_LLVM_DLLTOOL AND QCSDK_LLD_LINK AND QCSDK_LLVM_LIB)
  set(QCSDK_MSVC_LIB ${CMAKE_CURRENT_BINARY_DIR}/qcsdk.lib)
endif()

# qcsdk_dll_exports(<target>): links <target> with the generated export table
# and replaces the linker's import library with dlltool's.
function(qcsdk_dll_exports target)
  target_sources(${target} PRIVATE ${QCSDK_LINK_DEF})
  add_dependencies(${target} qcsdk_def)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${QCSDK_DLLTOOL} -d ${QCSDK_DEF} -D $<TARGET_FILE_NAME:${target}>
            -l $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
  if(QCSDK_MSVC_LIB)
    list(GET QCSDK_MSVC_DEFS 0 names_def)
    list(GET QCSDK_MSVC_DEFS 1 exact_def)
    set(dir ${CMAKE_CURRENT_BINARY_DIR})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${QCSDK_LLVM_DLLTOOL} -m i386 --kill-at -d ${names_def} -l ${dir}/qcsdk.names.lib
      COMMAND ${QCSDK_LLD_LINK} /nologo /machine:x86 /def:${exact_def}
              /out:${dir}/qcsdk.exact.dll /implib:${dir}/qcsdk.exact.lib
      COMMAND ${QCSDK_LLVM_LIB} /out:${QCSDK_MSVC_LIB} ${dir}/qcsdk.names.lib ${dir}/qcsdk.exact.lib
      VERBATIM)
  endif()
endfunction()
