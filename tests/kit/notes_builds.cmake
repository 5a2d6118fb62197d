# cmake -DBUILD_DIR=... -DWORK_DIR=... -DGENERATOR=... -DMAKE_PROGRAM=... -DCXX=...
#       -DBUILD_TYPE=... -P notes_builds.cmake
# The starter plugin as its author builds it: the copy installed with the runtime
# (share/vexa/examples/notes) built out of tree against it (out_of_tree_build.cmake), and the
# example's own tests run there, which use the installed test host. The plugin it leaves in
# WORK_DIR/build is what Kit.NotesThroughVexaHost loads.
set(PROJECT_DIR ${WORK_DIR}/prefix/share/vexa/examples/notes)
set(PROJECT_LABEL "the installed examples/notes")
include(${CMAKE_CURRENT_LIST_DIR}/out_of_tree_build.cmake)

# The example's tests need GoogleTest: without it they would silently not exist.
run("the example's tests" ${CMAKE_CTEST_COMMAND} --test-dir ${project_build} --no-tests=error
    --output-on-failure)
