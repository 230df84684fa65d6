#!/usr/bin/env bash
# The manual pages render without a warning. flashupgrade's names every option and command of
# --help, and --help every option of the page; combine's names the options of combine's usage
# and no other, and its synopsis is that usage.
#   manual-test.sh FLASHUPGRADE PAGE COMBINE COMBINE_PAGE
set -eu
program=$1 page=$2 combine=$3 combine_page=$4
fail() { echo "manual-test: $*" >&2; exit 1; }
command -v groff >/dev/null || { echo "manual-test: groff is not installed" >&2; exit 77; }

renders_cleanly() {
  local warnings
  warnings=$(groff -ww -man -Tutf8 -z "$1" 2>&1) || fail "groff failed on $1: $warnings"
  [ -z "$warnings" ] || fail "groff warns on $1: $warnings"
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null) || fail "man -l failed on $1: $warnings"
    [ -z "$warnings" ] || fail "man -l warns on $1: $warnings"
  fi
}
# The options of a page's OPTIONS section (its examples may show other programs' options).
page_options() {
  sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$1" | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u
}
renders_cleanly "$page"
renders_cleanly "$combine_page"

help=$("$program" --help)
help_options=$(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u)
page_options=$(page_options "$page")
missing=$(comm -23 <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options"))
[ -z "$missing" ] || fail "options of --help missing in the page: $missing"
extra=$(comm -13 <(printf '%s\n' "$help_options") <(printf '%s\n' "$page_options"))
[ -z "$extra" ] || fail "options of the page that --help does not list: $extra"

help_commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/p' | awk 'NF && !/:$/ {print $1}' | sort -u)
page_commands=$(sed -n '/^\.SH COMMANDS/,/^\.SH /p' "$page" | awk '/^\.TP/ {getline; print $2}' | sort -u)
[ "$help_commands" = "$page_commands" ] || fail "commands differ: help '$help_commands', page '$page_commands'"

# combine has no --help: its usage comes with a refused command line.
usage=$("$combine" 2>&1 | sed -n 's/^usage: //p')
[ -n "$usage" ] || fail "combine printed no usage"
usage_options=$(printf '%s\n' "$usage" | grep -o -- '--[a-z][a-z-]*' | sort -u)
combine_options=$(page_options "$combine_page")
[ "$usage_options" = "$combine_options" ] ||
  fail "combine's options differ: usage '$(echo $usage_options)', page '$(echo $combine_options)'"
# The synopsis is the usage with the installed name.
synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH /{/^\.SH /d;p}' "$combine_page" | sed 's/^\.[A-Z]* //; s/\\-/-/g' | tr '\n' ' ')
[ "${synopsis% }" = "flashupgrade-${usage}" ] || fail "combine's synopsis '${synopsis% }', usage '$usage'"
echo "manual-test: pages render cleanly; options: $(echo $help_options); combine's: $(echo $usage_options)"
