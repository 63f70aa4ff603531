# QCSDK_COVERAGE=ON instruments every target for gcov; ./scripts/coverage
# runs the suite and reports the lines of src/ and libs/ it reached.
if(QCSDK_COVERAGE)
  add_compile_options(--coverage -fprofile-update=atomic)
  add_link_options(--coverage)
endif()
