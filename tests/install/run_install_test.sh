#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and builds an outside project
# against it both ways (the CMake package and pkg-config), then runs both.
# usage: run_install_test.sh BUILD_DIR SOURCE_DIR [--with-dealer]
# With --with-dealer the installed pellora-dealer is started and the outside
# programs log in to it; without, they create a session and release it.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
with_dealer=${3:-}
tmp=$(mktemp -d /tmp/pellora-install.XXXXXX)
dealer_pid=""
cleanup() {
  [ -n "$dealer_pid" ] && kill -TERM "$dealer_pid" 2>/dev/null && wait "$dealer_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log"

# The layout: versioned libraries with their SONAME links, headers, package
# files and the two programs.
libdir=$(dirname "$(find "$prefix" -name 'libtamsel2.so' | head -1)")
[ -n "$libdir" ] || { echo "libtamsel2.so not installed"; exit 1; }
for lib in tamsel2 vorntool2; do
  [ -L "$libdir/lib$lib.so" ] || { echo "missing link lib$lib.so"; exit 1; }
  soname=$(objdump -p "$libdir/lib$lib.so" | awk '/SONAME/ {print $2}')
  [ "$soname" = "lib$lib.so.2" ] || { echo "lib$lib.so has SONAME '$soname'"; exit 1; }
  [ -e "$libdir/$soname" ] || { echo "missing $soname"; exit 1; }
done
# What libtamsel2 needs at run time is there; private libraries get no link.
for needed in $(objdump -p "$libdir/libtamsel2.so" | awk '/NEEDED/ && /merrow|vornexpat|vorntool/ {print $2}'); do
  [ -e "$libdir/$needed" ] || { echo "missing $needed, needed by libtamsel2"; exit 1; }
done
[ ! -e "$libdir/libmerrow.so" ] || { echo "libmerrow.so should not be installed"; exit 1; }
for f in include/zel/zel.h include/zel/session.h include/vorntool/add_ref.h \
         bin/pellora bin/pellora-dealer; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
[ -f "$libdir/cmake/Pellora/PelloraConfig.cmake" ] || { echo "missing the CMake package"; exit 1; }
[ -f "$libdir/pkgconfig/pellora-tamsel2.pc" ] || { echo "missing the pkg-config file"; exit 1; }
# Installed programs find the installed libraries by themselves.
"$prefix/bin/pellora-dealer" --help >/dev/null
"$prefix/bin/pellora" --help >/dev/null

run_args=()
if [ "$with_dealer" = --with-dealer ]; then
  "$prefix/bin/pellora-dealer" --data "$tmp/data" --listen tcp://127.0.0.1:0 >"$tmp/ready" 2>"$tmp/dealer.log" &
  dealer_pid=$!
  for _ in $(seq 300); do [ -s "$tmp/ready" ] && break; sleep 0.1; done
  url=$(awk '{print $3}' "$tmp/ready")
  [ -n "$url" ] || { echo "the installed dealer did not start"; cat "$tmp/dealer.log"; exit 1; }
  run_args=("$url" demo demo Demo)
fi

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
