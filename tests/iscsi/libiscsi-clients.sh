#!/usr/bin/env bash
# libiscsi-clients.sh CLIENT TARGET_PROGRAM WORKDIR: starts iscsi-target with two drives on a free
# port and runs one of libiscsi's initiators against it:
#   ls        iscsi-ls lists both targets' names
#   inq       iscsi-inq shows a drive's device type, vendor and product
#   test-cu   libiscsi's whole test suite, destructive tests included (-d), against the first
#             drive, which has a disc in it (medium=): every test it runs passes. Its StartStopUnit
#             suite ejects the disc and checks the empty drive's answers; the suite cannot run
#             against a drive that is empty from the start, as it reads the capacity first.
# The target must then stop on SIGTERM with exit 0.
set -uo pipefail
client=${1:?} program=${2:?} work=${3:?}
command -v "iscsi-$client" >/dev/null || { echo "iscsi-$client is not installed (libiscsi-bin; scripts/deps guest)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
# A disc of 512 blocks of 2048 bytes, each block holding its own number.
for ((block = 0; block < 512; ++block)); do printf '%02048d' "$block"; done >disc.iso
cat >target.cfg <<'CFG'
target listen=127.0.0.1:0 log=target.log
drive iqn=iqn.2025-01.test.flashupgrade:first vendor=EMULATED product="DVD-RW FLASH" flash=first.bin log=first.log medium=disc.iso
drive iqn=iqn.2025-01.test.flashupgrade:second vendor=OTHERMKR product="SECOND DRIVE" log=second.log
CFG
"$program" target.cfg >target.out 2>target.err &
pid=$!
address=
for _ in $(seq 50); do
  address=$(sed -n 's/^listening on //p' target.out 2>/dev/null)
  [ -n "$address" ] && break
  sleep 0.1
done
[ -n "$address" ] || { cat target.err; echo "the target did not start"; kill "$pid" 2>/dev/null; exit 1; }
first=iscsi://$address/iqn.2025-01.test.flashupgrade:first/0

failed=0
fail() { echo "FAILED: $*"; failed=1; }
case $client in
ls)
  timeout 30 iscsi-ls "iscsi://$address" >out.txt 2>&1 || fail "iscsi-ls exit $?"
  cat out.txt
  for name in first second; do
    grep -qx "Target:iqn.2025-01.test.flashupgrade:$name Portal:$address,1" out.txt || fail "target $name not listed"
  done
  ;;
inq)
  timeout 30 iscsi-inq "$first" >out.txt 2>&1 || fail "iscsi-inq exit $?"
  cat out.txt
  grep -qx "Peripheral Device Type:MMC" out.txt || fail "not an MMC device"
  grep -qx "Vendor:EMULATED" out.txt || fail "vendor"
  grep -qx "Product:DVD-RW FLASH    " out.txt || fail "product"
  timeout 30 iscsi-inq -e 1 -c 0 "$first" >vpd.txt 2>&1 || fail "iscsi-inq of page 00 exit $?"
  cat vpd.txt
  for page in "0x00 SUPPORTED_VPD_PAGES" "0x80 UNIT_SERIAL_NUMBER" "0x83 DEVICE_IDENTIFICATION"; do
    grep -qx "Page:$page" vpd.txt || fail "page $page not offered"
  done
  ;;
test-cu)
  # Run Summary: "tests TOTAL RAN PASSED FAILED INACTIVE"
  run_suite() {  # run_suite NAME URL [TESTS]: the suite's tests all pass
    local name=$1 url=$2 tests=${3:-} rc total ran passed bad
    timeout 900 iscsi-test-cu -d ${tests:+-t "$tests"} "$url" >"$name.txt" 2>&1
    rc=$?
    cat "$name.txt"
    [ "$rc" -eq 0 ] || fail "$name: iscsi-test-cu exit $rc"
    read -r total ran passed bad _ < <(awk '$1 == "tests" { print $2, $3, $4, $5, $6 }' "$name.txt")
    echo "$name: tests total=${total:-?} ran=${ran:-?} passed=${passed:-?} failed=${bad:-?}"
    [ "${ran:-0}" -gt 0 ] && [ "${ran}" = "${passed:-}" ] && [ "${bad:-1}" = 0 ] || fail "$name did not pass whole"
  }
  run_suite with-disc "$first"
  ;;
*)
  fail "unknown client $client"
  ;;
esac

kill -TERM "$pid"
wait "$pid"
rc=$?
[ "$rc" -eq 0 ] || fail "the target exited $rc after SIGTERM"
grep -q '^stopped$' target.log || fail "the target log does not end with its stop"
exit "$failed"
