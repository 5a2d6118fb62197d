# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=... -DMAKE_PROGRAM=...
#       -DCXX=... -DBUILD_TYPE=... -DNM=... -DLOADER=... -P consumer_builds.cmake
# The installed runtime as a plugin author meets it: installs the build tree BUILD_DIR into a
# fresh prefix under WORK_DIR, configures and builds the out-of-tree project consumer/ against
# it with the build's own compiler, then checks that the plugin exports its entry alone and that
# a host loading it (LOADER, load_plugin.c) finds its module and endpoint. Fails at the first
# step that does not work, with that step's output.
set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

# Runs the command after COMMAND; stops the test with `what` and its output when it fails.
function(run what)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
  message(STATUS "${what}: done")
endfunction()

run("install into ${prefix}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run("configure consumer/"
    ${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix})
run("build consumer/" ${CMAKE_COMMAND} --build ${consumer_build} -j2)

set(LIBRARY ${consumer_build}/libkor_echo.so)
set(ENTRY load_kor_echo)
include(${SOURCE_DIR}/../geoinfo/exports_only_the_entry.cmake)
run("load ${LIBRARY}" ${LOADER} ${LIBRARY} load_kor_echo mdl-be-kor-echo /kor-echo/v1/echo)
