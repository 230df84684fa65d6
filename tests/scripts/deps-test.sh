#!/usr/bin/env bash
# The dependency step against a Debian mirror in sync, with no network: fake apt-get, dpkg,
# dpkg-query, apt-cache and sudo first in PATH (tests/scripts/fake-apt), in a copy of the scripts,
# so that neither this machine's packages nor its build trees are touched.
#   1. update fails for one index and wine32:i386 cannot be installed: scripts/deps reports the
#      index in one line, installs every other group, names wine32 with apt's reason, ends 0;
#   2. scripts/test windows-i686 then reports the tier skipped (not passed) and builds nothing;
#   3. a run that installs nothing new asks apt nothing;
#   4. the base group cannot be installed: scripts/deps fails, and scripts/test stops there.
#   deps-test.sh WORK
set -u
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
ok() { echo "ok $*"; }

# fresh_copy: the scripts in $work/repo, no package installed, no i386 architecture.
fresh_copy() {
  rm -rf "$work" && mkdir -p "$work/repo/tests/wine" "$work/repo/tests/guest" "$work/apt"
  cp -r "$root/scripts" "$root/CMakePresets.json" "$work/repo/"
  cp "$root/tests/wine/can-run-32bit" "$work/repo/tests/wine/"
  cp "$root/tests/guest/fetch-kernel" "$work/repo/tests/guest/"
}
export FAKE_APT=$work/apt
export PATH=$root/tests/scripts/fake-apt:$PATH

# --- 1. a partial archive ------------------------------------------------------------------------
fresh_copy
FAKE_APT_BROKEN=wine32:i386 "$work/repo/scripts/deps" >"$work/deps.out" 2>&1
rc=$?
cat "$work/deps.out"
[ "$rc" -eq 0 ] && ok "deps ends 0 with a group missing" || fail "deps exit $rc"
update_lines=$(grep -c 'apt-get update' "$work/deps.out")
grep -Fqx 'deps: apt-get update failed for some index files; installing from the lists that arrived (E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80])' "$work/deps.out" &&
  [ "$update_lines" = 1 ] && ok "the failed index is reported in one line" || fail "the update's report ($update_lines lines)"
grep -Fqx 'deps: wine32: NOT INSTALLED (wine32:i386): wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed; E: Unable to correct problems, you have held broken packages.' "$work/deps.out" &&
  ok "wine32 is named with apt's reason" || fail "wine32's report"
expected_status="base ok
fuzz ok
windows ok
wine32 failed wine32:i386 could not be installed: wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed; E: Unable to correct problems, you have held broken packages.
guest ok"
[ "$(cat "$work/repo/build/deps/status")" = "$expected_status" ] && ok "build/deps/status" ||
  fail "build/deps/status: $(cat "$work/repo/build/deps/status")"
installs=$(grep '^apt-get install' "$FAKE_APT/calls" | sed 's/^apt-get install -y --no-install-recommends //')
expected_installs="cmake g++ make libgtest-dev libbenchmark-dev groff-base man-db python3
clang-14 libclang-rt-14-dev
g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 fonts-wine xvfb xauth xdotool imagemagick
wine32:i386
qemu-system-x86 qemu-block-extra libiscsi-bin sg3-utils busybox-static"
[ "$installs" = "$expected_installs" ] && ok "each group is installed on its own, in order" || fail "installs: $installs"
order=$(grep -E '^(dpkg --add-architecture|apt-get update|apt-get install)' "$FAKE_APT/calls" | head -2 | tr '\n' '|')
[ "$order" = "dpkg --add-architecture i386|apt-get update|" ] && ok "i386 is added before the one update" || fail "order: $order"
grep -q '^wine32:i386$' "$FAKE_APT/installed" && fail "wine32:i386 recorded as installed"
[ -f "$work/repo/build/guest/debs/linux-image-6.1.0-99-amd64_1_amd64.deb" ] && ok "the kernel package is fetched with the guest group" ||
  fail "no kernel package in build/guest/debs"

# --- 2. the tier that needs the missing group ----------------------------------------------------
: >"$FAKE_APT/calls"
FAKE_APT_BROKEN=wine32:i386 "$work/repo/scripts/test" windows-i686 >"$work/test.out" 2>&1
rc=$?
cat "$work/test.out"
reason="scripts/deps could not install group wine32: wine32:i386 could not be installed: wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed; E: Unable to correct problems, you have held broken packages."
[ "$rc" -eq 0 ] && ok "scripts/test windows-i686 ends 0" || fail "scripts/test exit $rc"
[ "$(tail -2 "$work/test.out")" = "skipped: tier windows-i686 ($reason)
0 passed, 0 failed, 1 skipped" ] && ok "the tier is reported skipped, with the reason, and not passed" ||
  fail "the last two lines: $(tail -2 "$work/test.out")"
installs=$(grep '^apt-get install' "$FAKE_APT/calls" | sed 's/^apt-get install -y --no-install-recommends //')
[ "$installs" = "wine32:i386" ] && ok "only the tier's missing group is tried again" || fail "installs: $installs"
grep -q "^deps: fuzz\|^deps: guest" "$work/test.out" && fail "groups the tier does not need were looked at"
built=$(cd "$work/repo/build" && ls -d host win32 win32-tests 2>/dev/null)
[ -z "$built" ] && ok "a skipped tier builds nothing" || fail "built for a skipped tier: $built"

# --- 3. nothing missing ----------------------------------------------------------------------------
: >"$FAKE_APT/calls"
"$work/repo/scripts/deps" base windows >"$work/again.out" 2>&1 || fail "deps with nothing to do failed"
grep -q '^apt-get' "$FAKE_APT/calls" && fail "apt-get was called with nothing to install: $(cat "$FAKE_APT/calls")"
[ "$(cat "$work/again.out")" = "deps: base: everything is installed
deps: windows: everything is installed" ] && ok "nothing to install, nothing asked" || fail "$(cat "$work/again.out")"

# --- 4. the first group fails ----------------------------------------------------------------------
fresh_copy
FAKE_APT_BROKEN=libgtest-dev "$work/repo/scripts/test" host >"$work/base.out" 2>&1
rc=$?
cat "$work/base.out"
[ "$rc" -eq 1 ] && ok "scripts/test fails when base cannot be installed" || fail "scripts/test exit $rc"
grep -Fqx 'deps: the base group failed; nothing can be built' "$work/base.out" || fail "deps does not say that base failed"
[ "$(tail -2 "$work/base.out")" = "skipped: not run, scripts/deps failed: host
0 passed, 1 failed, 0 skipped" ] && ok "and names the tier it did not run" || fail "the last two lines: $(tail -2 "$work/base.out")"
[ ! -d "$work/repo/build/host" ] || fail "a host tree was made without the base group"

[ "$failures" -eq 0 ] || { echo "deps-test: $failures failures"; exit 1; }
echo "deps-test: a partial archive skips what it must and nothing more"
