# Shared by the end-to-end tests and the demo: a wine prefix set up for a GUI under Xvfb, and the
# user's hands and eyes (xdotool clicks and keys, control_probe reads).
# Needs: E2E_ARCH (win32|win64), E2E_PREFIX, E2E_PROBE (control_probe.exe), E2E_LOG_DIR.

e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
e2e_wine_run="$e2e_root/tests/wine/wine-run"

e2e_wine() { "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" "$@"; }

# The prefix, once: no window manager (else every closed window stalls 2 s), the caption buttons'
# font, and the Windows version the program is to see.
e2e_prefix() {  # e2e_prefix VERSION
  "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" --start
  e2e_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$E2E_LOG_DIR/reg.log" 2>&1
  e2e_wine reg add 'HKCU\Software\Wine\AppDefaults\FlashUpgrade.exe' /v Version /d "$1" /f >>"$E2E_LOG_DIR/reg.log" 2>&1
  mkdir -p "$E2E_PREFIX/drive_c/windows/Fonts"
  [ -f /usr/share/wine/fonts/marlett.ttf ] && cp -n /usr/share/wine/fonts/marlett.ttf "$E2E_PREFIX/drive_c/windows/Fonts/" 2>/dev/null
  return 0
}

# An X server of our own (start it before e2e_prefix, so that wine's helpers see it), unless the caller keeps one (E2E_KEEP_DISPLAY=1 with DISPLAY set).
e2e_xvfb() {
  if [ "${E2E_KEEP_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$E2E_LOG_DIR/xvfb.log" 2>&1 </dev/null &
    E2E_XVFB_PID=$!
    export DISPLAY=":$n"
    # The socket appears before the server answers; wine's first window needs an answering server.
    for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb :$n did not start"; return 1
  done
  echo "no free X display"; return 1
}

e2e_stop_all() {
  "$e2e_wine_run" "$E2E_ARCH" "$E2E_PREFIX" --stop
  [ -n "${E2E_XVFB_PID:-}" ] && kill "$E2E_XVFB_PID" 2>/dev/null
  E2E_XVFB_PID=
  return 0
}

# probe TITLE ID WHAT: what control_probe reads (output through a file: never pipe wine).
probe() {
  local out="$E2E_LOG_DIR/probe.out"
  e2e_wine "$E2E_PROBE" "$1" "$2" "$3" >"$out" 2>/dev/null || return 1
  tr -d '\r' <"$out"
}

# wait_until SECONDS COMMAND...: polls until COMMAND succeeds.
wait_until() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while [ $SECONDS -lt $end ]; do "$@" && return 0; sleep 0.3; done
  return 1
}

window_shown() { xdotool search --name "^$1\$" >/dev/null 2>&1; }
window_gone() { ! xdotool search --name "^$1\$" >/dev/null 2>&1; }
text_is() { [ "$(probe "$1" "$2" text)" = "$3" ]; }

click_control() {  # click_control TITLE ID
  local centre
  centre=$(probe "$1" "$2" centre) || return 1
  xdotool mousemove $centre click 1
}

screenshot() {  # screenshot FILE
  import -window root "$1" 2>/dev/null || true
}
