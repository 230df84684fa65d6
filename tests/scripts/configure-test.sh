#!/usr/bin/env bash
# scripts/configure before scripts/deps: configuring the Windows tree without the cross compiler
# fails and leaves nothing behind; once the compiler is there the same step succeeds and the
# tree builds. A tree that an older run left half-configured is not taken for done either.
#   configure-test.sh WORK
set -u
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "configure-test: $*" >&2; exit 1; }
command -v i686-w64-mingw32-g++-win32 >/dev/null || { echo "configure-test: no cross compiler here (scripts/deps windows)"; exit 77; }
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

tree=$work/win32
PATH=$work/nocross "$root/scripts/configure" -B "$tree" win32 >"$work/before-deps.log" 2>&1 &&
  fail "configured without a cross compiler"
grep -q "configuring $tree (win32) failed; nothing of it is kept" "$work/before-deps.log" ||
  fail "the refusal does not say what failed: $(tail -1 "$work/before-deps.log")"
[ ! -e "$tree" ] || fail "a failed configure left $tree"

# What an older run left: the cache of a configure that failed.
(cd "$root" && PATH=$work/nocross cmake --preset win32 -B "$tree" >/dev/null 2>&1)
[ -f "$tree/CMakeCache.txt" ] || fail "cmake left no cache to test with"
[ ! -f "$tree/Makefile" ] || fail "the failed configure generated a build system"

"$root/scripts/configure" -B "$tree" win32 >"$work/after-deps.log" 2>&1 || { cat "$work/after-deps.log"; fail "configure after deps failed"; }
grep -q '^CMAKE_TOOLCHAIN_FILE:.*toolchain-i686-mingw-win32.cmake$' "$tree/CMakeCache.txt" ||
  fail "the tree was not configured from the win32 preset"
cmake --build "$tree" -j 2 --target firmware_checksum >"$work/build.log" 2>&1 || { tail "$work/build.log"; fail "the tree does not build"; }
touch "$tree/kept"
"$root/scripts/configure" -B "$tree" win32 >"$work/again.log" 2>&1 || fail "a configured tree was refused"
[ -e "$tree/kept" ] && [ ! -s "$work/again.log" ] || fail "a configured tree was made anew"
echo "configure-test: refused and removed without the cross compiler, configured and built with it, left alone once made"
