# cmake -DBUILD_DIR=... -DWORK_DIR=... -DEXAMPLE_DIR=... -DGENERATOR=... -DMAKE_PROGRAM=...
#       -DCXX=... -DBUILD_TYPE=... -P notes_builds.cmake
# The starter plugin as its author builds it: installs the build tree BUILD_DIR into a fresh
# prefix under WORK_DIR, configures and builds examples/notes (EXAMPLE_DIR) against it out of
# tree into WORK_DIR/build, and runs the example's own tests there, which use the installed test
# host. The plugin it leaves in WORK_DIR/build is what Kit.NotesThroughVexaHost loads. Fails at
# the first step that does not work, with that step's output.
set(prefix ${WORK_DIR}/prefix)
set(example_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

# Runs the command after `what`; stops the test with `what` and its output when it fails.
function(run what)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
  message(STATUS "${what}: done")
endfunction()

run("install into ${prefix}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run("configure examples/notes"
    ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${example_build} -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix})
run("build examples/notes" ${CMAKE_COMMAND} --build ${example_build} -j2)
# The example's tests need GoogleTest: without it they would silently not exist.
run("the example's tests" ${CMAKE_CTEST_COMMAND} --test-dir ${example_build} --no-tests=error
    --output-on-failure)
