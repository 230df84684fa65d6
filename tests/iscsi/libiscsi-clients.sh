#!/usr/bin/env bash
# libiscsi-clients.sh CLIENT TARGET_PROGRAM WORKDIR: starts iscsi-target with two drives on a free
# port and runs one of libiscsi's initiators against it:
#   ls        iscsi-ls lists both targets' names
#   inq       iscsi-inq shows a drive's device type, vendor and product
#   test-cu   libiscsi's test suite, SCSI.Inquiry, SCSI.TestUnitReady, iSCSI.iSCSIcmdsn and
#             iSCSI.iSCSITMF, passes every test it runs
# The target must then stop on SIGTERM with exit 0.
set -uo pipefail
client=${1:?} program=${2:?} work=${3:?}
command -v "iscsi-$client" >/dev/null || { echo "iscsi-$client is not installed (libiscsi-bin; scripts/deps guest)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cat >target.cfg <<'CFG'
target listen=127.0.0.1:0 log=target.log
drive iqn=iqn.2025-01.test.flashupgrade:first vendor=EMULATED product="DVD-RW FLASH" flash=first.bin log=first.log
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
  timeout 90 iscsi-test-cu -t SCSI.Inquiry,SCSI.TestUnitReady,iSCSI.iSCSIcmdsn,iSCSI.iSCSITMF "$first" >out.txt 2>&1
  rc=$?
  cat out.txt
  [ "$rc" -eq 0 ] || fail "iscsi-test-cu exit $rc"
  # Run Summary: "tests TOTAL RAN PASSED FAILED INACTIVE"
  read -r total ran passed bad _ < <(awk '$1 == "tests" { print $2, $3, $4, $5, $6 }' out.txt)
  [ "${ran:-0}" -gt 0 ] && [ "${ran}" = "${passed:-}" ] && [ "${bad:-1}" = 0 ] || fail "tests total=${total:-?} ran=${ran:-?} passed=${passed:-?} failed=${bad:-?}"
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
