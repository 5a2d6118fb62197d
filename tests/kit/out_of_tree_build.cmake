# Included by the kit's test scripts: the installed runtime as a plugin author meets it. Installs
# the build tree BUILD_DIR into a fresh prefix under WORK_DIR, then configures and builds the
# out-of-tree project PROJECT_DIR (PROJECT_LABEL in messages) against it into `project_build`
# (WORK_DIR/build) with the build's own compiler (GENERATOR, MAKE_PROGRAM, CXX, BUILD_TYPE) and
# the arguments that configure it for the build's target (TARGET_ARGUMENTS, "|" between them,
# @PREFIX@ standing for the prefix).
# `run(what COMMAND...)` stops the test at the first step that does not work, with its output.
set(prefix ${WORK_DIR}/prefix)
set(project_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
  message(STATUS "${what}: done")
endfunction()

run("install into ${prefix}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
string(REPLACE "|" ";" target_arguments "${TARGET_ARGUMENTS}")
string(REPLACE "@PREFIX@" "${prefix}" target_arguments "${target_arguments}")
run("configure ${PROJECT_LABEL}"
    ${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${project_build} -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix} ${target_arguments})
run("build ${PROJECT_LABEL}" ${CMAKE_COMMAND} --build ${project_build} -j2)
