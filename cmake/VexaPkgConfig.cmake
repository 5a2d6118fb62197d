# pkg-config for the target architecture. pkg-config's default search path is the build
# machine's own architecture: a multiarch build for another one (the i386 preset sets
# CMAKE_LIBRARY_ARCHITECTURE to i386-linux-gnu) must read that architecture's .pc files
# instead, or it would link the native libraries. Unless the caller chose a pkg-config path,
# point it at the target architecture's directory. Every library found through pkg_check_modules
# after this include gets the right architecture.
find_package(PkgConfig REQUIRED)
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED ENV{PKG_CONFIG_LIBDIR}
   AND NOT DEFINED ENV{PKG_CONFIG_PATH})
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --variable pc_path pkg-config
                  OUTPUT_VARIABLE VEXA_PKG_CONFIG_DEFAULT_PATH OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT VEXA_PKG_CONFIG_DEFAULT_PATH MATCHES "/${CMAKE_LIBRARY_ARCHITECTURE}/")
    set(ENV{PKG_CONFIG_LIBDIR}
        "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig:/usr/share/pkgconfig")
  endif()
endif()
