# Guest-side helpers of the tests that run flashupgrade: . /opt/program-lib.sh after
# /lib/guest-lib.sh.

# clock_ms: the time since boot in milliseconds (busybox's date has no nanoseconds; the
# kernel's uptime counts hundredths of a second).
clock_ms() {
  read -r uptime _ </proc/uptime
  hundredths=${uptime#*.}
  echo $(( ${uptime%.*} * 1000 + ${hundredths#0} * 10 ))
}

# run NAME COMMAND...: runs COMMAND as a script would (no terminal on its input) and keeps its
# stdout, stderr, exit status and wall time in /tmp/NAME.{out,err,rc,ms}; the console shows them.
run() {
  name=$1; shift
  started=$(clock_ms)
  "$@" </dev/null >"/tmp/$name.out" 2>"/tmp/$name.err"
  echo $? >"/tmp/$name.rc"
  ended=$(clock_ms)
  echo $((ended - started)) >"/tmp/$name.ms"
  echo "--- $name: $* (exit $(cat "/tmp/$name.rc"), $(cat "/tmp/$name.ms") ms)"
  sed 's/^/  out: /' "/tmp/$name.out"
  sed 's/^/  err: /' "/tmp/$name.err"
}

# as USER NAME COMMAND...: run, as USER (with the groups /etc/group gives USER).
as() {
  user=$1 name=$2; shift 2
  run "$name" su -s /bin/sh "$user" -c "$*"
}

exited() { [ "$(cat "/tmp/$1.rc")" = "$2" ]; }          # exited NAME STATUS
output_is() { [ "$(cat "/tmp/$1.$2")" = "$3" ]; }       # output_is NAME out|err TEXT
says() { grep -qxF -- "$3" "/tmp/$1.$2"; }              # says NAME out|err LINE
mentions() { grep -qF -- "$3" "/tmp/$1.$2"; }           # mentions NAME out|err TEXT
# figure NAME VALUE: a number for the host's summary.
figure() { echo "figure $1 $2"; }

# incomplete PROGRAM NODE: the last line of an upgrade of NODE that wrote and did not complete.
incomplete() {
  echo "Do not power off or restart the computer or the drive: its firmware may be incomplete. Run the same upgrade again: $1 upgrade --device $2"
}

# upgrade_again NAME PROGRAM NODE GENERIC WHAT: the same upgrade once more, between markers on
# GENERIC; it must complete, with the flash read back equal to image version 1.10.
upgrade_again() {
  marker "$4"
  run "$1" "$2" upgrade --yes --device "$3"
  marker "$4"
  check "$5: exit 0" exited "$1" 0
  check "$5: the flash read back equals the image" says "$1" out "flash equals image version 1.10"
}
