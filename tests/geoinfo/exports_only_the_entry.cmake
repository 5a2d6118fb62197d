# cmake -DNM=nm -DLIBRARY=libkor_geoinfo.so [-DENTRY=load_kor_geoinfo] -P exports_only_the_entry.cmake
# Fails unless the dynamic symbol table of LIBRARY defines ENTRY (load_kor_geoinfo unless
# given) and nothing else.
if(NOT ENTRY)
  set(ENTRY load_kor_geoinfo)
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${errors}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL ENTRY)
  message(FATAL_ERROR "${LIBRARY} must define ${ENTRY} alone; it defines:\n${symbols}")
endif()
message(STATUS "${LIBRARY} defines ${ENTRY} alone")
