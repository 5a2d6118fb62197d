# Project-wide compiler settings, applied to every target through vexa_options.
add_library(vexa_options INTERFACE)
target_compile_options(vexa_options INTERFACE -Wall -Wextra -Wpedantic)
if(VEXA_WERROR)
  target_compile_options(vexa_options INTERFACE -Werror)
endif()
if(VEXA_SANITIZE)
  target_compile_options(vexa_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(vexa_options INTERFACE -fsanitize=address,undefined)
endif()

# vexa_add_library(name sources... [DEPS libs...]): one static library per source folder,
# with includes rooted at src/ and the public C seam under include/.
function(vexa_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC vexa_options ${ARG_DEPS})
endfunction()
