# In the guest: the upgrades that must stop, each between markers on its drive's generic node:
# a chunk that fails five times, a flash of 256 KiB, a drive held exclusively by another process,
# a user without access to the nodes, no terminal and no --yes; then a user of the nodes' group,
# who may upgrade; a back-up that does not fit; without the sg driver, the group member is refused
# and root is not; a drive that holds the image, with no terminal and no --yes, is left as it is.
. /lib/guest-lib.sh
. /opt/program-lib.sh
fu=/opt/flashupgrade

run list $fu list
check "list: every drive, the one whose identity ends with CHECK CONDITION included" output_is list out \
"1: (0, 0, 0, 0) EMULATED FAILING CHUNK    Version 1.0 /dev/sr0
2: (0, 0, 1, 0) EMULATED BIG FLASH        Version 1.0 /dev/sr1
3: (0, 0, 2, 0) EMULATED IDENTITY CHECK   Version 1.0 /dev/sr2
4: (0, 0, 3, 0) EMULATED PLAIN DRIVE      Version 1.0 /dev/sr3"

marker /dev/sg0
run chunk-fails $fu upgrade --drive 1 --yes
marker /dev/sg0
check "failing chunk after five written: exit 3" exited chunk-fails 3
check "failing chunk: the chunk named, then what to do" output_is chunk-fails out "Upgrade Firmware...
Error Happen in ID 1 OFFSET 0x4000
Do not power off or restart the computer or the drive: its firmware may be incomplete. Run the same upgrade again: $fu upgrade --device /dev/sr0"
check "failing chunk: the drive's sense in words" output_is chunk-fails err \
  "flashupgrade: /dev/sg0: the drive answered CHECK CONDITION, sense 04/44/00 HARDWARE ERROR, INTERNAL TARGET FAILURE"

marker /dev/sg1
run big-flash $fu upgrade --drive 2 --yes
marker /dev/sg1
check "256 KiB flash: exit 1" exited big-flash 1
check "256 KiB flash: the status line stays, the sizes follow" output_is big-flash out "Upgrade Firmware...
The drive's flash holds 262144 bytes, the image 131072: nothing was written"

# The question comes after the flash was read and compared, so the refusal does too.
marker /dev/sg3
run no-yes $fu upgrade --drive 4
marker /dev/sg3
check "no terminal, no --yes: exit 2" exited no-yes 2
check "no terminal, no --yes: asks for --yes" output_is no-yes err \
  "flashupgrade: no terminal to ask before writing the firmware: add --yes"

/opt/hold_exclusive /dev/sr3 >/tmp/hold.out 2>&1 &
holder=$!
waited=0
while ! grep -q holding /tmp/hold.out && [ "$waited" -lt 100 ]; do sleep 0.05; waited=$((waited + 1)); done
check "another process holds /dev/sr3 exclusively" grep -q "holding /dev/sr3" /tmp/hold.out
marker /dev/sg3
run held $fu upgrade --drive 4 --yes
marker /dev/sg3
kill "$holder"
wait "$holder" 2>/dev/null
check "held drive: exit 2" exited held 2
check "held drive: refused as busy" output_is held err \
  "flashupgrade: /dev/sr3: busy: mounted, or held open by another program"

/opt/hold_exclusive /dev/sg3 >/tmp/hold-sg.out 2>&1 &
holder=$!
waited=0
while ! grep -q holding /tmp/hold-sg.out && [ "$waited" -lt 100 ]; do sleep 0.05; waited=$((waited + 1)); done
check "another process holds /dev/sg3 exclusively" grep -q "holding /dev/sg3" /tmp/hold-sg.out
marker /dev/sr3
run held-sg $fu upgrade --drive 4 --yes
marker /dev/sr3
kill "$holder"
wait "$holder" 2>/dev/null
check "held generic node: exit 2" exited held-sg 2
check "held generic node: refused as busy" output_is held-sg err \
  "flashupgrade: /dev/sg3: busy: mounted, or held open by another program"

# A user of the machine who is not in the group of the drives' nodes.
echo 'outsider:x:1001:1001:outsider:/tmp:/bin/sh' >>/etc/passwd
echo 'outsider:x:1001:' >>/etc/group
as outsider outsider "$fu upgrade --drive 4 --yes"
check "no access: exit 2" exited outsider 2
check "no access: each node named with what is needed" says outsider err \
  "flashupgrade: /dev/sr3: no permission: needs root, or read and write access to /dev/sr3"
check "no access: the scan says it could open none" says outsider err \
  "flashupgrade: found 4 CD/DVD devices but could open none"

# user is in cdrom, the group of every /dev/sr* and /dev/sg* (0660).
as user group-id id
check "user is in the nodes' group" mentions group-id out "24(cdrom)"
marker /dev/sg3
as user group "$fu upgrade --drive 4 --yes"
marker /dev/sg3
check "group member: upgraded, or refused naming root" sh -c '
  { [ "$(cat /tmp/group.rc)" = 0 ] && grep -qx "Upgrade Firmware Successful!!" /tmp/group.out; } ||
  { [ "$(cat /tmp/group.rc)" = 2 ] && grep -q root /tmp/group.err; }'
check "group member: no chunk error" sh -c '! grep -q "Error Happen" /tmp/group.out'
figure group-exit "$(cat /tmp/group.rc)"

# A back-up that does not fit: the upgrade stops before its first write and leaves nothing.
mkdir -p /tmp/small
mount -t tmpfs -o size=64k tmpfs /tmp/small
marker /dev/sg2
run full-disk $fu upgrade --drive 3 --yes --backup /tmp/small/old.bin
marker /dev/sg2
check "back-up on a full disk: exit 2" exited full-disk 2
check "back-up on a full disk: nothing written" says full-disk out "Back-up not kept: nothing was written to the drive"
check "back-up on a full disk: no file left" test -z "$(ls -A /tmp/small)"

# Without the sg driver only the block nodes are left, through which the kernel lets only root
# send firmware: a group member is refused before anything is sent, root is not.
rmmod sg
check "the sg driver is unloaded" test ! -e /dev/sg0
marker /dev/sr2
as user no-sg "$fu upgrade --drive 3 --yes"
marker /dev/sr2
check "no generic node, group member: exit 2" exited no-sg 2
check "no generic node, group member: told that root is needed" mentions no-sg err "needs root"
marker /dev/sr2
run root-sr $fu upgrade --drive 3 --yes
marker /dev/sr2
check "no generic node, root: exit 0" exited root-sr 0
check "no generic node, root: upgraded" says root-sr out "Upgrade Firmware Successful!!"

# A drive that holds the image asks nothing, so no terminal and no --yes stand in its way. These
# drives report no version from their flash: it keeps reporting 1.0 until it restarts.
marker /dev/sr2
run held-image $fu upgrade --drive 3
marker /dev/sr2
check "holds the image, no terminal, no --yes: exit 0" exited held-image 0
check "holds the image: one line, nothing written" output_is held-image out \
  "Drive 3 already holds this image (version 1.10; it reports version 1.0 until it restarts): nothing written."
check "holds the image: nothing on stderr" output_is held-image err ""
exit "$failures"
