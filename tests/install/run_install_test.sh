#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and builds an outside project
# against it both ways (the CMake package and pkg-config), then runs both.
# usage: run_install_test.sh BUILD_DIR SOURCE_DIR [DEALER_URL USER PASSWORD CONNECTION]
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
shift 2
tmp=$(mktemp -d /tmp/pellora-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log"

# The layout: versioned libraries with their SONAME links, headers, package
# files and the two programs.
libdir=$(dirname "$(find "$prefix" -name 'libtamsel2.so' | head -1)")
[ -n "$libdir" ] || { echo "libtamsel2.so not installed"; exit 1; }
for lib in tamsel2 vorntool2 merrow vornexpat; do
  for f in "lib$lib.so" ; do [ -L "$libdir/$f" ] || { echo "missing link $f"; exit 1; }; done
  soname=$(objdump -p "$libdir/lib$lib.so" | awk '/SONAME/ {print $2}')
  [ -e "$libdir/$soname" ] || { echo "missing $soname"; exit 1; }
done
for f in include/zel/zel.h include/zel/session.h include/vorntool/add_ref.h \
         bin/pellora bin/pellora-dealer; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
[ -f "$libdir/cmake/Pellora/PelloraConfig.cmake" ] || { echo "missing the CMake package"; exit 1; }
[ -f "$libdir/pkgconfig/pellora-tamsel2.pc" ] || { echo "missing the pkg-config file"; exit 1; }
# Installed programs find the installed libraries by themselves.
"$prefix/bin/pellora-dealer" --help >/dev/null
"$prefix/bin/pellora" --help >/dev/null

run_args=("$@")

# The CMake package.
cmake -S "$here/outside" -B "$tmp/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >"$tmp/cmake.log" || { cat "$tmp/cmake.log"; exit 1; }
cmake --build "$tmp/cmake-build" >"$tmp/build.log" || { cat "$tmp/build.log"; exit 1; }
"$tmp/cmake-build/outside" "${run_args[@]}"

# pkg-config, with the compiler called by hand.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs pellora-tamsel2)
pcdir=$(pkg-config --variable=libdir pellora-tamsel2)
# shellcheck disable=SC2086
c++ -std=c++17 -o "$tmp/outside-pc" "$here/outside/main.cpp" $flags -Wl,-rpath,"$pcdir"
"$tmp/outside-pc" "${run_args[@]}"
echo "install test: both builds ran"
