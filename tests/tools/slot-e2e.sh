#!/usr/bin/env bash
# End to end through the firmware slot: a probe program reads its own slot before and after
# combine fills it, and every refusal of combine leaves the output as it was.
#
#   slot-e2e.sh --work DIR --probe PROBE --fixture FIXTURE --combine COMBINE
#               [--host-combine COMBINE] [--wine WINE_RUN ARCH PREFIX]
#
# PROBE, FIXTURE and COMBINE are built for the target; with --wine they are Windows programs run
# under wine, and --host-combine, a combine built for this machine, fills the Windows probe too.
# Wine's output must not go to a pipe, so every program writes to files that are read after.
set -u

work='' probe='' fixture='' combine='' host_combine='' wine_run='' wine_arch='' wine_prefix=''
while [ $# -gt 0 ]; do
  case $1 in
    --work) work=$2; shift 2 ;;
    --probe) probe=$2; shift 2 ;;
    --fixture) fixture=$2; shift 2 ;;
    --combine) combine=$2; shift 2 ;;
    --host-combine) host_combine=$2; shift 2 ;;
    --wine) wine_run=$2 wine_arch=$3 wine_prefix=$4; shift 4 ;;
    *) echo "slot-e2e: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$work" ] || [ -z "$probe" ] || [ -z "$fixture" ] || [ -z "$combine" ]; then
  echo "slot-e2e: --work, --probe, --fixture and --combine are needed" >&2
  exit 2
fi

rm -rf "$work" && mkdir -p "$work/logs" && cd "$work" || exit 1
exe=
[ -n "$wine_run" ] && exe=.exe
cp "$probe" "probe$exe" && cp "$fixture" "fixture$exe" && cp "$combine" "combine$exe" || exit 1

passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1"
  fi
}

# run_target PROGRAM ARGS...: a program built for the target; exit status in $status,
# output in logs/out and logs/err without carriage returns.
run_target() {
  if [ -n "$wine_run" ]; then
    "$wine_run" "$wine_arch" "$wine_prefix" "$@" >logs/out.raw 2>logs/err.raw
  else
    "$@" >logs/out.raw 2>logs/err.raw </dev/null
  fi
  status=$?
  tr -d '\r' <logs/out.raw >logs/out
  tr -d '\r' <logs/err.raw >logs/err
}

probe_says() {  # probe_says PROGRAM EXPECTED_LINE
  run_target "./$1"
  check "$1 runs" [ "$status" -eq 0 ]
  check "$1 reports '$2', got '$(cat logs/out)'" [ "$(cat logs/out)" = "$2" ]
}

# A deterministic image with every byte value: 251-byte blocks of (37 i + 11) mod 256.
block=''
for ((i = 0; i < 251; i++)); do
  printf -v escape '\\0%03o' $(((i * 37 + 11) % 256))
  block+=$escape
done
printf '%b' "$block" >block.bin
for ((i = 0; i < 523; i++)); do cat block.bin; done | head -c 131072 >image.bin
head -c 131071 image.bin >image-short.bin
{ cat image.bin; printf 'x'; } >image-long.bin
rm block.bin
sum=$(od -An -v -tu1 image.bin |
  awk '{ for (i = 1; i <= NF; i++) s += $i } END { printf "%04X", s % 65536 }')
check "image is 131072 bytes" [ "$(wc -c <image.bin)" -eq 131072 ]
check "image sums to DDBB as generated, od says $sum" [ "$sum" = DDBB ]

# --- The probe as built, then filled ---------------------------------------------------------
probe_says "probe$exe" "filled=0 version=INSE checksum_text=T_FI expected=0000 computed=0000"

shopt -s nullglob dotglob
listing() { printf '%s\n' *; }

filled_ok() {  # filled_ok OUT VERSION: the last combine run wrote OUT and nothing else
  check "combine wrote $1: exit $status" [ "$status" -eq 0 ]
  check "combine reports $1" \
    [ "$(cat logs/out)" = "combine: wrote $1 (version $2, checksum $sum)" ]
  check "combine is silent on stderr for $1" [ ! -s logs/err ]
  local temporaries=(*.tmp)
  check "no temporary file left by $1" [ "${#temporaries[@]}" -eq 0 ]
}

run_target "./combine$exe" --image image.bin --version 1.10 --output "filled$exe" "probe$exe"
filled_ok "filled$exe" 1.10
check "filled program is as long as the probe" \
  [ "$(wc -c <"filled$exe")" -eq "$(wc -c <"probe$exe")" ]
[ -z "$wine_run" ] && check "filled program stays executable" [ -x filled ]
probe_says "filled$exe" "filled=1 version=1.10 checksum_text=$sum expected=$sum computed=$sum"

run_target "./combine$exe" --image image.bin --version 7 --output "seven$exe" "probe$exe"
filled_ok "seven$exe" 7
probe_says "seven$exe" "filled=1 version=7 checksum_text=$sum expected=$sum computed=$sum"

if [ -n "$host_combine" ]; then
  "$host_combine" --image image.bin --version 1.10 --output "host$exe" "probe$exe" \
    >logs/out 2>logs/err </dev/null
  status=$?
  filled_ok "host$exe" 1.10
  check "host combine and target combine write the same bytes" cmp -s "host$exe" "filled$exe"
  probe_says "host$exe" "filled=1 version=1.10 checksum_text=$sum expected=$sum computed=$sum"
fi

for kind in elf pe; do
  run_target "./fixture$exe" "$kind" "$kind-slot"
  check "fixture writes $kind-slot" [ "$status" -eq 0 ]
  run_target "./combine$exe" --image image.bin --version 2.0 --output "$kind-filled" "$kind-slot"
  filled_ok "$kind-filled" 2.0
done
for kind in elf-nobits elf-malformed pe-short raw; do
  run_target "./fixture$exe" "$kind" "$kind"
  check "fixture writes $kind" [ "$status" -eq 0 ]
done
cat "probe$exe" "probe$exe" >"twice$exe"
mkdir programdir outdir && echo keep >outdir/keep
truncate -s 257M huge
cp "probe$exe" "self$exe"

# --- Refusals ---------------------------------------------------------------------------------
# refuse_once STATUS OUT REASON ARGS...: combine exits with STATUS, says "combine: REASON" (a
# glob) and, for argument errors (status 2), the usage line; no file appears, changes or stays
# behind. The caller prepares OUT.
usage="usage: combine --image IMAGE --version TEXT --output OUT PROGRAM"
refuse_once() {
  local want=$1 out=$2 reason=$3
  shift 3
  local before after outsum_before outsum_after
  before=$(listing)
  outsum_before=$( [ -f "$out" ] && cksum <"$out")
  run_target "./combine$exe" "$@"
  after=$(listing)
  outsum_after=$( [ -f "$out" ] && cksum <"$out")
  local what="refusal '$reason' (output $out${outsum_before:+, present})"
  check "$what: exit $status, want $want" [ "$status" -eq "$want" ]
  check "$what: nothing on stdout" [ ! -s logs/out ]
  local first said=no
  first=$(head -n1 logs/err)
  # The reason is a glob on purpose: system error texts differ between C libraries.
  [[ $first == "combine: "$reason ]] && said=yes
  check "$what: stderr says it, got '$first'" [ "$said" = yes ]
  if [ "$want" -eq 2 ]; then
    check "$what: usage follows" [ "$(tail -n +2 logs/err)" = "$usage" ]
  else
    check "$what: one line" [ "$(wc -l <logs/err)" -eq 1 ]
  fi
  check "$what: no file added or removed" [ "$before" = "$after" ]
  check "$what: output untouched" [ "$outsum_before" = "$outsum_after" ]
}

# refuse STATUS REASON ARGS...: once without OUT, once with an OUT that must survive.
refuse() {
  local want=$1 reason=$2
  shift 2
  rm -f "out$exe"
  refuse_once "$want" "out$exe" "$reason" "$@"
  echo "previous output" >"out$exe"
  refuse_once "$want" "out$exe" "$reason" "$@"
  rm -f "out$exe"
}

o=(--output "out$exe")
refuse 1 "image image-short.bin is 131071 bytes; it must be 131072" \
  --image image-short.bin --version 1.10 "${o[@]}" "probe$exe"
refuse 1 "image image-long.bin is 131073 bytes; it must be 131072" \
  --image image-long.bin --version 1.10 "${o[@]}" "probe$exe"
refuse 1 'version "" must be 1 to 4 characters' --image image.bin --version "" "${o[@]}" "probe$exe"
refuse 1 'version "1.100" must be 1 to 4 characters' \
  --image image.bin --version 1.100 "${o[@]}" "probe$exe"
refuse 1 "no firmware slot in combine$exe" --image image.bin --version 1.10 "${o[@]}" "combine$exe"
refuse 1 "2 firmware slots in twice$exe; it must have one" \
  --image image.bin --version 1.10 "${o[@]}" "twice$exe"
refuse 1 "firmware slot in filled$exe is already filled" \
  --image image.bin --version 1.10 "${o[@]}" "filled$exe"
refuse 1 "firmware slot in elf-nobits is not inside file-backed section data" \
  --image image.bin --version 1.10 "${o[@]}" elf-nobits
refuse 1 "firmware slot in pe-short is not inside file-backed section data" \
  --image image.bin --version 1.10 "${o[@]}" pe-short
refuse 1 "elf-malformed has malformed ELF or PE headers" \
  --image image.bin --version 1.10 "${o[@]}" elf-malformed
refuse 1 "raw is neither an ELF nor a PE program" --image image.bin --version 1.10 "${o[@]}" raw
refuse 1 "cannot read absent.bin: *" --image absent.bin --version 1.10 "${o[@]}" "probe$exe"
refuse 1 "cannot read absent$exe: *" --image image.bin --version 1.10 "${o[@]}" "absent$exe"
refuse 1 "cannot read programdir: *" --image image.bin --version 1.10 "${o[@]}" programdir
refuse 1 "huge is larger than 256 MiB" --image image.bin --version 1.10 "${o[@]}" huge
refuse 2 "missing --image" --version 1.10 "${o[@]}" "probe$exe"
refuse 2 "missing PROGRAM" --image image.bin --version 1.10 "${o[@]}"
refuse 2 "unknown option --force" --image image.bin --version 1.10 --force "${o[@]}" "probe$exe"
refuse 2 "--version given twice" \
  --image image.bin --version 1.10 --version 1.20 "${o[@]}" "probe$exe"
refuse 2 "more than one PROGRAM: seven$exe" \
  --image image.bin --version 1.10 "${o[@]}" "probe$exe" "seven$exe"
refuse 2 "--output needs a value" --image image.bin --version 1.10 "probe$exe" --output
refuse_once 2 "out$exe" "missing --image"

refuse_once 1 "missing/out$exe" "cannot write missing/out$exe: *" \
  --image image.bin --version 1.10 --output "missing/out$exe" "probe$exe"
refuse_once 1 outdir/keep "cannot write outdir: *" \
  --image image.bin --version 1.10 --output outdir "probe$exe"
check "output directory keeps its contents" [ "$(ls -A outdir)" = keep ]
refuse_once 1 "self$exe" "output ./self$exe is PROGRAM itself; write to another file" \
  --image image.bin --version 1.10 --output "./self$exe" "self$exe"
check "program given as output is unchanged" cmp -s "self$exe" "probe$exe"

rm -f huge  # sparse, but 257 MiB to anything that copies the build tree
echo "slot-e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
