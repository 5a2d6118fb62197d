# The Windows build's libraries, made from Debian's packages and nothing else. Sourced by the
# scripts after packages.sh.
#
# libyaml is cross-built from Debian's source package (apt-get source, which needs a deb-src
# line: added when missing) with the project's mingw toolchain, as a static library: the DLL
# then carries it and a host needs no second DLL beside it. RapidJSON is headers only; the
# build reads Debian's through a folder that holds rapidjson/ alone, because the rest of
# /usr/include is Linux's and must stay out of a Windows build's search path.
#
# The host's libraries come the same way: cpp-httplib's whole header (Debian's installed one
# is the declarations of the split form only), libmaxminddb built with its own CMake, and
# libGeoIP, whose source package has no configure script: its library's six C files are
# compiled as its Makefile.vc does, with the Debian data folder as the default one.
#
# Everything lands in build/windows-deps (the windows preset's VEXA_WINDOWS_DEPS), made once.

windows_deps_prefix=build/windows-deps
windows_deb_src_list=/etc/apt/sources.list.d/vexa-deb-src.sources

# A deb-src line for the release the machine runs, so that apt-get source finds libyaml.
ensure_deb_src_line() {
  if grep -rqs "^Types:.*deb-src\|^deb-src " /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  [ "$(id -u)" = 0 ] || { echo "add a deb-src line to apt's sources as root first" >&2; return 1; }
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  cat >"$windows_deb_src_list" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  refresh_package_lists
}

ensure_windows_dependencies() {
  local prefix=$PWD/$windows_deps_prefix
  if [ ! -e "$prefix/include/rapidjson" ]; then
    mkdir -p "$prefix/include"
    ln -s /usr/include/rapidjson "$prefix/include/rapidjson"
  fi
  [ -f "$prefix/lib/libyaml.a" ] || windows_build_cmake_source libyaml "$prefix" || return 1
  [ -f "$prefix/lib/libmaxminddb.a" ] ||
    windows_build_cmake_source libmaxminddb "$prefix" -DBUILD_TESTING=OFF || return 1
  [ -f "$prefix/include/httplib.h" ] || windows_copy_httplib "$prefix" || return 1
  [ -f "$prefix/lib/libGeoIP.a" ] || windows_build_geoip "$prefix" || return 1
}

# Unpacks Debian's source package $1 into a new folder and prints the source tree's path.
windows_unpack_source() {
  local package=$1 work=$2
  (cd "$work" && apt-get source -qq "$package" >/dev/null 2>&1) ||
    { echo "apt-get source $package failed" >&2; return 1; }
  find "$work" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1
}

# windows_build_cmake_source <package> <prefix> [cmake options...]: a static library.
windows_build_cmake_source() {
  local package=$1 prefix=$2
  shift 2
  ensure_deb_src_line
  echo "== building $package for Windows from Debian's source package"
  local work source
  work=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$work'" RETURN
  source=$(windows_unpack_source "$package" "$work") || return 1
  cmake -S "$source" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@" \
    -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$work/build" -j2 >/dev/null
  cmake --install "$work/build" >/dev/null
}

windows_copy_httplib() {
  local prefix=$1
  ensure_deb_src_line
  echo "== taking cpp-httplib's header from Debian's source package"
  local work source
  work=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$work'" RETURN
  source=$(windows_unpack_source cpp-httplib "$work") || return 1
  install -m 644 "$source/httplib.h" "$prefix/include/httplib.h"
}

windows_build_geoip() {
  local prefix=$1
  ensure_deb_src_line
  echo "== building libGeoIP for Windows from Debian's source package"
  local work source version
  work=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$work'" RETURN
  source=$(windows_unpack_source geoip "$work") || return 1
  version=${source##*/geoip-}
  local file objects=()
  for file in GeoIP GeoIPCity GeoIP_deprecated regionName timeZone pread; do
    i686-w64-mingw32-gcc-posix -O2 -std=gnu11 -DHAVE_STDINT_H \
      -DGEOIPDATADIR='"/usr/share/GeoIP"' -DPACKAGE_VERSION="\"$version\"" \
      -I"$source/libGeoIP" -c "$source/libGeoIP/$file.c" -o "$work/$file.o" || return 1
    objects+=("$work/$file.o")
  done
  mkdir -p "$prefix/lib" "$prefix/include"
  i686-w64-mingw32-ar rcs "$prefix/lib/libGeoIP.a" "${objects[@]}"
  install -m 644 "$source/libGeoIP/GeoIP.h" "$source/libGeoIP/GeoIPCity.h" "$prefix/include/"
}
