#!/usr/bin/env bash
# Shows that check-win98-imports.sh rejects what Windows 98 lacks and that its list holds only
# functions the import libraries know and none that came after Windows 98.
#   win98-imports-test.sh [--cxx COMPILER] [--work DIR]
# Exit 77 (skipped) when the i686 Windows compiler is missing.
set -u
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
cxx=i686-w64-mingw32-g++-win32 work=${TMPDIR:-/tmp}/win98-imports-test
while [ $# -gt 0 ]; do
  case $1 in --cxx) cxx=$2; shift 2;; --work) work=$2; shift 2;; *) echo "unknown: $1"; exit 2;; esac
done
command -v "$cxx" >/dev/null || { echo "skipped: no $cxx"; exit 77; }
mkdir -p "$work"
check=$here/check-win98-imports.sh list=$here/win98-imports.txt
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A program that imports GetTickCount64 fails, naming it; the same without it passes.
flags=(-Os -static-libgcc -static-libstdc++ -D_WIN32_WINNT=0x0600)
"$cxx" "${flags[@]}" -o "$work/forbidden.exe" "$here/forbidden_import.cpp" || { echo "build failed"; exit 1; }
"$cxx" "${flags[@]}" -DONLY_ALLOWED -o "$work/allowed.exe" "$here/forbidden_import.cpp" || { echo "build failed"; exit 1; }
out=$(bash "$check" "$work/forbidden.exe"); rc=$?
[ $rc -eq 1 ] && grep -q '^not ok - .*KERNEL32!GetTickCount64' <<<"$out" || fail "forbidden.exe not rejected: $out"
out=$(bash "$check" "$work/allowed.exe"); rc=$?
[ $rc -eq 0 ] && grep -q '^ok - ' <<<"$out" || fail "allowed.exe rejected: $out"
# One line per file, and one bad file fails the whole run.
out=$(bash "$check" "$work/allowed.exe" "$work/forbidden.exe" "$work/absent.exe"); rc=$?
[ $rc -eq 1 ] && [ "$(grep -c '^ok - ' <<<"$out")" -eq 1 ] && [ "$(grep -c '^not ok - ' <<<"$out")" -eq 2 ] \
  || fail "mixed run: rc $rc: $out"
# The old entry point behaves the same.
bash "$here/check-imports.sh" "$work/forbidden.exe" >/dev/null && fail "check-imports.sh passed forbidden.exe"

# What objdump may print that a plain name import does not show: a DLL not on the list, an
# import by ordinal, no import table at all. Each must fail rather than slip through.
fake=$work/fake-objdump
printf '#!/bin/sh\ncat "$FAKE_DUMP"\n' >"$fake"; chmod +x "$fake"
dump() { printf '%b' "$1" >"$work/dump.txt"; FAKE_DUMP=$work/dump.txt OBJDUMP=$fake bash "$check" "$work/allowed.exe"; }
base='The Import Tables\n\n\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t40284\t  136  CloseHandle\n\n'
dump "$base" >/dev/null || fail "a plain allowed import was rejected"
dump "$base"'\tDLL Name: libstdc++-6.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t40300\t  10  _ZdlPv\n\n' >/dev/null \
  && fail "a shared C++ runtime passed"
dump "$base"'\tDLL Name: COMCTL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n\t80000011\t   17  <none>\n\n' >/dev/null \
  && fail "an import by ordinal passed"
dump 'no imports here\n' >/dev/null && fail "a file without an import table passed"
dump "$(sed 's/KERNEL32/kernel32/' <<<"$base")" >/dev/null || fail "DLL names must compare without case"

# The list: well formed, no duplicates, every entry known to the mingw-w64 import library of
# its DLL, and none of the functions Windows 98 is known to lack.
entries=$(sed -E 's/#.*//; s/[[:space:]]+//g; /^$/d' "$list")
bad=$(grep -vE '^[A-Z0-9]+![A-Za-z_][A-Za-z0-9_]*$' <<<"$entries")
[ -z "$bad" ] || fail "malformed entries: $bad"
dups=$(sort <<<"$entries" | uniq -d)
[ -z "$dups" ] || fail "duplicate entries: $dups"
libdir=$(dirname "$(command -v "$cxx")")/../i686-w64-mingw32/lib
[ -d "$libdir" ] || libdir=/usr/i686-w64-mingw32/lib
nm=${NM:-i686-w64-mingw32-nm}
for dll in $(cut -d'!' -f1 <<<"$entries" | sort -u); do
  lib=$libdir/lib$(tr 'A-Z' 'a-z' <<<"$dll").a
  [ -f "$lib" ] || { fail "no import library $lib"; continue; }
  known=$("$nm" "$lib" 2>/dev/null | sed -nE 's/.* [TIDR] __imp__([A-Za-z0-9_]+)(@[0-9]+)?$/\1/p' | sort -u)
  missing=$(grep "^$dll!" <<<"$entries" | cut -d'!' -f2 | sort -u | comm -23 - <(echo "$known") | tr '\n' ' ')
  [ -z "$missing" ] || fail "$dll does not export: $missing"
done
for later in KERNEL32!GetTickCount64 KERNEL32!AddVectoredExceptionHandler KERNEL32!TryEnterCriticalSection \
  KERNEL32!GetHandleInformation KERNEL32!CreateHardLinkA KERNEL32!CreateHardLinkW KERNEL32!GetFileSizeEx \
  KERNEL32!SetFilePointerEx KERNEL32!FindFirstVolumeW KERNEL32!FindNextVolumeW KERNEL32!FindVolumeClose \
  KERNEL32!InitializeCriticalSectionAndSpinCount KERNEL32!GetFileAttributesExW KERNEL32!CreateSymbolicLinkW \
  MSVCRT!_fstat64 MSVCRT!_wstat64 MSVCRT!_stat64 MSVCRT!_time64 MSVCRT!_mktime64; do
  grep -qxF "$later" <<<"$entries" && fail "$later is on the list, but Windows 98 lacks it"
done

[ $failures -eq 0 ] && echo "all passed" && exit 0
exit 1
