#!/usr/bin/env bash
# What a shipped file imports must load on old Windows: none of the functions the posix thread
# model's runtime pulls in (Windows 98 lacks them; wine would not notice), and no debug or shared
# compiler runtime that would have to ship beside it.
#   check-imports.sh FILE...
set -u
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
forbidden_functions='GetTickCount64|AddVectoredExceptionHandler|TryEnterCriticalSection|GetHandleInformation'
forbidden_dlls='msvcrtd\.dll|msvcr[0-9]+d\.dll|ucrtbased\.dll|libgcc_s[^ ]*\.dll|libstdc\+\+[^ ]*\.dll|libwinpthread[^ ]*\.dll'
status=0
for file in "$@"; do
  if [ ! -f "$file" ]; then echo "not ok - $file: missing"; status=1; continue; fi
  imports=$("$objdump" -p "$file") || { echo "not ok - $file: objdump failed"; status=1; continue; }
  bad=$(grep -E "^\s+[0-9a-f]+\s+[0-9]+\s+($forbidden_functions)\s*$" <<<"$imports" | awk '{print $3}' | sort -u | tr '\n' ' ')
  dlls=$(grep -E 'DLL Name:' <<<"$imports" | awk '{print $3}' | grep -i -E "^($forbidden_dlls)$" | tr '\n' ' ')
  if [ -n "$bad$dlls" ]; then
    echo "not ok - $file imports $bad$dlls"
    status=1
  else
    echo "ok - $file: $(grep -E 'DLL Name:' <<<"$imports" | awk '{print $3}' | tr '\n' ' ')"
  fi
done
exit $status
