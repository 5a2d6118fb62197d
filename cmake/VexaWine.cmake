# Running the Windows build's programs on this Linux machine: every test executable goes
# through scripts/lib/wine-run with a wine prefix of the build folder's own, which is made here,
# once, so that the suites never race to make it.
find_program(VEXA_WINE wine REQUIRED)
set(VEXA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/lib/wine-run ${VEXA_WINE_PREFIX})
if(NOT EXISTS ${VEXA_WINE_PREFIX}/system.reg)
  message(STATUS "Making the wine prefix ${VEXA_WINE_PREFIX}")
  execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
                  RESULT_VARIABLE wineboot_result OUTPUT_QUIET ERROR_QUIET)
  if(NOT wineboot_result EQUAL 0)
    message(FATAL_ERROR "wineboot could not make ${VEXA_WINE_PREFIX}")
  endif()
endif()
