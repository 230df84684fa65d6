# In the guest: flashupgrade where things go wrong, one drive per case (safety.cfg), each run
# between markers on the drive's generic node:
#   sg0 SIGTERM after the third chunk      sg1 Ctrl-C on its terminal after the third chunk
#   sg2 its terminal closed (SIGHUP)       sg3 Ctrl-C at the question
#   sg4 SIGKILL after the fourth chunk, then a second run
#   sg5 a refused commit                   sg6 a unit attention and NOT READY after the commit
. /lib/guest-lib.sh
. /opt/program-lib.sh
fu=/opt/flashupgrade
# The first open of a block node makes the kernel read the disc's table of contents: done here,
# outside the markers.
run list $fu list
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
# after_line FILE TEXT: waits (up to 30 s) until FILE holds TEXT.
after_line() {
  waited=0
  while ! grep -qF -- "$2" "$1" 2>/dev/null && [ "$waited" -lt 600 ]; do sleep 0.05; waited=$((waited + 1)); done
}
# signal_during NAME NODE LINE SIGNAL: upgrades NODE in the background with its commands traced,
# sends SIGNAL once the trace shows LINE, and keeps the output and status in /tmp/NAME.* as run does.
signal_during() {
  $fu upgrade --yes --device "$2" -v >"/tmp/$1.out" 2>"/tmp/$1.err" </dev/null &
  pid=$!
  after_line "/tmp/$1.err" "$3"
  kill "-$4" "$pid"
  wait "$pid"
  echo $? >"/tmp/$1.rc"
}
held_lines() { grep -c "received while image version 1.10 is written to" "$1"; }
third_chunk="3B 07 00 00 80 00 00 40 00 00"
fourth_chunk="3B 07 00 00 C0 00 00 40 00 00"

# SIGTERM, as a shutdown or a service manager sends it, after the third chunk.
marker /dev/sg0
signal_during term /dev/sr0 "$third_chunk" TERM
marker /dev/sg0
check "SIGTERM during the write: exit 0" exited term 0
check "SIGTERM during the write: the flash read back equals the image" says term out "flash equals image version 1.10"
check "SIGTERM during the write: one line says it was held" [ "$(held_lines /tmp/term.err)" = 1 ]

# Ctrl-C on the terminal the upgrade runs on, after the third chunk.
marker /dev/sg1
/opt/pty_run /tmp/intr.log "$third_chunk" 1 intr $fu upgrade --yes --device /dev/sr1 -v >/tmp/intr.out
echo $? >/tmp/intr.rc
marker /dev/sg1
check "Ctrl-C during the write: exit 0" exited intr 0
check "Ctrl-C during the write: one line says SIGINT was held" [ "$(grep -c "SIGINT received while" /tmp/intr.log)" = 1 ]
check "Ctrl-C during the write: the flash read back equals the image" grep -qF "flash equals image version 1.10" /tmp/intr.log

# The terminal closed after the third chunk: SIGHUP, and nowhere left to write.
marker /dev/sg2
/opt/pty_run /tmp/hup.log "$third_chunk" 1 hangup $fu upgrade --yes --device /dev/sr2 -v >/tmp/hup.out
echo $? >/tmp/hup.rc
marker /dev/sg2
check "terminal closed during the write: exit 0" exited hup 0

# Ctrl-C while the question waits for an answer: nothing written.
marker /dev/sg3
/opt/pty_run /tmp/question.log "[y/N]" 1 intr $fu upgrade --device /dev/sr3 >/tmp/question.out
echo $? >/tmp/question.rc
marker /dev/sg3
check "Ctrl-C at the question: exit 130" exited question 130
check "Ctrl-C at the question: nothing written, said so" grep -qF "flashupgrade: stopped by SIGINT: nothing was written to the drive" /tmp/question.log

# SIGKILL cannot be held: the next run writes the whole image all the same.
marker /dev/sg4
signal_during kill /dev/sr4 "$fourth_chunk" KILL
marker /dev/sg4
check "SIGKILL during the write: killed" exited kill 137
upgrade_again kill-again $fu /dev/sr4 /dev/sg4 "after SIGKILL the next run"

# The drive refuses the commit: the chunks are saved, the upgrade is not done.
marker /dev/sg5
run commit $fu upgrade --yes --device /dev/sr5
marker /dev/sg5
check "refused commit: exit 3" exited commit 3
check "refused commit: said" says commit out "The drive did not accept the commit of image version 1.10"
check "refused commit: the last line says what to do" [ "$(tail -1 /tmp/commit.out)" = "$(incomplete $fu /dev/sr5)" ]

# The drive restarts after the commit: a unit attention, then NOT READY three times.
marker /dev/sg6
run attention $fu upgrade --yes --device /dev/sr6
marker /dev/sg6
check "restart after the commit: exit 0" exited attention 0
check "restart after the commit: waited for, then the flash read back" says attention out "flash equals image version 1.10"

echo "figure failures $failures"
[ "$failures" -eq 0 ]
