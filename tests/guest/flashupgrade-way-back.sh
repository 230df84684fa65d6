# In the guest, a second boot: the back-up of the first, combined with its version, goes back.
# Version 1.5 is older than the 1.10 the drive runs: the program refuses it, as text and as JSON,
# until --allow-older asks for it. Markers on drive 0 around each upgrade:
#   [refused] [refused, --json] [--allow-older: the way back]
. /lib/guest-lib.sh
fu=/opt/flashupgrade-back
# attempt NAME COMMAND...: runs COMMAND between markers on /dev/sg0, its output (stdout and
# stderr) in /tmp/NAME and on the console, its exit status in /tmp/NAME.rc.
attempt() {
  name=$1; shift
  marker /dev/sg0
  "$@" >"/tmp/$name" 2>&1 </dev/null
  echo $? >"/tmp/$name.rc"
  marker /dev/sg0
  sed 's/^/  | /' "/tmp/$name"
}
exited() { [ "$(cat "/tmp/$1.rc")" = "$2" ]; }     # exited NAME STATUS
output_is() { [ "$(cat "/tmp/$1")" = "$2" ]; }     # output_is NAME TEXT

check "before: drive 0 holds 1.10" sh -c "$fu list | grep -qF '(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.10 /dev/sr0'"
check "the back-up's image" sh -c "$fu image | grep -qx 'image version 1.5, checksum [0-9A-F]\{4\}, good'"

attempt older $fu upgrade --yes --device /dev/sr0
check "the way back without --allow-older: exit 1" exited older 1
check "the way back without --allow-older: one line, why and what to add" output_is older \
  "Drive 1 runs version 1.10, newer than image version 1.5: nothing written; add --allow-older to write the older image"

attempt older-json $fu upgrade --yes --json --device /dev/sr0
check "the way back without --allow-older, --json: exit 1" exited older-json 1
check "--json: the command, the image, no dry run, the status" grep -qF \
  '{"command":"upgrade","image":"1.5","dryRun":false,"status":1,"drives":[{"number":1,' /tmp/older-json
check "--json: not written, refused as older, nothing changed" grep -qF \
  '"status":1,"result":"not written","detail":"the drive runs version 1.10, newer than image version 1.5: nothing written; add --allow-older to write the older image","device":"/dev/sr0","versionBefore":"1.10","imageVersion":"1.5","outcome":"refused-older","changed":false}],"summary":"1 drive: 1 not written"}' /tmp/older-json

attempt back $fu upgrade --yes --allow-older --device /dev/sr0
check "the way back with --allow-older: exit 0" exited back 0
check "the way back: the older image written, as asked" grep -qxF \
  "Drive 1 runs version 1.10, newer than image version 1.5: the older image is written, as asked (--allow-older)" /tmp/back
check "the way back: the flash read back equals the image" grep -qxF "flash equals image version 1.5" /tmp/back
check "after: drive 0 reports 1.5 again" sh -c "$fu list | grep -qF '(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0'"
exit "$failures"
