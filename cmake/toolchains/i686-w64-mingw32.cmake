# Cross-compiling for 32-bit Windows with Debian's mingw-w64, posix thread model: the only one
# of gcc 12's two in which std::thread and std::mutex exist.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VEXA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXA_MINGW_TRIPLE}-windres)

# Every program and library carries its C++ runtime, libgcc and winpthreads: the mingw DLLs of
# them are on no Windows machine (and on no wine path), so nothing may need them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Libraries and headers come from the mingw sysroot and from VEXA_WINDOWS_DEPS, the prefix
# into which scripts/lib/windows-deps.sh builds libyaml and links RapidJSON's headers; programs
# come from the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${VEXA_MINGW_TRIPLE})
if(VEXA_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VEXA_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
