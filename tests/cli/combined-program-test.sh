#!/usr/bin/env bash
# The static program as built and as combine fills it: unfilled it refuses, combined it reports
# its image; combine refuses a file that is no image (a dump of another size).
#   combined-program-test.sh FLASHUPGRADE COMBINE MAKE_IMAGE WORK
set -eu
program=$1 combine=$2 make_image=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
fail() { echo "combined-program-test: $*" >&2; exit 1; }

file "$program" 2>/dev/null | grep -q 'statically linked' || fail "$program is not statically linked"

status=0
out=$("$program" image) || status=$?
[ "$status" -eq 1 ] && [ "$out" = "Need Combine firmware first !!" ] || fail "unfilled: '$out' exit $status"
status=0
out=$("$program" upgrade --yes) || status=$?
[ "$status" -eq 1 ] && [ "$out" = "Need Combine firmware first !!" ] || fail "unfilled upgrade: '$out' exit $status"

"$make_image" "$work/image.bin" 1 51
"$combine" --image "$work/image.bin" --version 1.51 --output "$work/flashupgrade" "$program" >/dev/null
checksum=$(python3 -c 'import sys; print("%04X" % (sum(open(sys.argv[1], "rb").read()) & 0xFFFF))' "$work/image.bin")
out=$("$work/flashupgrade" image)
[ "$out" = "image version 1.51, checksum $checksum, good" ] || fail "combined: '$out'"
out=$("$work/flashupgrade" --version)
[ "$out" = "flashupgrade 1.51" ] || fail "version: '$out'"

# A dump of a 256 KiB flash, or a cut one, is no image of this program.
for size in 262144 131071; do
  head -c "$size" /dev/zero >"$work/dump-$size.bin"
  if "$combine" --image "$work/dump-$size.bin" --version 1.0 --output "$work/wrong-$size" "$program" >/dev/null 2>&1; then
    fail "combine took a file of $size bytes"
  fi
  [ ! -e "$work/wrong-$size" ] || fail "combine left an output for a file of $size bytes"
done
echo "combined-program-test: unfilled refused, combined image $checksum reported, wrong sizes refused"
