# Shared by the end-to-end tests: TAP-like checks and an emulated drive's command log read back.

failures=0 checks=0
check() {  # check DESCRIPTION COMMAND...
  local description=$1; shift
  checks=$((checks + 1))
  if "$@"; then echo "ok - $description"; else echo "not ok - $description"; failures=$((failures + 1)); fi
}
same() { [ "$2" = "$3" ] || { echo "    expected: $(tr '\n' '|' <<<"$3")"; echo "    actual:   $(tr '\n' '|' <<<"$2")"; return 1; }; }
check_equal() { checks=$((checks + 1)); if same "$@"; then echo "ok - $1"; else echo "not ok - $1"; failures=$((failures + 1)); fi; }
# The summary line; fails when a check failed.
checks_done() {
  echo "$((checks - failures)) of $checks checks passed"
  [ "$failures" -eq 0 ]
}

# The drive's log as letters: I inquiry, Q identity, W chunk written, R read back, D dump, C commit.
log_letters() {
  awk '/^#/ {next}
       $1 == "INQUIRY" {printf "I"; next}
       $1 == "WRITE_BUFFER" && $2 == "mode=7" {printf "W"; next}
       $1 == "WRITE_BUFFER" && $2 == "mode=4" {printf "C"; next}
       $1 == "READ_BUFFER" && $2 == "mode=2" {printf "R"; next}
       $1 == "READ_BUFFER" && $2 == "mode=1" && $6 == "control=0x01" {printf "D"; next}
       $1 == "READ_BUFFER" && $2 == "mode=1" {printf "Q"; next}
       {printf "?"}' "$1" 2>/dev/null
}
