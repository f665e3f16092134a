#!/usr/bin/env bash
# Cross-builds SQV64 for 64-bit Windows with MinGW-w64 into build-windows/:
# a statically linked build-windows/sqv64.exe and the test programs
# (build-windows/*_tests.exe, run under Wine by scripts/test-windows.sh).
#
# Installs what is missing: Debian's MinGW-w64 compilers and zlib for
# MinGW; builds Expat for MinGW from Debian's own source package of it and
# GoogleTest from the sources Debian ships in /usr/src/googletest. All of
# that is built inside build-windows/deps/, once. Idempotent, and quiet
# when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
deps=$build/deps
prefix=$deps/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=2

log=$deps/build.log
mkdir -p "$deps"
: >"$log"
fail() {
  echo "build-windows: $*" >&2
  [ -s "$log" ] && tail -n 60 "$log" >&2
  exit 1
}
run() { "$@" >>"$log" 2>&1 || fail "failed: $*"; }

# --- Debian packages -------------------------------------------------------
packages=(cmake ninja-build dpkg-dev googletest libasio-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev)
run "$root/scripts/install-deps.sh" "${packages[@]}"

# --- Expat, from Debian's source package -----------------------------------
# The source index comes from a deb-src entry of this build's own, for the
# archive and release that the machine's apt already uses; apt keeps its
# lists and cache for it under deps/apt, apart from the system's.
archive_of_system() {
  local codename=$1
  {
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null
    echo
  } | awk -v suite="$codename" '
    function check() {
      if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") &&
          (" " components " ") ~ / main /) {
        split(uris, first, " "); print first[1] "|" signed; found = 1; exit
      }
      types = uris = suites = components = signed = ""
    }
    /^[ \t]*$/ { check(); next }
    /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
    /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
    /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
    /^Components:/ { sub(/^Components:[ \t]*/, ""); components = $0 }
    /^Signed-By:/ { sub(/^Signed-By:[ \t]*/, ""); signed = $0 }
    END { if (!found) check() }' | head -n 1
  if [ -f /etc/apt/sources.list ]; then
    sed -e 's/\[[^]]*\]//' /etc/apt/sources.list |
      awk -v suite="$codename" '$1 == "deb" && $3 == suite && / main( |$)/ { print $2 "|"; exit }'
  fi
}

build_expat() {
  local codename archive uri keyring apt_dir
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || fail "no release codename in /etc/os-release"
  archive=$(archive_of_system "$codename" | head -n 1)
  [ -n "$archive" ] || fail "no apt source for $codename main to take Expat's sources from"
  uri=${archive%%|*}
  keyring=${archive#*|}
  [ -n "$keyring" ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg

  apt_dir=$deps/apt
  rm -rf "$apt_dir" "$deps/expat"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" \
    "$deps/expat"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$uri" "$codename" "$keyring" >"$apt_dir/sources.list.d/expat-source.sources"
  : >"$apt_dir/sources.list"
  local apt_options=(
    -o Dir::Etc::SourceList="$apt_dir/sources.list"
    -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
    -o Dir::State::Lists="$apt_dir/lists"
    -o Dir::Cache="$apt_dir/cache"
    -o APT::Sandbox::User=root
  )
  echo "Building Expat for MinGW from Debian's source package"
  run apt-get "${apt_options[@]}" update -qq
  (cd "$deps/expat" && apt-get "${apt_options[@]}" source --download-only -qq expat) \
    >>"$log" 2>&1 || fail "cannot fetch the sources of expat"
  local dsc
  dsc=$(ls "$deps"/expat/expat_*.dsc | head -n 1)
  # apt checked the files against the signed source index.
  (cd "$deps/expat" && dpkg-source --no-check -x "$dsc" source) >>"$log" 2>&1 ||
    fail "cannot unpack $dsc"
  # Debian builds Expat with its autotools, whose configuration header
  # defines XML_DTD as 1; one of Debian's patches tests for that value, so
  # the CMake header must define it the same way.
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' \
    "$deps/expat/source/expat/expat_config.h.cmake"
  # The upstream tree keeps the library in its folder expat/.
  run cmake -S "$deps/expat/source/expat" -B "$deps/expat/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF
  run cmake --build "$deps/expat/build" -j "$jobs" --target install
}
[ -f "$prefix/lib/libexpat.a" ] || build_expat

# --- GoogleTest, from the sources Debian ships -----------------------------
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "Building GoogleTest for MinGW"
  rm -rf "$deps/googletest"
  run cmake -S /usr/src/googletest -B "$deps/googletest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  run cmake --build "$deps/googletest" -j "$jobs" --target install
fi

# --- Asio, header-only -----------------------------------------------------
# Only Asio's own headers: nothing else of the build machine's /usr/include
# may reach the cross build.
asio_include=$deps/asio-include
if [ ! -e "$asio_include/asio.hpp" ]; then
  mkdir -p "$asio_include"
  ln -sfn /usr/include/asio.hpp "$asio_include/asio.hpp"
  ln -sfn /usr/include/asio "$asio_include/asio"
fi

# --- nlohmann/json, header-only --------------------------------------------
# The same way: only its own headers, from Debian's nlohmann-json3-dev.
json_include=$deps/json-include
if [ ! -e "$json_include/nlohmann/json.hpp" ]; then
  mkdir -p "$json_include"
  ln -sfn /usr/include/nlohmann "$json_include/nlohmann"
fi

# --- SQV64 -----------------------------------------------------------------
# The libraries are static; XML_STATIC makes Expat's header say so. -O2 as
# in the Linux release build (GCC 12 warns wrongly about std::string at -O3).
run cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DSQV64_MINGW_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DSQV64_BUILD_BENCHMARKS=OFF -DSQV64_WERROR=ON \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_C_FLAGS=-DXML_STATIC -DCMAKE_CXX_FLAGS=-DXML_STATIC \
  -DZLIB_USE_STATIC_LIBS=ON -DASIO_INCLUDE_DIR="$asio_include" \
  -DNLOHMANN_JSON_INCLUDE_DIR="$json_include" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$build"
if ! ninja -C "$build" -n 2>/dev/null | grep -q 'no work to do'; then
  echo "Building build-windows/"
fi
run cmake --build "$build" -j "$jobs"
