#!/usr/bin/env bash
# cmake --install puts the program into PREFIX/sbin, combine as flashupgrade-combine into
# PREFIX/bin, and their manuals into PREFIX/share/man/man8 and man1, and nothing else; the
# installed programs run, the installed combine fills the installed program, and man reads both
# pages without a warning.
#   install-test.sh BUILD PREFIX MAKE_IMAGE
set -eu
build=$1 prefix=$2 make_image=$3
fail() { echo "install-test: $*" >&2; exit 1; }
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort)
echo "install-test: installed"
printf '  %s\n' $installed
expected=$(printf '%s\n' ./bin/flashupgrade-combine ./sbin/flashupgrade ./share/man/man1/flashupgrade-combine.1 \
  ./share/man/man8/flashupgrade.8 | sort)
[ "$installed" = "$expected" ] || fail "expected $expected"
[ -z "$(cd "$prefix" && find . ! -type f ! -type d)" ] || fail "installed something that is no file"
for program in sbin/flashupgrade bin/flashupgrade-combine; do
  [ -x "$prefix/$program" ] || fail "$program is not executable"
done
flashupgrade=$prefix/sbin/flashupgrade combine=$prefix/bin/flashupgrade-combine
[ "$("$flashupgrade" --version)" = "flashupgrade 1.51" ] || fail "flashupgrade --version: $("$flashupgrade" --version)"

# Installed under its new name, combine is the same program: its usage, and a combined program.
status=0
usage=$("$combine" 2>&1) || status=$?
[ "$status" -eq 2 ] || fail "flashupgrade-combine without arguments: exit $status"
printf '%s\n' "$usage" | grep -qx 'usage: combine --image IMAGE --version TEXT --output OUT PROGRAM' ||
  fail "flashupgrade-combine without arguments: '$usage'"
work=$prefix.work
rm -rf "$work" && mkdir -p "$work"
"$make_image" "$work/image.bin" 1 51
out=$("$combine" --image "$work/image.bin" --version 1.51 --output "$work/flashupgrade" "$flashupgrade") ||
  fail "flashupgrade-combine refused the installed program: $out"
out=$("$work/flashupgrade" image)
[[ $out == "image version 1.51, checksum "????", good" ]] || fail "the combined program reports '$out'"
rm -rf "$work"

if command -v man >/dev/null; then
  for page in share/man/man8/flashupgrade.8 share/man/man1/flashupgrade-combine.1; do
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/$page" 2>&1 >/dev/null) || fail "man -l $page failed: $warnings"
    [ -z "$warnings" ] || fail "man -l $page warns: $warnings"
  done
  echo "install-test: both programs run, both pages read cleanly"
else
  echo "install-test: both programs run; man is not installed, the pages were not read"
fi
