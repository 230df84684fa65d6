# In the guest, a second boot: the back-up of the first, combined with its version, goes back.
. /lib/guest-lib.sh
check "before: drive 0 holds 1.10" sh -c "/opt/flashupgrade-back list | grep -qF '(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.10 /dev/sr0'"
check "the back-up's image" sh -c "/opt/flashupgrade-back image | grep -qx 'image version 1.5, checksum [0-9A-F]\{4\}, good'"
check "the way back" /opt/flashupgrade-back upgrade --yes --device /dev/sr0
check "after: drive 0 reports 1.5 again" sh -c "/opt/flashupgrade-back list | grep -qF '(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0'"
exit "$failures"
