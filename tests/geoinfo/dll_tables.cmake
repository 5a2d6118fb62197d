# cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=kor_geoinfo.dll [-DENTRY=load_kor_geoinfo]
#       -P dll_tables.cmake
# Fails unless the DLL's export table names ENTRY (load_kor_geoinfo unless given) alone, undecorated (a __cdecl
# entry: no leading underscore, no @size), and unless it imports from Windows' own kernel and C
# runtime alone: a mingw runtime DLL (libstdc++, libgcc, winpthreads) or libyaml's would be
# missing on the machines the platform runs on, and the tracing service is looked up at run
# time, never imported.
if(NOT ENTRY)
  set(ENTRY load_kor_geoinfo)
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
                OUTPUT_VARIABLE tables ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}: ${errors}")
endif()

# The export names follow the "[Ordinal/Name Pointer] Table" heading, one "[   n] name" a line.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[[ 0-9]+\\] [^\n]+\n)*)"
       ignored "${tables}")
string(REGEX MATCHALL "\\] [^\n]+" exports "${CMAKE_MATCH_1}")
list(TRANSFORM exports REPLACE "^\\] " "")
if(NOT exports STREQUAL ENTRY)
  message(FATAL_ERROR "${LIBRARY} must export ${ENTRY} alone; it exports: ${exports}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${tables}")
list(TRANSFORM imports REPLACE "^DLL Name: " "")
list(TRANSFORM imports TOLOWER)
list(SORT imports)
if(NOT imports STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "${LIBRARY} must import from KERNEL32.dll and msvcrt.dll alone; "
                      "it imports from: ${imports}")
endif()
message(STATUS "${LIBRARY} exports ${ENTRY} alone and imports ${imports}")
