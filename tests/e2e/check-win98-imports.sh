#!/usr/bin/env bash
# Every function a shipped file imports must be one Windows 98 SE's system DLLs export, as listed
# in win98-imports.txt beside this script (the list says how it was made). A DLL that is not on
# the list at all (a shared or debug compiler runtime, a DLL Windows 98 lacks) fails the same way.
#   check-win98-imports.sh [--list FILE] FILE...
# One "ok -" or "not ok -" line per file; exit 0 when every file passes, 1 otherwise. The "ok"
# line names the imports that load on Windows 98 but fail there when called (marked "# stub").
set -u
export LC_ALL=C
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
list=$(dirname "$0")/win98-imports.txt
if [ "${1:-}" = --list ]; then list=$2; shift 2; fi
[ -r "$list" ] || { echo "not ok - cannot read $list"; exit 1; }

# The list as "DLL!Function" (DLL upper case, no .DLL) and the stubs among them.
allowed=$(sed -E 's/#.*//; s/[[:space:]]+//g; /^$/d' "$list" | awk -F'!' '{print toupper($1) "!" $2}' | sort -u)
stubs=$(grep -E '#[[:space:]]*stub' "$list" | sed -E 's/#.*//; s/[[:space:]]+//g' | awk -F'!' '{print toupper($1) "!" $2}' | sort -u)

# imports OBJDUMP-OUTPUT: one DLL!Function per import; an import by ordinal becomes DLL!#N.
imports() {
  awk '
    /DLL Name:/ { dll = toupper($3); sub(/\.DLL$/, "", dll); inblock = 1; ndll++; next }
    inblock && /^[[:space:]]*vma:/ { next }
    inblock && /^[[:space:]]*$/ { inblock = 0; next }
    inblock {
      name = $NF
      if (NF < 3 || name == "<none>" || name ~ /^[0-9]+$/) name = "#" $(NF > 1 ? 2 : 1)
      print dll "!" name
    }
    END { if (!ndll) print "NO-IMPORT-TABLE" }' <<<"$1" | sort -u
}

status=0
for file in "$@"; do
  if [ ! -f "$file" ]; then echo "not ok - $file: missing"; status=1; continue; fi
  dump=$("$objdump" -p "$file" 2>&1) || { echo "not ok - $file: $objdump failed"; status=1; continue; }
  found=$(imports "$dump")
  if [ "$found" = NO-IMPORT-TABLE ] || [ -z "$found" ]; then
    echo "not ok - $file: no imports found (not a PE file, or objdump's output changed)"; status=1; continue
  fi
  bad=$(comm -23 <(echo "$found") <(echo "$allowed") | tr '\n' ' ')
  if [ -n "$bad" ]; then
    echo "not ok - $file imports what Windows 98 SE lacks: ${bad% }"
    status=1
    continue
  fi
  dlls=$(cut -d'!' -f1 <<<"$found" | sort -u | tr '\n' ' ')
  failing=$(comm -12 <(echo "$found") <(echo "$stubs") | tr '\n' ' ')
  echo "ok - $file: $(wc -l <<<"$found") imports from ${dlls% }${failing:+; fail when called on 98: ${failing% }}"
done
exit $status
