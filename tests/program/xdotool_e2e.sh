#!/usr/bin/env bash
# The built program on a real X server, driven with xdotool at its controls' positions:
# register and cancel on the default hive, then register on a hive named on the command line,
# checked with hivex's own tools.
# Usage: xdotool_e2e.sh PATH-TO-VANTORIO
set -euo pipefail
program=$1
work=$(mktemp -d)
xvfb=
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# An X server of our own at 96 dpi, so that 15 twips make one pixel.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset VANTORIO_SOFTWARE_HIVE
export XDG_DATA_HOME="$work/data"
hive="$XDG_DATA_HOME/vantorio/SOFTWARE"
key='\Microsoft\Windows NT\CurrentVersion\Winlogon'

start() {  # arguments for the program
  "$program" "$@" &
  app=$!
  win=$(xdotool search --sync --onlyvisible --name '^Vantorio$' | head -n 1)
  # Wait until the window is mapped at its place and has its full size.
  for _ in $(seq 100); do
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [ "$WIDTH" -ge 441 ] && [ "$HEIGHT" -ge 313 ] && break
    sleep 0.1
  done
  origin_x=$X origin_y=$Y
}
# Clicks at a point of the client area, in twips.
click() {
  xdotool mousemove --sync $((origin_x + $1 / 15)) $((origin_y + $2 / 15)) click 1
}
finish() {
  local status=0
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  wait "$app" || status=$?
  app=
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
}
value() { hivexget "${2:-$hive}" "$key" "$1"; }

# Cancel: the default hive is created on start and left byte for byte as it was.
start
[ -f "$hive" ] || fail "no default hive at $hive"
cp "$hive" "$work/before"
click $((3480 + 700)) $((3840 + 360))          # Cancel
finish
cmp -s "$hive" "$work/before" || fail "cancel changed the hive"

# Register: automatic logon on with a password, and a notice.
start
click $((120 + 240 + 90)) $((120 + 1080 + 120))      # AutoLogonOption(1)
click $((120 + 2160 + 2000)) $((120 + 1440 + 165))   # PassWordText
xdotool type --delay 20 'Secret42'
click $((120 + 240 + 90)) $((2160 + 720 + 120))      # LogonMessageOption(1)
click $((120 + 2160 + 2000)) $((2160 + 720 + 165))   # LogonCaptionText
xdotool type --delay 20 'Notice'
click $((120 + 2160 + 2000)) $((2160 + 1080 + 165))  # LogonMessageText
xdotool type --delay 20 'Authorised use only.'
click $((5040 + 700)) $((3840 + 360))                # Ok
finish

[ "$(value AutoAdminLogon)" = 1 ] || fail "AutoAdminLogon is '$(value AutoAdminLogon)'"
[ "$(value DefaultUserName)" = Administrator ] || fail "DefaultUserName changed"
[ "$(value DefaultPassword)" = Secret42 ] || fail "DefaultPassword is wrong"
[ "$(value ShutdownWithoutLogon)" = 1 ] || fail "ShutdownWithoutLogon changed"
[ "$(value LegalNoticeCaption)" = Notice ] || fail "LegalNoticeCaption is wrong"
[ "$(value LegalNoticeText)" = 'Authorised use only.' ] || fail "LegalNoticeText is wrong"
if value DontDisplayLastUserName >/dev/null 2>&1; then fail "DontDisplayLastUserName was not deleted"; fi
[ "$(stat -c %a "$hive")" = 600 ] || fail "the hive lost its mode 0600"

# A hive named on the command line, as on a mounted disk: the window edits that file and
# leaves the default hive alone.
named="$work/mnt/Windows/System32/config/SOFTWARE"
mkdir -p "$(dirname "$named")"
cp "$work/before" "$named"
cp "$hive" "$work/default-before"
start "$named"
click $((120 + 240 + 90)) $((120 + 1080 + 120))      # AutoLogonOption(1)
click $((120 + 2160 + 2000)) $((120 + 1080 + 165))   # UserText
xdotool key --delay 20 ctrl+a BackSpace
xdotool type --delay 20 'Operator'
click $((5040 + 700)) $((3840 + 360))                # Ok
finish
[ "$(value AutoAdminLogon "$named")" = 1 ] || fail "the named hive's AutoAdminLogon is '$(value AutoAdminLogon "$named")'"
[ "$(value DefaultUserName "$named")" = Operator ] || fail "the named hive's DefaultUserName is wrong"
cmp -s "$hive" "$work/default-before" || fail "register on a named hive changed the default hive"
echo "xdotool end-to-end: register and cancel passed, on the default hive and on a named one"
