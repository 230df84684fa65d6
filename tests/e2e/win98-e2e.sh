#!/usr/bin/env bash
# The real program, combined with a demo image, run under wine in Windows 98 mode with the emulator
# wnaspi32.dll, and driven from outside as a user would: read the window, click Upgrade, answer
# the restart prompt. Checked by what the window shows and by the emulated drive's flash and log.
#   win98-e2e.sh --arch A --prefix P --exe FlashUpgrade.exe --dll wnaspi32.dll --probe control_probe.exe
#                --combine COMBINE --image-tool make_demo_image --work DIR
set -u
while [ $# -gt 0 ]; do
  case $1 in
    --arch) E2E_ARCH=$2 ;; --prefix) E2E_PREFIX=$2 ;; --exe) exe=$2 ;; --dll) dll=$2 ;;
    --probe) E2E_PROBE=$2 ;; --combine) combine=$2 ;; --image-tool) image_tool=$2 ;; --work) work=$2 ;;
    *) echo "unknown argument $1"; exit 2 ;;
  esac
  shift 2
done
rm -rf "$work"; mkdir -p "$work/screens"
E2E_LOG_DIR=$work
export E2E_ARCH E2E_PREFIX E2E_PROBE E2E_LOG_DIR
source "$(dirname "$0")/gui-lib.sh"
source "$(dirname "$0")/e2e-checks.sh"


title='Flash Upgrade Program 1.51'
prompt='DVD Firmware Upgrade Program - Restart System'
caption='DVD Firmware Upgrade Program'

# run_program DIR: starts the program in DIR, which holds it, the DLL (maybe) and the drive's setup.
run_program() {
  (cd "$1" && FLASHUPGRADE_ASPI_CONFIG="$1/drives.cfg" WINEDLLOVERRIDES="wnaspi32=n;mscoree,mshtml=" \
     "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" "$1/FlashUpgrade.exe" >"$1/program.log" 2>&1; \
     echo $? >"$1/program.rc") &
}
program_ended() { [ -f "$1/program.rc" ]; }

# setup DIR EXE [DRIVE SETTINGS...]: a folder with the program, the DLL and one emulated drive.
setup() {
  local dir=$1 program=$2; shift 2
  mkdir -p "$dir"
  cp "$program" "$dir/FlashUpgrade.exe"
  cp "$dll" "$dir/wnaspi32.dll"
  cp "$work/old.bin" "$dir/flash.bin"
  echo "drive adapter=0 target=0 vendor=EMULATED product=\"DVD-RW FLASH\" controller=0x6E15 versionat=0x100 flash=flash.bin log=drive.log $*" >"$dir/drives.cfg"
}

"$image_tool" "$work/image.bin" 1 10 || exit 1
"$image_tool" "$work/old.bin" 1 5 || exit 1
"$combine" --image "$work/image.bin" --version 1.10 --output "$work/combined.exe" "$exe" >"$work/combine.log" 2>&1 || {
  cat "$work/combine.log"; exit 1; }

e2e_xvfb || exit 1
trap e2e_stop_all EXIT
e2e_prefix win98 || exit 1

echo "# upgrade of a drive that holds version 1.5"
dir=$work/upgrade
setup "$dir" "$work/combined.exe"
run_program "$dir"
check "the dialog opens with its title" wait_until 60 window_shown "$title"
check_equal "title" "$(probe "$title" 0 title)" "$title"
check_equal "the drive's line in the drop-down" "$(probe "$title" 1000 entries)" \
  "(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5"
check_equal "the drop-down is fixed for one drive" "$(probe "$title" 1000 enabled)" 0
check_equal "Upgrade is enabled" "$(probe "$title" 1010 enabled)" 1
screenshot "$work/screens/before-upgrade.png"
check "Upgrade is clicked" click_control "$title" 1010
check "the upgrade succeeds" wait_until 120 text_is "$title" 1004 "Upgrade Firmware Successful!!"
check_equal "the progress bar is full" "$(probe "$title" 1001 position)" 100
screenshot "$work/screens/after-upgrade.png"
check "the flash holds the image" cmp -s "$dir/flash.bin" "$work/image.bin"
check_equal "8 writes and read-backs in order, then 1 commit" "$(log_letters "$dir/drive.log")" "IQWRWRWRWRWRWRWRWRC"
check "Exit is clicked" click_control "$title" 1011
check "the restart prompt appears" wait_until 30 window_shown "$prompt"
screenshot "$work/screens/restart-prompt.png"
xdotool key Escape
check "Cancel ends the program" wait_until 30 program_ended "$dir"
check_equal "the program ended normally" "$(cat "$dir/program.rc" 2>/dev/null)" 0

echo "# a drive whose sixth chunk fails five times"
dir=$work/failing
setup "$dir" "$work/combined.exe" "fail=write:0x14000:5"
run_program "$dir"
check "the dialog opens" wait_until 60 window_shown "$title"
click_control "$title" 1010
check "the error is shown" wait_until 120 text_is "$title" 1004 "Error Happen in ID 1 OFFSET 0x4000"
check_equal "the buttons come back" "$(probe "$title" 1014 enabled)$(probe "$title" 1010 enabled)$(probe "$title" 1011 enabled)" 111
check_equal "no commit was sent" "$(log_letters "$dir/drive.log")" "IQWRWRWRWRWRWWWWW"
screenshot "$work/screens/failed-chunk.png"
click_control "$title" 1011
check "Exit ends the program at once" wait_until 30 program_ended "$dir"

echo "# the program as built, never combined"
dir=$work/uncombined
setup "$dir" "$exe"
run_program "$dir"
check "the dialog opens" wait_until 60 window_shown "$title"
check_equal "Upgrade is disabled" "$(probe "$title" 1010 enabled)" 0
check_equal "the placeholder is reported" "$(probe "$title" 1004 text)" "Need Combine firmware first !!"
screenshot "$work/screens/uncombined.png"
click_control "$title" 1011
check "Exit ends the program" wait_until 30 program_ended "$dir"

echo "# no ASPI manager"
dir=$work/no-aspi
setup "$dir" "$work/combined.exe"
rm -f "$dir/wnaspi32.dll"
run_program "$dir"
check "the start-up message appears" wait_until 60 window_shown "$caption"
check_equal "it names Windows 95/98 and ASPI, on two lines" "$(probe "$caption" 65535 text | tr '\n' '|')" \
  "Flash ROM Upgrade Program Initialized Failed (Windows 95/98)!!|ASPI for Win32 is not initialized!!|"
screenshot "$work/screens/no-aspi.png"
xdotool key Return
check "OK ends the program" wait_until 30 program_ended "$dir"
check "no dialog was shown" window_gone "$title"

checks_done
