#!/usr/bin/env bash
# scripts/build before scripts/deps: configuring the Windows tree without the cross compiler
# fails and leaves nothing behind; once the compiler is there the same step succeeds and the
# tree builds. A tree that an older build left half-configured is not taken for done either.
#   build-configure-test.sh WORK
set -u
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
toolchain=$root/cmake/toolchain-i686-mingw-win32.cmake
fail() { echo "build-configure-test: $*" >&2; exit 1; }
command -v i686-w64-mingw32-g++-win32 >/dev/null || { echo "build-configure-test: no cross compiler here" >&2; exit 77; }
rm -rf "$work" && mkdir -p "$work/nocross"

# This machine as it was before scripts/deps: every program but the cross tools.
for dir in $(printf '%s' "$PATH" | tr ':' ' '); do
  [ -d "$dir" ] || continue
  for tool in "$dir"/*; do
    name=${tool##*/}
    case $name in i686-w64-mingw32-*|x86_64-w64-mingw32-*) continue ;; esac
    [ -e "$work/nocross/$name" ] || ln -s "$tool" "$work/nocross/$name" 2>/dev/null
  done
done

FLASHUPGRADE_BUILD_FUNCTIONS=1 source "$root/scripts/build" || fail "scripts/build cannot be sourced"
set +e
tree=$work/win32
args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel -DFLASHUPGRADE_TESTS=OFF)

PATH=$work/nocross configure "$tree" "${args[@]}" >"$work/before-deps.log" 2>&1 && fail "configured without a cross compiler"
[ ! -e "$tree" ] || fail "a failed configure left $tree"

# What the old build left: a cache from a configure that failed.
PATH=$work/nocross cmake -S "$root" -B "$tree" "${args[@]}" >/dev/null 2>&1
[ -f "$tree/CMakeCache.txt" ] || fail "cmake left no cache to test with"
configured "$tree" && fail "a half-configured tree counts as configured"

configure "$tree" "${args[@]}" >"$work/after-deps.log" 2>&1 || { cat "$work/after-deps.log"; fail "configure after deps failed"; }
configured "$tree" || fail "the tree is not configured after deps"
cmake --build "$tree" -j 2 --target firmware_checksum >"$work/build.log" 2>&1 || { tail "$work/build.log"; fail "the tree does not build"; }
echo "build-configure-test: refused and removed without the cross compiler, configured and built with it"
