# The Windows build's libraries, made from Debian's packages and nothing else. Sourced by the
# scripts after packages.sh.
#
# libyaml is cross-built from Debian's source package (apt-get source, which needs a deb-src
# line: added when missing) with the project's mingw toolchain, as a static library: the DLL
# then carries it and a host needs no second DLL beside it. RapidJSON is headers only; the
# build reads Debian's through a folder that holds rapidjson/ alone, because the rest of
# /usr/include is Linux's and must stay out of a Windows build's search path.
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
  [ -f "$prefix/lib/libyaml.a" ] && return 0

  ensure_deb_src_line
  echo "== building libyaml for Windows from Debian's source package"
  local work
  work=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder is known now
  trap "rm -rf '$work'" RETURN
  (cd "$work" && apt-get source -qq libyaml >/dev/null 2>&1) ||
    { echo "apt-get source libyaml failed" >&2; return 1; }
  local source
  source=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libyaml-*' | head -n 1)
  cmake -S "$source" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
}
