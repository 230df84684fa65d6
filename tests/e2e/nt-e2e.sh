#!/usr/bin/env bash
# The real program, combined with a demo image, run under wine on the NT path: the emulated SCSI
# port driver makes the ports, the device map and the CD-ROM devices, the program finds its drive
# through the registry and DOS names and upgrades it with SCSI pass-through. Checked by what the
# window shows, by the drive's flash and command log, and by the driver's own log of every open
# (with the access and sharing asked for), I/O control envelope and close.
#   nt-e2e.sh --arch A --prefix P --exe FlashUpgrade.exe --setup scsiport-setup.exe
#             --probe control_probe.exe --combine COMBINE --image-tool make_demo_image --work DIR
# scsiport-setup.exe finds EmulatedScsiPort.sys beside itself.
set -u
while [ $# -gt 0 ]; do
  case $1 in
    --arch) E2E_ARCH=$2 ;; --prefix) E2E_PREFIX=$2 ;; --exe) exe=$2 ;; --setup) setup_tool=$2 ;;
    --probe) E2E_PROBE=$2 ;; --combine) combine=$2 ;; --image-tool) image_tool=$2 ;; --work) work=$2 ;;
    *) echo "unknown argument $1"; exit 2 ;;
  esac
  shift 2
done
rm -rf "$work"; mkdir -p "$work/screens"
E2E_LOG_DIR=$work
export E2E_ARCH E2E_PREFIX E2E_PROBE E2E_LOG_DIR
here=$(cd "$(dirname "$0")" && pwd)
source "$here/gui-lib.sh"
source "$here/e2e-checks.sh"


title='Flash Upgrade Program 1.51'
prompt='DVD Firmware Upgrade Program - Restart System'
caption='DVD Firmware Upgrade Program'

# The pass-through envelopes as this build of the program lays them out: 32-bit Windows puts the
# sense at 48 and the data at 80 (a 592-byte buffered area, an 80-byte direct one); a 64-bit build
# has 8-byte pointers, so its structures and offsets are larger.
if [ "$E2E_ARCH" = win32 ]; then
  spt=44 sense=48 data=80 direct=80
else
  spt=56 sense=60 data=92 direct=96
fi
read_write=0x0012019F read_only=0x00120089

# machine DIR VERSION CONFIG-LINES...: installs the driver with that machine, restarts wine so that
# it loads, and sets the Windows version the program sees ("default" for wine's own).
machine() {
  local dir=$1 version=$2; shift 2
  mkdir -p "$dir"
  printf '%s\n' "driver log=events.log" "$@" >"$dir/machine.cfg"
  (cd "$dir" && e2e_wine "$setup_tool" machine.cfg >"$dir/setup.log" 2>&1) || { cat "$dir/setup.log"; return 1; }
  "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" --stop
  "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" --start
  wait_until 60 grep -q -E '^(READY|FAILED)' "$dir/events.log" || { echo "the driver did not load"; return 1; }
  grep -q '^READY' "$dir/events.log" || { head -3 "$dir/events.log"; return 1; }
  if [ "$version" = default ]; then
    e2e_wine reg delete 'HKCU\Software\Wine\AppDefaults\FlashUpgrade.exe' /v Version /f >>"$dir/setup.log" 2>&1
  else
    e2e_wine reg add 'HKCU\Software\Wine\AppDefaults\FlashUpgrade.exe' /v Version /d "$version" /f >>"$dir/setup.log" 2>&1
  fi
  return 0
}

run_program() {  # run_program DIR PROGRAM
  cp "$2" "$1/FlashUpgrade.exe"
  (cd "$1" && "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" "$1/FlashUpgrade.exe" >"$1/program.log" 2>&1; \
     echo $? >"$1/program.rc") &
}
program_ended() { [ -f "$1/program.rc" ]; }
selection_is() { [ "$(probe "$title" 1000 selection)" = "$1" ]; }

# The driver's log, reduced: the device, access and sharing of every open ...
opens() { awk '$1 == "OPEN" { for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
                              print v["device"], v["access"], v["share"] }' "$1"; }
# ... every I/O control with the lengths it came with, and a pass-through's envelope and CDB ...
controls() { awk '$1 ~ /^(GET_INQUIRY_DATA|PASS_THROUGH|PASS_THROUGH_DIRECT|CONTROL)$/ {
                    delete v; for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
                    line = $1 " " v["device"] " in=" v["in"] " out=" v["out"]
                    if ($1 != "GET_INQUIRY_DATA") line = line " length=" v["length"] " path=" v["path"] " target=" v["target"] \
                      " lun=" v["lun"] " sense=" v["senselength"] "@" v["senseoffset"] " datain=" v["datain"] \
                      " transfer=" v["transfer"] " timeout=" v["timeout"] \
                      ($1 == "PASS_THROUGH" ? " data@" v["dataoffset"] : " buffer=" v["buffer"]) " cdb=" v["cdb"]
                    print line }' "$1"; }
# ... and every open must have been closed, each close belonging to an open. Checked while the
# program still runs (its exit would close whatever it left open); a close reaches the driver a
# moment after the program's CloseHandle, hence the wait.
all_closed() { [ "$(unclosed "$1")" = 0 ]; }
unclosed() { awk '$1 == "OPEN" { split($2, f, "="); open[f[2]]++ }
                  $1 == "CLOSE" { split($2, f, "="); if (open[f[2]] > 0) open[f[2]]--; else bad++ }
                  END { n = bad + 0; for (k in open) n += open[k]; print n }' "$1"; }

# What the scan and an upgrade of the 128 KiB image send to the drive at PATH TARGET on DEVICE.
scan_controls() {  # DEVICE PATH TARGET
  echo "PASS_THROUGH $1 in=$spt out=$((data + 512)) length=$spt path=$2 target=$3 lun=0 sense=24@$sense datain=1 transfer=512 timeout=256 data@$data cdb=12000000C000"
  echo "PASS_THROUGH $1 in=$data out=$((data + 192)) length=$spt path=$2 target=$3 lun=0 sense=24@$sense datain=1 transfer=192 timeout=256 data@$data cdb=3C01000000000000C000"
}
upgrade_controls() {  # DEVICE PATH TARGET
  local chunk id offset cdb_place
  for chunk in 0 1 2 3 4 5 6 7; do
    id=$(printf '%02X' $((chunk / 4))); offset=$(printf '%06X' $(((chunk % 4) * 0x4000)))
    cdb_place="$id$offset"
    echo "PASS_THROUGH_DIRECT $1 in=$direct out=$direct length=$spt path=$2 target=$3 lun=0 sense=24@$sense datain=0 transfer=16384 timeout=256 buffer=caller cdb=3B07${cdb_place}00400000"
    echo "PASS_THROUGH_DIRECT $1 in=$direct out=$direct length=$spt path=$2 target=$3 lun=0 sense=24@$sense datain=1 transfer=16384 timeout=256 buffer=caller cdb=3C02${cdb_place}00400000"
  done
  echo "PASS_THROUGH_DIRECT $1 in=$direct out=$direct length=$spt path=$2 target=$3 lun=0 sense=24@$sense datain=0 transfer=0 timeout=256 buffer=null cdb=3B040000000000000000"
}

"$image_tool" "$work/image.bin" 1 10 || exit 1
"$image_tool" "$work/old.bin" 1 5 || exit 1
"$combine" --image "$work/image.bin" --version 1.10 --output "$work/combined.exe" "$exe" >"$work/combine.log" 2>&1 || {
  cat "$work/combine.log"; exit 1; }

e2e_xvfb || exit 1
trap e2e_stop_all EXIT
e2e_prefix win2k || exit 1

drive_keys='vendor=EMULATED product="DVD-RW FLASH" controller=0x6E15 versionat=0x100'
# An IDE port and a port of another kind, a drive behind each.
ide_and_other_port=(
  "port number=0"
  "port number=1 device=\\Device\\Scsi\\EmulatedPort1"
  "drive port=0 bus=0 target=0 letter=E $drive_keys flash=flash0.bin log=drive0.log"
  "drive port=1 bus=0 target=0 letter=F $drive_keys flash=flash1.bin log=drive1.log")

echo "# Windows 2000: an IDE port and a port of another kind, a drive behind each"
dir=$work/win2k
mkdir -p "$dir"; cp "$work/old.bin" "$dir/flash0.bin"; cp "$work/old.bin" "$dir/flash1.bin"
check "the driver loads with the machine" machine "$dir" win2k "${ide_and_other_port[@]}"
run_program "$dir" "$work/combined.exe"
check "the dialog opens with its title" wait_until 60 window_shown "$title"
check_equal "only the drive behind the IDE port is listed" "$(probe "$title" 1000 entries)" \
  "(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5"
probe "$title" 0 handles >"$dir/handles.txt"
check "the program's handles can be listed" test -s "$dir/handles.txt"
check_equal "after the scan no device map key, port or drive is held open" \
  "$(grep -i -E 'devicemap\\scsi|\\device\\(cdrom|ide|scsi)' "$dir/handles.txt")" ""
screenshot "$work/screens/nt-before-upgrade.png"
check "Upgrade is clicked" click_control "$title" 1010
check "the upgrade succeeds" wait_until 120 text_is "$title" 1004 "Upgrade Firmware Successful!!"
check_equal "the progress bar is full" "$(probe "$title" 1001 position)" 100
check "the scan's and the upgrade's handles are closed" wait_until 10 all_closed "$dir/events.log"
screenshot "$work/screens/nt-after-upgrade.png"
check "the flash holds the image" cmp -s "$dir/flash0.bin" "$work/image.bin"
check "the other drive's flash is untouched" cmp -s "$dir/flash1.bin" "$work/old.bin"
check_equal "8 writes and read-backs in order, then 1 commit" "$(log_letters "$dir/drive0.log")" "IQWRWRWRWRWRWRWRWRC"
check_equal "the other drive received nothing" "$(log_letters "$dir/drive1.log")" ""
check "Exit is clicked" click_control "$title" 1011
check "the restart prompt appears" wait_until 30 window_shown "$prompt"
xdotool key Escape
check "Cancel ends the program" wait_until 30 program_ended "$dir"
check_equal "the program ended normally" "$(cat "$dir/program.rc" 2>/dev/null)" 0
check_equal "opened: the IDE port, the drive for the scan, the drive for the upgrade; read and write, shared" \
  "$(opens "$dir/events.log")" \
  "\\Device\\Ide\\IdePort0 $read_write 0x3
\\Device\\CdRom0 $read_write 0x3
\\Device\\CdRom0 $read_write 0x3"
check_equal "the envelopes and CDBs the driver saw" "$(controls "$dir/events.log")" \
  "GET_INQUIRY_DATA \\Device\\Ide\\IdePort0 in=0 out=2048
$(scan_controls '\Device\CdRom0' 0 0)
$(upgrade_controls '\Device\CdRom0' 0 0)"

echo "# wine's own Windows version: two drives, in port, bus and target order; the second is upgraded"
dir=$work/two-drives
mkdir -p "$dir"; cp "$work/old.bin" "$dir/flash0.bin"; cp "$work/old.bin" "$dir/flash1.bin"
check "the driver loads with the machine" machine "$dir" default \
  "port number=0" \
  "port number=1" \
  "drive port=1 bus=0 target=0 letter=E cdrom=0 $drive_keys product=\"SECOND DRIVE\" flash=flash1.bin log=drive1.log" \
  "drive port=0 bus=0 target=1 letter=F cdrom=1 $drive_keys flash=flash0.bin log=drive0.log"
run_program "$dir" "$work/combined.exe"
check "the dialog opens" wait_until 60 window_shown "$title"
check_equal "both drives are listed, port 0 first" "$(probe "$title" 1000 entries)" \
  "(0, 0, 1, 0) EMULATED DVD-RW FLASH     Version 1.5
(1, 0, 0, 0) EMULATED SECOND DRIVE     Version 1.5"
check "the drop-down is clicked" click_control "$title" 1000
# The drop-down's edit field has the focus now; the arrow key moves to the next entry.
xdotool key Down
check "the second entry is chosen" wait_until 10 selection_is 1
screenshot "$work/screens/nt-second-chosen.png"
check "Upgrade is clicked" click_control "$title" 1010
check "the upgrade succeeds" wait_until 120 text_is "$title" 1004 "Upgrade Firmware Successful!!"
check "the handles are closed" wait_until 10 all_closed "$dir/events.log"
check "the second drive holds the image" cmp -s "$dir/flash1.bin" "$work/image.bin"
check "the first drive is untouched" cmp -s "$dir/flash0.bin" "$work/old.bin"
check_equal "the first drive was only identified" "$(log_letters "$dir/drive0.log")" "IQ"
check_equal "the second drive was identified and upgraded" "$(log_letters "$dir/drive1.log")" "IQWRWRWRWRWRWRWRWRC"
click_control "$title" 1011
check "the restart prompt appears" wait_until 30 window_shown "$prompt"
xdotool key Escape
check "Cancel ends the program" wait_until 30 program_ended "$dir"

echo "# Windows 2000: a chunk that keeps failing"
dir=$work/failing
mkdir -p "$dir"; cp "$work/old.bin" "$dir/flash0.bin"
check "the driver loads with the machine" machine "$dir" win2k \
  "drive port=0 bus=0 target=0 $drive_keys flash=flash0.bin log=drive0.log fail=write:0x14000:5"
run_program "$dir" "$work/combined.exe"
check "the dialog opens" wait_until 60 window_shown "$title"
click_control "$title" 1010
check "the error is shown" wait_until 120 text_is "$title" 1004 "Error Happen in ID 1 OFFSET 0x4000"
check_equal "the buttons come back" "$(probe "$title" 1014 enabled)$(probe "$title" 1010 enabled)$(probe "$title" 1011 enabled)" 111
check_equal "no commit was sent" "$(log_letters "$dir/drive0.log")" "IQWRWRWRWRWRWWWWW"
check "the drive is closed after the failure" wait_until 10 all_closed "$dir/events.log"
check "the flash is as it was" cmp -s "$dir/flash0.bin" "$work/old.bin"
screenshot "$work/screens/nt-failed-chunk.png"
click_control "$title" 1011
check "Exit ends the program at once" wait_until 30 program_ended "$dir"

echo "# Windows NT 4: every port is scanned, drives are opened for reading only"
dir=$work/nt4
mkdir -p "$dir"; cp "$work/old.bin" "$dir/flash0.bin"; cp "$work/old.bin" "$dir/flash1.bin"
check "the driver loads with the machine" machine "$dir" nt40 "${ide_and_other_port[@]}"
run_program "$dir" "$work/combined.exe"
# Wine's server refuses pass-through on a handle without write access (error 5) before the
# driver sees it, so no drive can be accepted here; a real NT 4 lets it through.
check "the start-up message appears" wait_until 60 window_shown "$caption"
check_equal "it says no drive was found" "$(probe "$caption" 65535 text)" "No Optical Media Found!!"
check "the ports and drives the scan opened are closed" wait_until 10 all_closed "$dir/events.log"
screenshot "$work/screens/nt4-no-media.png"
xdotool key Return
check "OK ends the program" wait_until 30 program_ended "$dir"
check_equal "both ports and both drives were opened; the drives for reading only" "$(opens "$dir/events.log")" \
  "\\Device\\Ide\\IdePort0 $read_write 0x3
\\Device\\CdRom0 $read_only 0x1
\\Device\\Scsi\\EmulatedPort1 $read_write 0x3
\\Device\\CdRom1 $read_only 0x1"
check_equal "only the ports' inquiry data reached the driver" "$(controls "$dir/events.log")" \
  "GET_INQUIRY_DATA \\Device\\Ide\\IdePort0 in=0 out=2048
GET_INQUIRY_DATA \\Device\\Scsi\\EmulatedPort1 in=0 out=2048"
check_equal "the drives received nothing" "$(log_letters "$dir/drive0.log")$(log_letters "$dir/drive1.log")" ""

checks_done
