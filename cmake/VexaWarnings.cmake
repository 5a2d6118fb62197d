# Project-wide compiler settings, applied to every target through vexa_options.
add_library(vexa_options INTERFACE)
target_compile_options(vexa_options INTERFACE -Wall -Wextra -Wpedantic)
# g++ 12 at -O3 reports string concatenations such as "(" + std::to_string(n) as overlapping
# copies (a known false positive of that release); the warning stays on for other compilers.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(vexa_options INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()
if(VEXA_WERROR)
  target_compile_options(vexa_options INTERFACE -Werror)
endif()
if(VEXA_SANITIZE)
  target_compile_options(vexa_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(vexa_options INTERFACE -fsanitize=address,undefined)
endif()
# ThreadSanitizer: every target of ours is instrumented; the packaged libraries are not, which
# is sound as long as they synchronise through the pthread calls the runtime intercepts.
if(VEXA_TSAN)
  if(VEXA_SANITIZE)
    message(FATAL_ERROR "VEXA_TSAN and VEXA_SANITIZE exclude each other: one sanitizer runtime")
  endif()
  target_compile_options(vexa_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(vexa_options INTERFACE -fsanitize=thread)
endif()
# The fuzz build (clang only): every library is instrumented for libFuzzer's coverage and
# checked by both sanitizers; the fuzz targets in fuzz/ add libFuzzer's main when they link.
# Asserts stay on (the preset's flags leave NDEBUG out). fuzz/ubsan.ignore keeps one known
# fault of the packaged RapidJSON out of the findings; it says which and why.
if(VEXA_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VEXA_BUILD_FUZZ needs clang (libFuzzer): use the fuzz preset")
  endif()
  target_compile_options(vexa_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer -fsanitize-ignorelist=${PROJECT_SOURCE_DIR}/fuzz/ubsan.ignore
    # RapidJSON 1.1's member iterators declare == and != in a way that C++20's reversed
    # comparisons make ambiguous; clang warns at every comparison of ours, g++ does not.
    -Wno-ambiguous-reversed-operator)
  target_link_options(vexa_options INTERFACE -fsanitize=address,undefined)
endif()

# The C seam with the host: the one header every side of it may include.
add_library(vexa_host_contract INTERFACE)
target_include_directories(vexa_host_contract INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)

# vexa_add_library(name sources... [DEPS libs...]): one static library per source folder.
# Includes are written from src/ ("value/property.h"), yet a library must see only its own
# headers and those of the libraries it links, so that the build, not a convention, keeps the
# layering. Each folder therefore gets an include root of its own in the build tree, holding a
# folder named after it with one link per public header; linking a library is what brings its
# root into view. A header named *_internal.h, or anything under an internal/ folder, has no
# link there: it is reachable only through the library's own root, which links the whole folder
# and which the library keeps to itself (tests of the library may ask for it: vexa_add_test's
# INTERNALS). A public header therefore never includes an internal one.
#
# Installed (cmake/VexaInstall.cmake), the public headers of every folder sit together under
# include/vexa/<folder>/, and include/vexa is the include root of each library: a plugin built
# against the installed runtime writes the same includes as one built here. The headers are
# kept on the library (VEXA_PUBLIC_HEADERS, relative to VEXA_SOURCE_FOLDER) for that. The
# project's warnings and sanitizer options (vexa_options) are the build's own and stay behind.
function(vexa_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)

  # The public root, rebuilt at every configuration so that a removed header loses its link.
  # REMOVE_RECURSE removes links without following them.
  set(root ${CMAKE_BINARY_DIR}/include_roots/${folder})
  file(REMOVE_RECURSE ${root})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(public_headers "")
  foreach(header IN LISTS headers)
    if(header MATCHES "_internal\\.h$" OR header MATCHES "(^|/)internal/")
      continue()
    endif()
    list(APPEND public_headers ${header})
    get_filename_component(subfolder ${root}/${folder}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${subfolder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${folder}/${header} SYMBOLIC)
  endforeach()

  # The library's own root: every header of the folder.
  set(own_root ${CMAKE_BINARY_DIR}/include_roots_internal/${folder})
  file(MAKE_DIRECTORY ${own_root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${own_root}/${folder} SYMBOLIC)
  set_target_properties(${name} PROPERTIES
    VEXA_INTERNAL_ROOT ${own_root}
    VEXA_SOURCE_FOLDER ${CMAKE_CURRENT_SOURCE_DIR}
    VEXA_PUBLIC_HEADERS "${public_headers}")

  target_include_directories(${name} PRIVATE ${own_root}
    INTERFACE $<BUILD_INTERFACE:${root}> $<INSTALL_INTERFACE:include/vexa>)
  target_compile_features(${name} PUBLIC cxx_std_20)
  target_link_libraries(${name} PUBLIC $<BUILD_INTERFACE:vexa_options> ${ARG_DEPS})
endfunction()
