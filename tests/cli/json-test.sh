#!/usr/bin/env bash
# list --json, image --json and upgrade --json read by a real JSON parser: the documents parse and carry the
# facts of the text.
#   json-test.sh PROBE FLASHUPGRADE COMBINE MAKE_IMAGE WORK
set -eu
probe=$1 program=$2 combine=$3 make_image=$4 work=$5
rm -rf "$work" && mkdir -p "$work"

"$probe" list --json >"$work/list.json"
python3 - "$work/list.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
drives = doc["drives"]
assert len(drives) == 2, drives
first, second = drives
assert first == {"number": 1, "host": 0, "channel": 0, "target": 0, "lun": 0, "vendor": "EMULATED",
                 "product": "DVD-RW FLASH", "vendorField": "EMULATED", "productField": "DVD-RW FLASH    ",
                 "version": "1.5", "versionMajor": 1, "versionMinor": 5, "controllerId": "6E15",
                 "flashSize": 131072, "node": "/dev/sr0"}, first
assert (second["host"], second["target"], second["node"]) == (70000, 300, "/dev/sr1"), second
# Every byte comes through: the quote, the backslash, a control byte and a byte above 0x7F.
assert second["vendor"] == 'Q"\\\x01\xe9x', repr(second["vendor"])
assert second["vendorField"] == 'Q"\\\x01\xe9x  ', repr(second["vendorField"])
assert second["version"] == "2.10" and second["flashSize"] == 262144, second
PY

# An upgrade's document: each drive's outcome, and whether it changed.
status=0
"$probe" upgrade --drive 1,2 --yes --json >"$work/upgrade.json" 2>"$work/upgrade.err" || status=$?
[ "$status" -eq 1 ] || { echo "json-test: upgrade --json of a drive too big exited $status" >&2; exit 1; }
python3 - "$work/upgrade.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
assert (doc["command"], doc["image"], doc["dryRun"], doc["status"]) == ("upgrade", "1.51", False, 1), doc
written, big = doc["drives"]
pick = lambda d: {k: d[k] for k in ("device", "versionBefore", "imageVersion", "outcome", "changed", "status")}
assert pick(written) == {"device": "/dev/sr0", "versionBefore": "1.5", "imageVersion": "1.51",
                         "outcome": "written", "changed": True, "status": 0}, written
assert pick(big) == {"device": "/dev/sr1", "versionBefore": "2.10", "imageVersion": "1.51",
                     "outcome": "failed", "changed": False, "status": 1}, big
PY

# No drive: still one document, with an empty list.
status=0
"$probe" --empty-machine list --json >"$work/none.json" 2>"$work/none.err" || status=$?
[ "$status" -eq 1 ] || { echo "json-test: list --json without drives exited $status" >&2; exit 1; }
python3 -c 'import json,sys; assert json.load(open(sys.argv[1])) == {"drives": []}' "$work/none.json"

"$make_image" "$work/image.bin" 1 51
"$combine" --image "$work/image.bin" --version 1.51 --output "$work/flashupgrade" "$program" >/dev/null
"$work/flashupgrade" image --json >"$work/image.json"
python3 - "$work/image.json" "$work/image.bin" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
checksum = "%04X" % (sum(open(sys.argv[2], "rb").read()) & 0xFFFF)
assert doc == {"filled": True, "version": "1.51", "checksum": checksum, "computedChecksum": checksum,
               "size": 131072, "good": True}, doc
PY
status=0
"$program" image --json >"$work/unfilled.json" 2>/dev/null || status=$?
[ "$status" -eq 1 ] || { echo "json-test: image --json of an unfilled program exited $status" >&2; exit 1; }
python3 -c 'import json,sys; assert json.load(open(sys.argv[1])) == {"filled": False, "good": False}' "$work/unfilled.json"
echo "json-test: list, image and upgrade documents parse and hold the facts"
