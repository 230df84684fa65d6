# In the guest: both drives are CD-ROMs in configuration order; a 16 KiB chunk goes to drive 0
# with sg_write_buffer (mode 7), comes back with READ BUFFER mode 2 and is committed (mode 4),
# between two markers.
. /lib/guest-lib.sh

listed() {  # listed INDEX VENDOR PRODUCT
  dev=/sys/class/scsi_device/0:0:$1:0/device
  # sysfs keeps the INQUIRY fields' padding.
  [ "$(cat "$dev/type")" = 5 ] || { echo "0:0:$1:0 is type $(cat "$dev/type")"; return 1; }
  [ "$(sed 's/ *$//' "$dev/vendor")" = "$2" ] || { echo "0:0:$1:0 vendor '$(cat "$dev/vendor")'"; return 1; }
  [ "$(sed 's/ *$//' "$dev/model")" = "$3" ] || { echo "0:0:$1:0 model '$(cat "$dev/model")'"; return 1; }
  [ "$(basename "$(readlink -f /sys/block/sr$1/device)")" = "0:0:$1:0" ] || { echo "sr$1 is not 0:0:$1:0"; return 1; }
  [ "$(basename "$(readlink -f /sys/class/scsi_generic/sg$1/device)")" = "0:0:$1:0" ] || { echo "sg$1 is not 0:0:$1:0"; return 1; }
}
check "drive 0 is a CD-ROM at 0:0:0:0 (sr0, sg0)" listed 0 EMULATED "DVD-RW FLASH"
check "drive 1 is a CD-ROM at 0:0:1:0 (sr1, sg1)" listed 1 OTHERMKR "SECOND DRIVE"
check "no third drive" test ! -e /dev/sg2

marker /dev/sg0
check "WRITE BUFFER mode 7, 16 KiB at buffer 1 offset 0x4000" \
  sg_write_buffer -m 7 -i 1 -o 0x4000 -l 16384 -I /opt/chunk.bin /dev/sg0
check "READ BUFFER mode 2 of the same place" \
  sg_raw -r 16384 -o /tmp/back.bin /dev/sg0 3c 02 01 00 40 00 00 40 00 00
check "WRITE BUFFER mode 4 (commit)" sg_raw /dev/sg0 3b 04 00 00 00 00 00 00 00 00
marker /dev/sg0
check "the chunk came back unchanged" cmp /opt/chunk.bin /tmp/back.bin
exit "$failures"
