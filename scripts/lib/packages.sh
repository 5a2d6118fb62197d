# Debian packages each build variant needs, installed on demand. Sourced by the scripts.

# The plugin's own dependencies, then the substitute host's (HTTP, GeoIP libraries and data),
# then the test and benchmark tools and the benchmarks' anchors.
host_packages=(libcpp-httplib-dev libgeoip-dev geoip-database libmaxminddb-dev)
native_packages=(cmake ninja-build g++ pkg-config rapidjson-dev libyaml-dev
  "${host_packages[@]}" libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libmsgpack-dev libyaml-cpp-dev wrk)
# The i386 build compiles GoogleTest from Debian's sources and builds no benchmarks.
i386_packages=(cmake ninja-build g++ g++-multilib pkg-config rapidjson-dev libyaml-dev:i386
  googletest)
# The Windows build: mingw-w64's i686 compilers (the posix thread model is one package of
# them), wine to run what they build, and the sources the Windows libraries are made from:
# GoogleTest's here, libyaml's and the host's libraries' by apt-get source (dpkg-dev unpacks
# them; windows-deps.sh); the host's GeoIP data, and curl, with which its test asks it.
windows_packages=(cmake ninja-build g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32:i386
  rapidjson-dev googletest dpkg-dev geoip-database curl)
sanitize_packages=(cmake ninja-build g++ pkg-config rapidjson-dev libyaml-dev
  "${host_packages[@]}" libgtest-dev libgmock-dev googletest)
# ThreadSanitizer's runtime comes with g++; named so that a trimmed install still has it.
tsan_packages=("${sanitize_packages[@]}" libtsan2)
# The fuzz targets: clang with libFuzzer (its runtime and FuzzedDataProvider.h are in
# libclang-rt-dev), over the same libraries as the plugin and the host.
fuzz_packages=(cmake ninja-build clang libclang-rt-dev pkg-config rapidjson-dev libyaml-dev
  "${host_packages[@]}")
# The console's test drives a real headless browser with Debian's Selenium. The native run can
# do without them (that test then skips and says why), so they are installed on a best-effort
# basis: where they cannot be (no root, apt failing), a warning and the run goes on.
browser_packages=(chromium chromium-driver python3-selenium)

missing_packages() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      echo "$package"
  done
}

# apt-get update can fail on one index (a mirror mid-sync) while the rest is usable, so a
# failed update is retried once and then left to the install step to judge.
refresh_package_lists() {
  apt-get update -qq || { sleep 5; apt-get update -qq; } ||
    echo "warning: apt-get update reported errors; trying the install anyway" >&2
}

install_packages() {
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: $* (install them as root, or run this script as root)" >&2
    return 1
  fi
  echo "== installing: $*"
  refresh_package_lists
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

ensure_i386_architecture() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  [ "$(id -u)" = 0 ] || { echo "enable the i386 architecture as root first" >&2; return 1; }
  dpkg --add-architecture i386
  refresh_package_lists
}

ensure_packages_for() {
  local variant=$1 list
  case "$variant" in
    native) list=("${native_packages[@]}") ;;
    sanitize) list=("${sanitize_packages[@]}") ;;
    tsan) list=("${tsan_packages[@]}") ;;
    fuzz) list=("${fuzz_packages[@]}") ;;
    # wine runs 32-bit Windows programs with i386 libraries, as the i386 build links them.
    i386) ensure_i386_architecture && list=("${i386_packages[@]}") ;;
    windows) ensure_i386_architecture && list=("${windows_packages[@]}") ;;
  esac
  local missing
  missing=$(missing_packages "${list[@]}")
  # shellcheck disable=SC2086 # one package name per word
  install_packages $missing
}

# What only the tests need, beside the native build's packages: the browser and the OpenAPI
# validator. The programs (scripts/run, scripts/bench) do without them.
ensure_test_tools() {
  ensure_optional_packages "${browser_packages[@]}"
  ensure_openapi_validator
}

# Packages whose tests skip without them: one that cannot be installed only warns.
ensure_optional_packages() {
  local missing
  missing=$(missing_packages "$@")
  [ -n "$missing" ] || return 0
  # shellcheck disable=SC2086 # one package name per word
  install_packages $missing ||
    echo "warning: could not install" $missing "- the tests that need them skip" >&2
}

# The OpenAPI validator of the host's suites (tests/host/openapi: npm packages pinned by its
# lock file and validate.mjs), installed into build/node/openapi; Node and npm come from Debian
# where missing. A failure only warns: the one test that needs it then skips. validate.mjs is
# copied every time, the packages installed again only when the lock file changed.
ensure_openapi_validator() {
  local source=tests/host/openapi target=build/node/openapi
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    install_packages nodejs npm ||
      { echo "warning: no node or npm; the OpenAPI validation test will skip" >&2; return 0; }
  fi
  mkdir -p "$target"
  cp "$source/validate.mjs" "$target/"
  if cmp -s "$source/package-lock.json" "$target/package-lock.json" &&
    [ -d "$target/node_modules" ]; then
    return 0
  fi
  echo "== installing the OpenAPI validator into $target"
  cp "$source/package.json" "$source/package-lock.json" "$target/"
  if ! (cd "$target" && npm ci --no-audit --no-fund --loglevel=error >/dev/null); then
    rm -f "$target/package-lock.json"  # tried again next time
    echo "warning: npm ci failed in $target; the OpenAPI validation test will skip" >&2
  fi
}
