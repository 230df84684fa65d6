# In the guest: a duplicator tower, four drives upgraded at once (tower.cfg). Every run is
# between markers on all four generic nodes, so each drive's log has the same pairs:
#   1  upgrade --all on a terminal, Ctrl-C at its one question: each flash read, nothing written
#   2  upgrade --drive 1 alone (timed): drive 1 written, the others only listed
#   3  upgrade --all --force (timed): all four written, drive 1 again although it holds the image;
#      1-3 upgraded, 4 refuses its sixth chunk five times (incomplete)
#   4  upgrade --all on a terminal again, Ctrl-C at the question: it names drive 4 alone
#   5  upgrade --all --json, the same upgrade again: 1-3 unchanged, 4 upgraded
#   6  upgrade --all --force on a terminal: the progress rows, all four written again
. /lib/guest-lib.sh
. /opt/program-lib.sh
fu=/opt/flashupgrade
nodes="/dev/sg0 /dev/sg1 /dev/sg2 /dev/sg3"
markers() { for node in $nodes; do marker "$node"; done; }
# only_drive NAME N: every line of the standard error of run NAME belongs to drive N.
only_drive() { ! grep -qv "^Drive $2 /dev/sr$(($2 - 1)): " "/tmp/$1.err"; }
# no_restart_advice NAME: no line on the standard output of run NAME says to restart the drives.
no_restart_advice() { ! grep -q -e power-cycle -e 'restart the computer\.' "/tmp/$1.out"; }
# holds TEXT PART: TEXT holds PART.
holds() { case $1 in *"$2"*) ;; *) return 1 ;; esac; }
# none_said_upgraded LOG: no line of LOG reports a drive upgraded, nor counts one in the summary.
none_said_upgraded() { ! grep -qE ': upgraded|[0-9] upgraded' "$1"; }
# json_drive NAME N: the members of drive N's object in the document of run NAME (the objects of
# the drives hold no object of their own).
json_drive() { tr '{' '\n' <"/tmp/$1.out" | grep "^\"number\":$2,"; }
# json_drive_has NAME N MEMBER...: drive N's object holds every MEMBER ("key":value) as written.
json_drive_has() {
  object=$(json_drive "$1" "$2") && [ -n "$object" ] || return 1
  shift 2
  for member in "$@"; do
    holds "$object" "$member" || { echo "  drive object without $member: $object"; return 1; }
  done
}

# The first open of a block node makes the kernel read the disc's table of contents: done here,
# outside the markers.
run list $fu list
check "list: the four drives" output_is list out "$(for n in 0 1 2 3; do
  printf '%s: (0, 0, %s, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr%s\n' $((n + 1)) "$n" "$n"; done)"

# --- the one question --------------------------------------------------------------------------
# The question comes once every drive's flash was read and compared with the image, and names the
# drives that would be written.
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
markers
/opt/pty_run /tmp/question.log "[y/N]" 1 intr $fu upgrade --all >/tmp/question.out
echo $? >/tmp/question.rc
markers
sed 's/^/  tty: /' /tmp/question.log
check "Ctrl-C at the question of --all: exit 130" exited question 130
check "the question names the image's version and how many drives" \
  grep -qF "Write image version 1.10 to 4 drives at once:" /tmp/question.log
for n in 0 1 2 3; do
  check "the question names drive $((n + 1)) by its number, line of list and node" grep -qF \
    "  Drive $((n + 1)) (0, 0, $n, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr$n" /tmp/question.log
done
check "one question for the four drives" [ "$(grep -o '\[y/N\]' /tmp/question.log | wc -l)" = 1 ]
check "Ctrl-C at the question: says nothing was written" \
  grep -qF "flashupgrade: stopped by SIGINT: nothing was written to the drive" /tmp/question.log
check "Ctrl-C at the question: no drive reported upgraded" none_said_upgraded /tmp/question.log

# --- one drive alone ---------------------------------------------------------------------------
markers
run one $fu upgrade --drive 1 --yes
markers
check "upgrade --drive 1: exit 0" exited one 0
check "upgrade --drive 1: the flash read back equals the image" says one out "flash equals image version 1.10"
figure one-ms "$(cat /tmp/one.ms)"

# --- the tower -----------------------------------------------------------------------------------
# Drive 1 holds the image now: --force writes it all the same, so that four drives write at once.
again="the drive already holds this image (version 1.10): written again, as asked (--force)"
markers
run all $fu upgrade --all --yes --force
markers
figure all-ms "$(cat /tmp/all.ms)"
check "upgrade --all --force: exit 3, the status of the worst drive" exited all 3
check "upgrade --all --force: a line per drive in the order of list, then the summary" \
  [ "$(head -n 5 /tmp/all.out)" = "Drive 1 /dev/sr0: upgraded: $again
Drive 2 /dev/sr1: upgraded
Drive 3 /dev/sr2: upgraded
Drive 4 /dev/sr3: incomplete: $(incomplete $fu /dev/sr3)
4 drives: 3 upgraded, 1 incomplete" ]
# A drive that may hold half an image must not be restarted: no line may tell the user to.
check "upgrade --all --force: with a drive incomplete, no line says to power-cycle or restart" \
  no_restart_advice all
check "upgrade --all --force: drive 4's reasons on stderr, nothing of the others, no progress off a terminal" only_drive all 4
check "upgrade --all --force: drive 4's stderr names the chunk" says all err "Drive 4 /dev/sr3: Error Happen in ID 1 OFFSET 0x4000"
check "upgrade --all --force: drive 4's stderr gives the drive's sense" mentions all err "CHECK CONDITION, sense 04/44/00"
check "upgrade --all --force: drive 4's stderr says what to do" says all err "Drive 4 /dev/sr3: $(incomplete $fu /dev/sr3)"

# --- the question again: drive 4 alone would be written ---------------------------------------------
markers
/opt/pty_run /tmp/question4.log "[y/N]" 1 intr $fu upgrade --all >/tmp/question4.out
echo $? >/tmp/question4.rc
markers
sed 's/^/  tty: /' /tmp/question4.log
check "Ctrl-C at the question, drive 4 incomplete: exit 130" exited question4 130
check "the question names one drive" grep -qF "Write image version 1.10 to 1 drive:" /tmp/question4.log
check "the question names drive 4, the one whose flash differs" grep -qF \
  "  Drive 4 (0, 0, 3, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr3" /tmp/question4.log
check "the question leaves out the drives that hold the image" sh -c '! grep -q "^  Drive [123] " /tmp/question4.log'
check "Ctrl-C at the question, drive 4 incomplete: drive 4 not reported upgraded" none_said_upgraded /tmp/question4.log

# --- the same upgrade again, as JSON: only drive 4 is written ------------------------------------------
unchanged="the drive already holds this image (version 1.10): nothing written."
markers
run json $fu upgrade --all --yes --json
markers
figure json-ms "$(cat /tmp/json.ms)"
check "upgrade --all --json again: exit 0, drive 4 done too" exited json 0
check "--json: the command, the image, no dry run, the status" mentions json out \
  '{"command":"upgrade","image":"1.10","dryRun":false,"status":0,"drives":['
for n in 0 1 2; do
  check "--json: drive $((n + 1)): its address, node, status, result, and left as it is" json_drive_has json $((n + 1)) \
    "\"host\":0,\"channel\":0,\"target\":$n,\"lun\":0," "\"node\":\"/dev/sr$n\"" \
    "\"status\":0,\"result\":\"unchanged\",\"detail\":\"$unchanged\",\"device\":\"/dev/sr$n\",\"versionBefore\":\"1.10\",\"imageVersion\":\"1.10\",\"outcome\":\"unchanged\",\"changed\":false}"
done
check "--json: drive 4: its address, node, status, result, and written" json_drive_has json 4 \
  '"host":0,"channel":0,"target":3,"lun":0,' '"node":"/dev/sr3"' \
  '"status":0,"result":"upgraded","detail":"","device":"/dev/sr3","versionBefore":"1.5","imageVersion":"1.10","outcome":"written","changed":true}'
check "--json: no fifth drive" [ "$(tr '{' '\n' </tmp/json.out | grep -c '^"number":')" = 4 ]
check "--json: the summary" mentions json out '"summary":"4 drives: 1 upgraded, 3 unchanged"}'
check "--json: nothing on stderr" [ ! -s /tmp/json.err ]

# --- on a terminal: a progress line per drive, redrawn in place ------------------------------------
# All four hold the image: --force writes them again, each row through its eight chunks.
markers
/opt/pty_run /tmp/board.log "4 drives:" 1 none $fu upgrade --all --yes --force >/tmp/board.out
echo $? >/tmp/board.rc
markers
# The console gets the whole terminal output, escapes shown.
sed 's/^/  tty: /' /tmp/board.log | cat -v
esc=$(printf '\033') cr=$(printf '\r')
board=$(cat /tmp/board.log)
last=${board##*"${esc}[4A"}
check "on a terminal: exit 0" exited board 0
check "on a terminal: the four rows drawn again and again in place (cursor up four lines)" \
  [ "$(grep -o "${esc}\[4A" /tmp/board.log | wc -l)" -ge 4 ]
for n in 0 1 2 3; do
  check "on a terminal: drive $((n + 1))'s row, last drawn, says 8 of 8 chunks, done" holds "$last" \
    "$cr${esc}[KDrive $((n + 1)) /dev/sr$n [################################] 8/8 chunks done"
  check "on a terminal: drive $((n + 1))'s result after the rows" holds "$last" "Drive $((n + 1)) /dev/sr$n: upgraded: $again$cr"
done
check "on a terminal: the summary after the results" holds "${last#*"Drive 4 /dev/sr3: upgraded: $again"}" "4 drives: 4 upgraded"

echo "figure failures $failures"
[ "$failures" -eq 0 ]
