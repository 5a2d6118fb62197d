# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=... -DMAKE_PROGRAM=...
#       -DCXX=... -DBUILD_TYPE=... [-DTARGET_ARGUMENTS=...] -DLIBRARY_NAME=libkor_echo.so
#       [-DWINDOWS=1 -DOBJDUMP=...] -DNM=... [-DEMULATOR=wine-run|prefix] -DLOADER=...
#       -P consumer_builds.cmake
# Builds the out-of-tree project consumer/ against the installed runtime (out_of_tree_build.cmake),
# then checks that the plugin exports its entry alone (a DLL: and imports from Windows alone)
# and that a host loading it (LOADER, load_plugin.c, run through EMULATOR when given) finds its
# module and endpoint.
set(PROJECT_DIR ${SOURCE_DIR}/consumer)
set(PROJECT_LABEL consumer/)
include(${CMAKE_CURRENT_LIST_DIR}/out_of_tree_build.cmake)

set(LIBRARY ${project_build}/${LIBRARY_NAME})
set(ENTRY load_kor_echo)
if(WINDOWS)
  include(${SOURCE_DIR}/../geoinfo/dll_tables.cmake)
else()
  include(${SOURCE_DIR}/../geoinfo/exports_only_the_entry.cmake)
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
run("load ${LIBRARY}" ${emulator} ${LOADER} ${LIBRARY} load_kor_echo mdl-be-kor-echo
    /kor-echo/v1/echo)
