# The runtime as a kit: what `cmake --install <build> --prefix <dir>` puts under <dir> for
# plugins built outside this tree.
#
#   include/vexa/host_contract.h             the seam header
#   include/vexa/<folder>/...                each runtime library's public headers, so that
#                                            "runtime/app_module.h" reads as it does here
#   lib/libvexa_<folder>.a                   the runtime's static libraries
#   include/vexa/testing/test_host.h         the test host (Vexa::test_host), for plugins' tests
#   share/vexa/allocation_hooks.cpp          compiled into every plugin by vexa_add_plugin
#   share/vexa/examples/notes/               the starter plugin, a project of its own
#   lib/cmake/Vexa/                          the package: VexaConfig.cmake, its version file,
#                                            the imported targets, VexaPlugin.cmake
#   bin/vexa-host, lib/vexa/plugins/         the substitute host and the GeoInfo plugin, to run
#                                            a plugin beside (host/CMakeLists.txt; when built)
#
# find_package(Vexa CONFIG REQUIRED) then gives Vexa::runtime (every library below, C++20 and
# the include roots coming with it), a target per library (Vexa::value, ..., Vexa::test_host),
# Vexa::host_contract and vexa_add_plugin. The package is for the compiler and architecture it
# was built with: the libraries are linked into the plugin as they are. The tests are not part
# of it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VEXA_KIT_LIBRARIES vexa_platform vexa_util vexa_diagnostics vexa_value vexa_binding
                       vexa_codecs vexa_dispatch vexa_bridge vexa_runtime vexa_test_host)
set(VEXA_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vexa)

foreach(library IN LISTS VEXA_KIT_LIBRARIES)
  string(REGEX REPLACE "^vexa_" "" short ${library})
  set_target_properties(${library} PROPERTIES EXPORT_NAME ${short})
  get_target_property(folder ${library} VEXA_SOURCE_FOLDER)
  get_target_property(headers ${library} VEXA_PUBLIC_HEADERS)
  get_filename_component(folder_name ${folder} NAME)
  foreach(header IN LISTS headers)
    get_filename_component(subfolder ${header} DIRECTORY)
    install(FILES ${folder}/${header}
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexa/${folder_name}/${subfolder})
  endforeach()
endforeach()
set_target_properties(vexa_host_contract PROPERTIES EXPORT_NAME host_contract)

install(FILES ${PROJECT_SOURCE_DIR}/include/vexa/host_contract.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexa)
install(TARGETS ${VEXA_KIT_LIBRARIES} vexa_host_contract EXPORT VexaTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT VexaTargets NAMESPACE Vexa:: DESTINATION ${VEXA_PACKAGE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/runtime/allocation_hooks.cpp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vexa)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/notes
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vexa/examples)

set(VEXA_HOOKS_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/vexa)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VexaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/VexaConfig.cmake
  INSTALL_DESTINATION ${VEXA_PACKAGE_DIR}
  PATH_VARS VEXA_HOOKS_INSTALL_DIR)
# Versioned as the plugin API the runtime implements (runtime/plugin_version.h): asking for 18.0
# accepts any 18.x at or above it, never another major.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/VexaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/VexaConfig.cmake
              ${PROJECT_BINARY_DIR}/package/VexaConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/VexaPlugin.cmake
              ${CMAKE_CURRENT_LIST_DIR}/VexaPkgConfig.cmake
        DESTINATION ${VEXA_PACKAGE_DIR})
