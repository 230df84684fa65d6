#!/usr/bin/env bash
# cmake --install puts the program into PREFIX/sbin and its manual into PREFIX/share/man/man8,
# and nothing else.
#   install-test.sh BUILD PREFIX
set -eu
build=$1 prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort)
echo "install-test: installed"
printf '  %s\n' $installed
expected=$(printf '%s\n' ./sbin/flashupgrade ./share/man/man8/flashupgrade.8)
[ "$installed" = "$expected" ] || { echo "install-test: expected $expected" >&2; exit 1; }
[ -x "$prefix/sbin/flashupgrade" ] || { echo "install-test: the program is not executable" >&2; exit 1; }
[ "$("$prefix/sbin/flashupgrade" --version)" = "flashupgrade 1.51" ] || exit 1
