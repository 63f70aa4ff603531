# Script mode: see CMakeLists.txt beside it.
file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component runtime)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component dev)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component tools)

# The tools start from the prefix with an empty environment: their run path finds the libraries.
foreach(tool qcctl qcsdk-vdevice qcrtsp)
  if(tool STREQUAL "qcrtsp" AND NOT EXISTS ${prefix}/bin/qcrtsp)
    continue()  # built only where GStreamer's RTSP server library is installed
  endif()
  run(env -i ${prefix}/bin/${tool} --help)
  if(NOT last_output MATCHES "usage")
    message(FATAL_ERROR "${tool} --help printed no usage:\n${last_output}")
  endif()
endforeach()

# pkg-config
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(pkg-config --cflags --libs qcsdk)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
# As the README says: a run path to the .pc file's libdir, no LD_LIBRARY_PATH.
run(pkg-config --variable=libdir qcsdk)
string(STRIP "${last_output}" libdir)
run(${CC} -std=c99 -o ${SCRATCH}/c_host_pc ${HOST_SOURCE} ${flags} -Wl,-rpath,${libdir})
run(env -i ${SCRATCH}/c_host_pc)

# find_package
run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${SCRATCH}/consumer -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DHOST_SOURCE=${HOST_SOURCE})
run(${CMAKE_COMMAND} --build ${SCRATCH}/consumer)
run(${SCRATCH}/consumer/c_host)
