#!/usr/bin/env bash
# What a shipped file imports must load on Windows 98 SE: every imported function on the list in
# win98-imports.txt, and no shared or debug compiler runtime (no such DLL is on the list).
#   check-imports.sh FILE...
# One "ok -" or "not ok -" line per file; exit 0 when all pass, 1 otherwise.
exec bash "$(dirname "$0")/check-win98-imports.sh" "$@"
