# In the guest, as root unless a step says otherwise: the combined flashupgrade on five drives
# (see flashupgrade.cfg). Markers around each step let the host cut the drive's log per step:
#   drive 0: [dry run] [upgrade with back-up] [upgrade --force as a member of the nodes' group]
#   drive 1: [the peer's write]     drive 3: [the failing upgrade]
#   drive 4: [upgrade --json] [the same upgrade again: nothing written]
. /lib/guest-lib.sh
fu=/opt/flashupgrade

# expect STATUS OUTFILE COMMAND...: runs COMMAND with stdout and stderr in OUTFILE; true when it
# exits with STATUS. The output goes to the console either way, for the host and for a reader.
expect() {
  want=$1 file=$2; shift 2
  "$@" >"$file" 2>&1 </dev/null
  got=$?
  sed 's/^/  | /' "$file"
  [ "$got" -eq "$want" ] || { echo "  exit $got, expected $want"; return 1; }
}
has() { grep -qxF "$2" "$1" || { echo "  no line: $2"; return 1; }; }
uptime_cs() { read up idle </proc/uptime; echo "$up" | tr -d .; }

check "list: the five drives in order" expect 0 /tmp/list $fu list
check "list line 1" has /tmp/list "1: (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0"
check "list line 2" has /tmp/list "2: (0, 0, 1, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr1"
check "list line 3: identity with CHECK CONDITION and valid data is listed" \
  has /tmp/list "3: (0, 0, 2, 0) EMULATED BIG FLASH        Version 1.0 /dev/sr2"
check "list line 4" has /tmp/list "4: (0, 0, 3, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr3"
check "list line 5" has /tmp/list "5: (0, 0, 4, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr4"
check "list: nothing else" test "$(wc -l </tmp/list)" -eq 5

check "image" expect 0 /tmp/image $fu image
check "image line" has /tmp/image "$(cat /opt/image-line.txt)"

check "verify before: differs" expect 1 /tmp/verify $fu verify --device /dev/sr0
check "verify before: its line" grep -q '^flash differs from image version 1.10 in [1-8] of 8 chunks$' /tmp/verify

check "several drives and none named: refused" expect 2 /tmp/unnamed $fu upgrade --yes

marker /dev/sg0
check "dry run" expect 0 /tmp/dry $fu upgrade --dry-run --yes --device /dev/sr0
marker /dev/sg0
check "dry run: says nothing was written" grep -q 'nothing was written' /tmp/dry

marker /dev/sg0
t0=$(uptime_cs)
check "upgrade with a back-up" expect 0 /tmp/up $fu upgrade --yes --backup /tmp/old.bin --device /dev/sr0
t1=$(uptime_cs)
marker /dev/sg0
check "upgrade: success text" has /tmp/up "Upgrade Firmware Successful!!"
check "upgrade: restart line" has /tmp/up "The new firmware takes effect when the drive restarts: power-cycle it or restart the computer."
check "upgrade: the flash read back after the commit" has /tmp/up "flash equals image version 1.10"
check "back-up equals the old flash" cmp /tmp/old.bin /opt/old-flash.bin
echo "time ours: $(( (t1 - t0) * 10 )) ms (back-up, 8 x (write, read-back, compare), commit, 200 ms pause)"

check "verify after: equals" expect 0 /tmp/verify2 $fu verify --device /dev/sr0
check "verify after: its line" has /tmp/verify2 "flash equals image version 1.10"
check "save" expect 0 /tmp/save $fu save /tmp/saved.bin --yes --device /dev/sr0
check "saved file equals the image" cmp /tmp/saved.bin /opt/image.bin
check "list shows the new version" sh -c "$fu list | grep -qF '(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.10 /dev/sr0'"

check "256 KiB flash: refused" expect 1 /tmp/big $fu upgrade --yes --device /dev/sr2
check "256 KiB flash: the dialog's text" has /tmp/big "Upgrade Firmware..."
check "256 KiB flash: the size line" has /tmp/big "The drive's flash holds 262144 bytes, the image 131072: nothing was written"

marker /dev/sg3
check "failing chunk after five written: exit 3" expect 3 /tmp/fail $fu upgrade --yes --device /dev/sr3
marker /dev/sg3
check "failing chunk: the error text" has /tmp/fail "Error Happen in ID 1 OFFSET 0x4000"
check "failing chunk: what to do" has /tmp/fail "Do not power off or restart the computer or the drive: its firmware may be incomplete. Run the same upgrade again: $fu upgrade --device /dev/sr3"

/opt/hold_exclusive /dev/sr0 >/tmp/hold 2>&1 &
holder=$!
sleep 1
check "the holder holds /dev/sr0" grep -qx "holding /dev/sr0" /tmp/hold
check "held drive: refused" expect 2 /tmp/held $fu upgrade --yes --device /dev/sr0
check "held drive: says busy" grep -q '/dev/s[rg]0: busy' /tmp/held
kill "$holder"; wait "$holder" 2>/dev/null

check "a user without access: exit 2" expect 2 /tmp/noaccess /opt/run_as 1000 1000 $fu upgrade --yes --device /dev/sr0
check "a user without access: the reason" grep -q 'no permission' /tmp/noaccess

# The drive holds the image already: --force has it written again, which a member of the nodes'
# group may do as well as root.
marker /dev/sg0
check "a member of the nodes' group upgrades (--force)" expect 0 /tmp/group /opt/run_as 1000 24 $fu upgrade --yes --force --device /dev/sr0
marker /dev/sg0
check "a member of the nodes' group: written again, as asked" \
  has /tmp/group "Drive 1 already holds this image (version 1.10): written again, as asked (--force)"
check "a member of the nodes' group: no chunk error" sh -c "! grep -q 'Error Happen' /tmp/group"
check "a member of the nodes' group: the flash read back after the commit" has /tmp/group "flash equals image version 1.10"

# The same drive upgraded twice, as JSON: the second run finds the image in the flash, writes
# nothing and says so. The drive reports the version in its flash, 1.10 once written.
json_head='{"command":"upgrade","image":"1.10","dryRun":false,"status":0,"drives":[{"number":5,"host":0,"channel":0,"target":4,"lun":0,'
marker /dev/sg4
check "upgrade --json: exit 0" expect 0 /tmp/json1 $fu upgrade --yes --json --device /dev/sr4
marker /dev/sg4
check "upgrade --json: the document, one line and nothing else" test "$(wc -l </tmp/json1)" -eq 1
check "upgrade --json: the command, the image, no dry run, the status, drive 5" grep -qF "$json_head" /tmp/json1
check "upgrade --json: written, a commit sent" grep -qF \
  '"status":0,"result":"upgraded","detail":"","device":"/dev/sr4","versionBefore":"1.5","imageVersion":"1.10","outcome":"written","changed":true}],"summary":"1 drive: 1 upgraded"}' /tmp/json1
marker /dev/sg4
check "the same upgrade again --json: exit 0" expect 0 /tmp/json2 $fu upgrade --yes --json --device /dev/sr4
marker /dev/sg4
check "again --json: the document, one line and nothing else" test "$(wc -l </tmp/json2)" -eq 1
check "again --json: the command, the image, no dry run, the status, drive 5" grep -qF "$json_head" /tmp/json2
check "again --json: unchanged, no commit sent" grep -qF \
  '"status":0,"result":"unchanged","detail":"the drive already holds this image (version 1.10): nothing written.","device":"/dev/sr4","versionBefore":"1.10","imageVersion":"1.10","outcome":"unchanged","changed":false}],"summary":"1 drive: 1 unchanged"}' /tmp/json2

# The peer on the same work: the same image in 16 KiB chunks with WRITE BUFFER mode 7, then the
# commit; it reads nothing back.
marker /dev/sg1
t0=$(uptime_cs)
ok=0
for chunk in 0 1 2 3 4 5 6 7; do
  sg_write_buffer -m 7 -i $((chunk / 4)) -o $(((chunk % 4) * 16384)) -l 16384 -s $((chunk * 16384)) \
    -I /opt/image.bin /dev/sg1 || ok=1
done
sg_raw /dev/sg1 3b 04 00 00 00 00 00 00 00 00 >/dev/null 2>&1 || ok=1
t1=$(uptime_cs)
marker /dev/sg1
check "the peer's writes and commit" test "$ok" -eq 0
echo "time peer: $(( (t1 - t0) * 10 )) ms (8 x write, commit; 9 processes)"

# The back-up leaves the guest on the console, for the way back.
echo "BACKUP-BEGIN"
base64 /tmp/old.bin
echo "BACKUP-END"
exit "$failures"
