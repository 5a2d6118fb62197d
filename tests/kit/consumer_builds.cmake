# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=... -DMAKE_PROGRAM=...
#       -DCXX=... -DBUILD_TYPE=... -DNM=... -DLOADER=... -P consumer_builds.cmake
# Builds the out-of-tree project consumer/ against the installed runtime (out_of_tree_build.cmake),
# then checks that the plugin exports its entry alone and that a host loading it (LOADER,
# load_plugin.c) finds its module and endpoint.
set(PROJECT_DIR ${SOURCE_DIR}/consumer)
set(PROJECT_LABEL consumer/)
include(${CMAKE_CURRENT_LIST_DIR}/out_of_tree_build.cmake)

set(LIBRARY ${project_build}/libkor_echo.so)
set(ENTRY load_kor_echo)
include(${SOURCE_DIR}/../geoinfo/exports_only_the_entry.cmake)
run("load ${LIBRARY}" ${LOADER} ${LIBRARY} load_kor_echo mdl-be-kor-echo /kor-echo/v1/echo)
