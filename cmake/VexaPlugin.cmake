# vexa_add_plugin: a plugin library of the platform, built the one way every plugin is built.
# Used here for kor_geoinfo and shipped in the installed package (lib/cmake/Vexa), where
# find_package(Vexa CONFIG) brings it in for plugins built outside this tree.
#
#   vexa_add_plugin(kor_echo ENTRY load_kor_echo
#                   SOURCES echo_module.cpp entry.cpp
#                   [LIBRARIES more libraries the plugin links...])
#
# The library is shared and shows a host its entry alone: everything is compiled hidden
# (inlines included), and on Linux a version script written here from ENTRY keeps every other
# symbol, the statically linked C++ runtime's among them, local. On Windows it is <name>.dll,
# without the lib prefix, and its export table holds what is marked for export, the entry
# alone (VEXA_PLUGIN_EXPORT in vexa/host_contract.h; --exclude-all-symbols keeps mingw from
# exporting the rest).
#
# It counts its own allocations and no one else's: the runtime's allocation hooks are
# compiled into it, with the --wrap options that route the C allocation calls of every object
# linked in through them, and replacement operator new and delete. For those to see every C++
# allocation the plugin makes, libstdc++ and libgcc are linked in statically on Linux (a shared
# libstdc++ would allocate its own strings and buffers through the process's operator new); the
# version script keeps all of it local, so the host's allocator is never replaced. The mingw
# toolchain links them statically already.
#
# The runtime is Vexa::runtime: the imported target of the installed package, or, in this
# tree, the alias of vexa_runtime. The hooks' source is named by that target's
# VEXA_ALLOCATION_HOOKS_SOURCE property, so it is found wherever the function is called from.

# The linker options that route the C allocation calls through the hooks (__wrap_malloc and
# the others in runtime/allocation_hooks.cpp), into `out`. Windows' C runtime has neither
# strndup nor aligned_alloc.
function(vexa_allocation_wrap_options out)
  set(options -Wl,--wrap=malloc,--wrap=calloc,--wrap=realloc,--wrap=free,--wrap=strdup)
  if(NOT WIN32)
    list(APPEND options -Wl,--wrap=strndup,--wrap=aligned_alloc)
  endif()
  set(${out} ${options} PARENT_SCOPE)
endfunction()

function(vexa_add_plugin name)
  cmake_parse_arguments(ARG "" "ENTRY" "SOURCES;LIBRARIES" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vexa_add_plugin(${name}): unexpected arguments ${ARG_UNPARSED_ARGUMENTS}"
                        " (sources follow SOURCES)")
  endif()
  if(NOT ARG_ENTRY MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
    message(FATAL_ERROR "vexa_add_plugin(${name}): ENTRY must name the exported C function, "
                        "such as load_kor_echo; got '${ARG_ENTRY}'")
  endif()
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "vexa_add_plugin(${name}): no SOURCES")
  endif()
  if(NOT TARGET Vexa::runtime)
    message(FATAL_ERROR "vexa_add_plugin(${name}): Vexa::runtime is not defined here; "
                        "call find_package(Vexa CONFIG REQUIRED) first")
  endif()
  get_target_property(hooks Vexa::runtime VEXA_ALLOCATION_HOOKS_SOURCE)
  if(NOT hooks OR NOT EXISTS "${hooks}")
    message(FATAL_ERROR "vexa_add_plugin(${name}): the runtime's allocation hooks source "
                        "(${hooks}) is missing")
  endif()

  add_library(${name} SHARED ${ARG_SOURCES} ${hooks})
  target_link_libraries(${name} PRIVATE Vexa::runtime ${ARG_LIBRARIES})
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  vexa_allocation_wrap_options(wrap_options)
  target_link_options(${name} PRIVATE ${wrap_options})

  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "")
    target_link_options(${name} PRIVATE -Wl,--exclude-all-symbols)
  else()
    # Written only when its text changes, so an unchanged plugin is not linked again.
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
    file(CONFIGURE OUTPUT ${map} CONTENT
"/* Written by vexa_add_plugin: ${name} exports its entry alone; everything else, the
   replacement operator new and delete and the statically linked C++ runtime included, stays
   local to the library. */
{
  global: ${ARG_ENTRY};
  local: *;
};
" @ONLY)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${map})
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${map}
      -Wl,--no-undefined
      -static-libstdc++ -static-libgcc)
  endif()
endfunction()
