#!/usr/bin/env bash
# The manual page renders without a warning, and names every option and command of --help, and
# --help every option of the page.
#   manual-test.sh FLASHUPGRADE PAGE
set -eu
program=$1 page=$2
fail() { echo "manual-test: $*" >&2; exit 1; }
command -v groff >/dev/null || { echo "manual-test: groff is not installed" >&2; exit 77; }

warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1) || fail "groff failed: $warnings"
[ -z "$warnings" ] || fail "groff warns: $warnings"
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l failed: $warnings"
  [ -z "$warnings" ] || fail "man -l warns: $warnings"
fi

help=$("$program" --help)
help_options=$(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u)
# The page's own options are those of its OPTIONS section (its examples show combine's too).
page_options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u)
missing=$(comm -23 <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options"))
[ -z "$missing" ] || fail "options of --help missing in the page: $missing"
extra=$(comm -13 <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options"))
[ -z "$extra" ] || fail "options of the page that --help does not list: $extra"

help_commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/p' | awk 'NF && !/:$/ {print $1}' | sort -u)
page_commands=$(sed -n '/^\.SH COMMANDS/,/^\.SH /p' "$page" | awk '/^\.TP/ {getline; print $2}' | sort -u)
[ "$help_commands" = "$page_commands" ] || fail "commands differ: help '$help_commands', page '$page_commands'"
echo "manual-test: page renders cleanly; options: $(echo $help_options)"
