# qcsdk_shared_library(<target> WINDOWS_NAME <name> [VERSION_SCRIPT <map>]):
# link settings of one of our shared libraries. On Linux a version script
# keeps the exports to the C interface; on Windows the library takes the DLL
# name its hosts load (<name>.dll, import library lib<name>.dll.a) and exports
# what its header marks for export.
function(qcsdk_shared_library target)
  cmake_parse_arguments(arg "" "WINDOWS_NAME;VERSION_SCRIPT" "" ${ARGN})
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
  if(WIN32)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${arg_WINDOWS_NAME} PREFIX "")
  elseif(arg_VERSION_SCRIPT)
    target_link_options(${target} PRIVATE -Wl,--version-script=${arg_VERSION_SCRIPT})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${arg_VERSION_SCRIPT})
  endif()
endfunction()
