# QCSDK_SANITIZE="address;undefined" or "thread" instruments every target.
if(QCSDK_SANITIZE)
  list(JOIN QCSDK_SANITIZE "," _qcsdk_san)
  add_compile_options(-fsanitize=${_qcsdk_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${_qcsdk_san})
endif()
