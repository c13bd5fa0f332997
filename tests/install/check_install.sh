#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks it as a host developer uses it: the
# files are there, every version agrees, and a C program built with pkg-config, a C++ program
# built with find_package(Quillbox) and the Python package load the installed library and read
# the simulator.
# Usage: tests/install/check_install.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "install check: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libQUILLBOXCE.so -print -quit)")
for f in "$libdir/libQUILLBOXCE.so.0" "$prefix/include/quillbox/quillbox.h" \
         "$libdir/pkgconfig/quillbox.pc" "$libdir/cmake/Quillbox/QuillboxConfig.cmake" \
         "$prefix/bin/quillbox" "$prefix/share/man/man1/quillbox.1"; do
  [ -e "$f" ] || fail "missing $f"
done
readelf -d "$libdir/libQUILLBOXCE.so" | grep 'SONAME.*\[libQUILLBOXCE.so.0\]' >/dev/null || fail "SONAME"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/quillbox.1" 2>&1 >/dev/null | grep . && fail "man page warnings"

export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion quillbox)
[ "$("$prefix/bin/quillbox" --version)" = "quillbox $version" ] || fail "quillbox --version"
grep -q "PACKAGE_VERSION \"$version\"" "$libdir/cmake/Quillbox/QuillboxConfigVersion.cmake" ||
  fail "CMake package version"
[[ "$(readlink "$libdir/libQUILLBOXCE.so.0")" == "libQUILLBOXCE.so.$version" ]] ||
  fail "file version of the library"

"$prefix/bin/quillbox" sim -m rtu -a 1 --set hr:0=1234,5678 >"$work/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
export QUILLBOX_COM1=$(head -n 1 "$work/sim.out")
[ -e "$QUILLBOX_COM1" ] || fail "the simulator printed no pseudo-terminal"

# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror -o "$work/c_consumer" "$here/consumer.c" \
  $(pkg-config --cflags --libs quillbox) -Wl,-rpath,"$libdir"
cmake -S "$here" -B "$work/cxx" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cxx" >/dev/null
for program in "$work/c_consumer" "$work/cxx/consumer"; do
  ldd "$program" | grep "$libdir/libQUILLBOXCE.so.0" >/dev/null || fail "$program: not the installed library"
  [ "$("$program")" = "$version 1234 5678" ] || fail "$program read other values"
done
python_read="import quillbox; print(quillbox.version(), *quillbox.open('$QUILLBOX_COM1').read_registers(1, 0, 2))"
[ "$(PYTHONPATH=$prefix/lib/python3/dist-packages QUILLBOX_LIBRARY=$libdir/libQUILLBOXCE.so.0 \
    PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c "$python_read")" = "$version 1234 5678" ] ||
  fail "the installed Python package read other values"
echo "install check: passed ($version)"
