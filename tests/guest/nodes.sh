# In the guest: the names a drive goes by and where its adapter sits (nodes.cfg). Each run is
# between markers on the drive's generic node:
#   sg0 [upgrade --device /dev/sg0] [save over a file that exists]
#   sg1 [upgrade --device /dev/cdrom] [verify through a link to that link] [paths refused]
#       [verify --device /dev/cdrom at host 256]
#   sg2 [upgrade --device /dev/disk/by-path/...-scsi-0:0:2:0, a relative link]
#   sg3 [upgrade --device /dev/sr3 at host 256] [verify --drive 4]
#   sg4 [save over a file that exists] [save to a new name], both failing at the fifth chunk
#   sr0 a save over a file on a file system too small for the flash (no markers)
# Then the adapter comes back as SCSI host 256: host numbers come from an IDA (the lowest free
# number), so unbinding and binding it again gives it host 0 once more; with the adapter unbound,
# scsi_debug's 256 hosts (no targets of their own) take 0-255, and the adapter bound again gets 256.
. /lib/guest-lib.sh
. /opt/program-lib.sh
fu=/opt/flashupgrade

# line N HOST TARGET PRODUCT VERSION NODE: a line of list.
line() { printf '%s: (%s, 0, %s, 0) EMULATED %-16s Version %s %s\n' "$@"; }
# failed NAME: the run's exit status is not 0.
failed() { ! exited "$1" 0; }
# upgraded NAME WHAT: the upgrade of run NAME completed with the flash read back equal to the image.
upgraded() {
  check "$2: exit 0" exited "$1" 0
  check "$2: the flash read back equals the image" says "$1" out "flash equals image version 1.10"
}
# wait_drives COUNT: until COUNT block nodes and COUNT generic nodes are there (at most 20 s).
wait_drives() {
  waited=0
  while [ "$(ls -d /sys/block/sr* 2>/dev/null | wc -l)" -lt "$1" ] ||
        [ "$(ls /sys/class/scsi_generic 2>/dev/null | wc -l)" -lt "$1" ]; do
    [ "$waited" -lt 400 ] || return 1
    sleep 0.05
    waited=$((waited + 1))
  done
}
drives=$(cat /etc/guest-drives)

# The first open of a block node makes the kernel read the disc's table of contents: done here,
# outside the markers.
run list $fu list
check "list: the five drives at host 0" output_is list out "$(
  line 1 0 0 "GENERIC NODE" 1.5 /dev/sr0; line 2 0 1 LINKED 1.5 /dev/sr1; line 3 0 2 BY-PATH 1.5 /dev/sr2
  line 4 0 3 "HIGH HOST" 1.5 /dev/sr3; line 5 0 4 "FAILING DUMP" 1.5 /dev/sr4)"

# --- the generic node ----------------------------------------------------------------------------
marker /dev/sg0
run generic $fu upgrade --yes --device /dev/sg0
marker /dev/sg0
upgraded generic "--device /dev/sg0"

mkdir -p /tmp/saves
cp /opt/old-flash.bin /tmp/saves/generic.bin
marker /dev/sg0
run save-over $fu save /tmp/saves/generic.bin --yes --device /dev/sg0
marker /dev/sg0
check "save over a file that exists: exit 0" exited save-over 0
check "save over a file that exists: it holds the flash" cmp -s /tmp/saves/generic.bin /opt/image.bin
check "save over a file that exists: says so" mentions save-over out "Saved 131072 bytes of flash from"

# --- links -----------------------------------------------------------------------------------------
virtio=$(basename /sys/bus/virtio/drivers/virtio_scsi/virtio*)
pci=$(basename "$(dirname "$(readlink -f "/sys/bus/virtio/devices/$virtio")")")
ln -s /dev/sr1 /dev/cdrom
ln -s cdrom /dev/dvd
mkdir -p /dev/disk/by-path
bypath=/dev/disk/by-path/pci-$pci-scsi-0:0:2:0
ln -s ../../sr2 "$bypath"

marker /dev/sg1
run cdrom $fu upgrade --yes --device /dev/cdrom
marker /dev/sg1
upgraded cdrom "--device /dev/cdrom (a link to /dev/sr1)"

marker /dev/sg1
run dvd $fu verify --device /dev/dvd
marker /dev/sg1
check "--device /dev/dvd (a link to the link): verify says equal" says dvd out "flash equals image version 1.10"
check "--device /dev/dvd: exit 0" exited dvd 0

marker /dev/sg2
run bypath $fu upgrade --yes --device "$bypath"
marker /dev/sg2
upgraded bypath "--device $bypath (../../sr2)"

# Paths that name no drive: refused before anything is sent. A node of the other kind with a
# drive node's numbers is no node of that drive.
set -- $(stat -L -c '%t %T' /dev/sr1)
mknod /tmp/sr1-as-char c $((0x$1)) $((0x$2))
set -- $(stat -L -c '%t %T' /dev/sg1)
mknod /tmp/sg1-as-block b $((0x$1)) $((0x$2))
ln -s /dev/sr9 /dev/cdrw
ln -s /opt/image.bin /dev/cdrom-file
# refused NAME PATH LINE: upgrade --device PATH ends with exit 2 and LINE on the standard error.
refused() {
  run "$1" $fu upgrade --yes --device "$2"
  check "--device $2: exit 2" exited "$1" 2
  check "--device $2: $3" says "$1" err "$3"
}
marker /dev/sg1
refused missing /dev/sr9 "flashupgrade: /dev/sr9: no such file"
refused dangling /dev/cdrw "flashupgrade: /dev/cdrw: no such file"
refused file /dev/cdrom-file "flashupgrade: /dev/cdrom-file: not a device node"
refused null /dev/null "flashupgrade: no drive of the family at /dev/null"
refused char /tmp/sr1-as-char "flashupgrade: no drive of the family at /tmp/sr1-as-char"
refused block /tmp/sg1-as-block "flashupgrade: no drive of the family at /tmp/sg1-as-block"
marker /dev/sg1

# --- save: the fifth chunk unreadable ------------------------------------------------------------
cp /opt/image.bin /tmp/saves/kept.bin
marker /dev/sg4
run save-kept $fu save /tmp/saves/kept.bin --yes --device /dev/sr4
marker /dev/sg4
check "failed save over a file: exit not 0" failed save-kept
check "failed save over a file: the file is as it was" cmp -s /tmp/saves/kept.bin /opt/image.bin
marker /dev/sg4
run save-new $fu save /tmp/saves/new.bin --yes --device /dev/sr4
marker /dev/sg4
check "failed save to a new name: exit not 0" failed save-new
check "failed save: the chunk named" says save-kept out "Error Happen in ID 1 OFFSET 0x0000"
saves=$(ls -A /tmp/saves | tr '\n' ' ')
echo "in /tmp/saves: $saves"
check "failed saves: no new file, no temporary file beside the kept one" [ "$saves" = "generic.bin kept.bin " ]

# A file system with room for the old file but not for the flash beside it: the file is kept
# (a save that truncated it first would leave part of the flash in it).
mkdir -p /tmp/small && mount -t tmpfs -o size=96k tmpfs /tmp/small
head -c 65536 /opt/old-flash.bin >/tmp/small/kept.bin
cp /tmp/small/kept.bin /tmp/kept-copy.bin
run save-full $fu save /tmp/small/kept.bin --yes --device /dev/sr0
check "save to a full file system: exit 2" exited save-full 2
check "save to a full file system: the file is as it was" cmp -s /tmp/small/kept.bin /tmp/kept-copy.bin
check "save to a full file system: no temporary file" [ "$(ls -A /tmp/small)" = kept.bin ]

# --- SCSI host 256 ---------------------------------------------------------------------------------
started=$(clock_ms)
echo "$virtio" >/sys/bus/virtio/drivers/virtio_scsi/unbind
for m in $(cat /etc/guest-optional-modules); do
  case $m in
    scsi_debug) insmod "/lib/modules/optional/$m.ko" add_host=256 num_tgts=0 dev_size_mb=1 ;;
    *) insmod "/lib/modules/optional/$m.ko" ;;
  esac || echo "guest: insmod $m failed"
done
echo "$virtio" >/sys/bus/virtio/drivers/virtio_scsi/bind
wait_drives "$drives"
figure host-move-ms $(($(clock_ms) - started))
for node in /dev/sr* /dev/sg*; do chgrp cdrom "$node" && chmod 0660 "$node"; done
echo "SCSI hosts: $(ls /sys/class/scsi_host | wc -l); devices: $(ls /sys/bus/scsi/devices | grep -v -e host -e target | tr '\n' ' ')"
check "the drives' adapter is SCSI host 256" [ "$(ls /sys/bus/scsi/devices | grep -c '^256:0:[0-4]:0$')" = 5 ]

run list-high $fu list
check "list at host 256: the five drives, the real host number" output_is list-high out "$(
  line 1 256 0 "GENERIC NODE" 1.10 /dev/sr0; line 2 256 1 LINKED 1.10 /dev/sr1; line 3 256 2 BY-PATH 1.10 /dev/sr2
  line 4 256 3 "HIGH HOST" 1.5 /dev/sr3; line 5 256 4 "FAILING DUMP" 1.5 /dev/sr4)"
run json-high $fu list --json
check "list --json at host 256: the real host number" mentions json-high out '"host":256,"channel":0,"target":3,"lun":0'

marker /dev/sg3
run high $fu upgrade --yes --device /dev/sr3
marker /dev/sg3
upgraded high "host 256: upgrade --device /dev/sr3"

marker /dev/sg3
run high-number $fu verify --drive 4
marker /dev/sg3
check "host 256: verify --drive 4 says equal" says high-number out "flash equals image version 1.10"

marker /dev/sg1
run cdrom-high $fu verify --device /dev/cdrom
marker /dev/sg1
check "host 256: verify --device /dev/cdrom says equal" says cdrom-high out "flash equals image version 1.10"

echo "figure failures $failures"
[ "$failures" -eq 0 ]
