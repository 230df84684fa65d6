# Helpers for guest scripts: . /lib/guest-lib.sh

# marker DEVICE: a command that only a test sends, so that the drive's log can be cut around what
# a program under test sent (see drive-log-between): INQUIRY of vital product data page 0xE1,
# which the drive does not offer and answers with CHECK CONDITION.
marker() {
  sg_raw -r 64 "$1" 12 01 e1 00 40 00 >/dev/null 2>&1
  return 0
}

# check WHAT COMMAND...: runs COMMAND, prints "ok WHAT" or "FAILED WHAT (exit N)"; counts failures
# in $failures.
failures=0
check() {
  what=$1; shift
  if "$@"; then
    echo "ok $what"
  else
    echo "FAILED $what (exit $?)"
    failures=$((failures + 1))
  fi
}
