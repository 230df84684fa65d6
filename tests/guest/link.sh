# In the guest, behind the paravirtual adapter: flashupgrade when the drive's link fails (link.cfg),
# each run between markers on the drive's generic node:
#   sg0 the link dropped at the fifth write, then a second run once the target serves it again
#   sg1 a write answered only after 8 s, --timeout 5
. /lib/guest-lib.sh
. /opt/program-lib.sh
fu=/opt/flashupgrade
# The first open of a block node makes the kernel read the disc's table of contents: done here,
# outside the markers.
run list $fu list

# The link dropped at the fifth write; the target refuses to serve the drive for a while.
marker /dev/sg0
run drop $fu upgrade --yes --device /dev/sr0 --timeout 5
marker /dev/sg0
check "link dropped: exit 3" exited drop 3
check "link dropped: the last line says what to do" [ "$(tail -1 /tmp/drop.out)" = "$(incomplete $fu /dev/sr0)" ]
figure drop-ms "$(cat /tmp/drop.ms)"
# Once the target serves the drive again, the same upgrade completes it.
waited=0
until sg_turs /dev/sg0 >/dev/null 2>&1 || [ "$waited" -ge 120 ]; do sleep 0.5; waited=$((waited + 1)); done
upgrade_again drop-again $fu /dev/sr0 /dev/sg0 "link back: the same upgrade again"

# A write the drive does not answer in time: one attempt, the time-out, status 3.
marker /dev/sg1
run hold $fu upgrade --yes --device /dev/sr1 --timeout 5
marker /dev/sg1
check "held write: exit 3" exited hold 3
check "held write: no answer within 5 s" says hold err "flashupgrade: /dev/sg1: the drive stopped answering: no answer within 5 s"
check "held write: the last line says what to do" [ "$(tail -1 /tmp/hold.out)" = "$(incomplete $fu /dev/sr1)" ]
figure hold-ms "$(cat /tmp/hold.ms)"
check "held write: over in less than 10 s" [ "$(cat /tmp/hold.ms)" -lt 10000 ]

echo "figure failures $failures"
[ "$failures" -eq 0 ]
