# shellcheck shell=bash
# Host-side helpers of the guest tests that run flashupgrade: . tests/guest/host-checks.sh
# (after setting $here to tests/guest). Counts failures in $failed.

failed=0
pass() { echo "ok $*"; }
fail() { echo "FAILED $*"; failed=1; }

# The eight 16 KiB chunks of a 128 KiB flash, as buffer id:offset, in the order they are sent.
chunks="0:0x0 0:0x4000 0:0x8000 0:0xC000 1:0x0 1:0x4000 1:0x8000 1:0xC000"

# firmware_commands LOG [N]: the firmware commands of marker pair N, one short line each:
#   dump ID:OFFSET LENGTH STATUS       READ BUFFER mode 1 with control 0x01 (flash content)
#   readback ID:OFFSET LENGTH STATUS   READ BUFFER mode 2 (received data)
#   write ID:OFFSET LENGTH STATUS      WRITE BUFFER mode 7 (chunk, saved)
#   commit STATUS                      WRITE BUFFER mode 4
#   other LINE                         any other WRITE BUFFER or READ BUFFER of data
# What the kernel sends on every open and close of a block node (TEST UNIT READY, GET EVENT
# STATUS NOTIFICATION, PREVENT ALLOW MEDIUM REMOVAL) and the scan's INQUIRY and identity query
# (READ BUFFER mode 1 of 192 bytes, control 0) are left out; other_commands shows the rest.
firmware_commands() {
  "$here/drive-log-between" "$1" "${2:-1}" | awk '
    function field(name,   i, kv) {
      for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == name) return kv[2] }
      return ""
    }
    function place() { return field("id") ":" field("offset") " " field("length") " " field("status") }
    $1 == "WRITE_BUFFER" && field("mode") == 7 { print "write " place(); next }
    $1 == "WRITE_BUFFER" && field("mode") == 4 { print "commit " field("status"); next }
    $1 == "READ_BUFFER" && field("mode") == 2 { print "readback " place(); next }
    $1 == "READ_BUFFER" && field("mode") == 1 && field("control") == "0x01" { print "dump " place(); next }
    $1 == "READ_BUFFER" && field("mode") == 1 && field("length") == "0xC0" { next }
    $1 == "WRITE_BUFFER" || $1 == "READ_BUFFER" { print "other " $0 }
  '
}

# other_commands LOG [N]: the commands of marker pair N that are neither firmware commands nor
# what an open, a close or the scan sends.
other_commands() {
  "$here/drive-log-between" "$1" "${2:-1}" |
    grep -Ev '^(WRITE_BUFFER|READ_BUFFER) |^INQUIRY mode=0 |^OP_0x(00|4A|1E) ' || true
}

# dump_commands: the whole flash read, chunk by chunk in ascending order: a save, a verify, the
# comparison with the image that comes before an upgrade's first write, and the read-back after
# its commit.
dump_commands() {
  local c
  for c in $chunks; do echo "dump $c 0x4000 0"; done
}
# write_commands [N]: the first N chunks (all eight when N is left out) written and read back, in
# ascending order.
write_commands() {
  local c n=0
  for c in $chunks; do
    [ "$n" -lt "${1:-8}" ] || break
    echo "write $c 0x4000 0"; echo "readback $c 0x4000 0"
    n=$((n + 1))
  done
}
# program_commands: a whole upgrade that writes: the flash read and compared with the image, every
# chunk written and read back, one commit, the flash read back after it.
program_commands() {
  dump_commands
  write_commands
  echo "commit 0"
  dump_commands
}

# expect_commands WHAT LOG N EXPECTED: the firmware commands of pair N are exactly EXPECTED and
# nothing unexpected came beside them.
expect_commands() {
  local what=$1 log=$2 pair=$3 expected=$4 got others
  got=$(firmware_commands "$log" "$pair") || { fail "$what: no marker pair $pair in $log"; return; }
  others=$(other_commands "$log" "$pair")
  if [ "$got" = "$expected" ] && [ -z "$others" ]; then
    pass "$what"
  else
    fail "$what: the drive received"; echo "$got"; [ -z "$others" ] || echo "$others"
    echo "expected:"; echo "$expected"
  fi
}

# same_file WHAT A B
same_file() {
  if cmp -s "$2" "$3"; then pass "$1"; else fail "$1 ($2 and $3 differ)"; fi
}

# console_results OUTDIR: the guest's check lines; a guest check that failed fails the test.
console_results() {
  grep -E '^(ok|FAILED) ' "$1/console.log" || true
  if grep -q '^FAILED ' "$1/console.log"; then failed=1; fi
}

# figure OUTDIR NAME: the value the guest printed as "figure NAME VALUE".
figure() {
  sed -n "s/^figure $2 //p" "$1/console.log" | tail -1
}
