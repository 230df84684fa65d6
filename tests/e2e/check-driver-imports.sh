#!/usr/bin/env bash
# check-driver-imports.sh OBJDUMP DRIVER.sys: the emulated port driver is a native-subsystem image
# that imports from ntoskrnl.exe and kernelbase.dll only (Wine's device host refuses a driver that
# imports from kernel32 or ntdll, and there is no C runtime in the kernel).
set -u
objdump=$1 driver=$2
headers=$("$objdump" -p "$driver") || { echo "cannot read $driver"; exit 1; }
grep -q -E 'Subsystem[[:space:]]+0+1[[:space:]]+\(NT native\)' <<<"$headers" || { echo "$driver: not a native-subsystem image"; exit 1; }
dlls=$(grep 'DLL Name:' <<<"$headers" | awk '{print tolower($3)}' | sort -u | tr '\n' ' ')
echo "$driver imports from: $dlls"
[ "$dlls" = "kernelbase.dll ntoskrnl.exe " ] || { echo "expected imports from kernelbase.dll and ntoskrnl.exe only"; exit 1; }
