#!/usr/bin/env bash
# A screenshot of marrowgate.exe's dialog under Wine on a virtual display:
# the example patch attached, started without a folder (the dialog waits
# for Browse), captured once its window is on the screen.
#
#   tests/windows/dialog_screenshot.sh PATCHER_EXE PACK SOURCE_ROOT OUT.png
#
# PACK as for patcher_console_test.sh. Needs xvfb-run, xwininfo and
# ImageMagick's import; Wine must run the .exe's architecture. Run it
# under its own display: xvfb-run -a -s "-screen 0 640x480x24" bash THIS ...
set -uo pipefail

exe=${1:?patcher .exe}
pack=${2:?marrowgate-pack}
root=${3:?source root}
shot=${4:?output .png}
work=$(mktemp -d "${TMPDIR:-/tmp}/marrowgate-shot-XXXXXX")
export WINEDEBUG=${WINEDEBUG:--all}
patcher_pid=
cleanup() {
  [ -n "$patcher_pid" ] && kill "$patcher_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

[ -n "${DISPLAY:-}" ] || { echo "dialog_screenshot: no DISPLAY (run under xvfb-run)" >&2; exit 1; }
$pack attach "$exe" "$root/examples/patch" "$work/patcher.exe" >/dev/null || exit 1
wine "$work/patcher.exe" </dev/null >"$work/out" 2>&1 &
patcher_pid=$!

# The title is message 100 of the example's cfg.txt. Wait, boundedly, for
# the window, then a moment for its first painting.
title=$(sed -n 's/^100 //p' "$root/examples/patch/cfg.txt" | tr -d '\r')
for _ in $(seq 1 120); do
  xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\"" && break
  sleep 1
done
if ! xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; then
  echo "dialog_screenshot: no window titled '$title' within 120 s" >&2
  cat "$work/out" >&2
  exit 1
fi
sleep 3
# The dialog's frame and contents: the window's own rectangle on the root.
id=$(xwininfo -root -tree | grep -F "\"$title\"" | head -n 1 | awk '{print $1}')
import -window root -crop "$(xwininfo -id "$id" | awk '
  /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
  /Width:/ {w = $2} /Height:/ {h = $2}
  END {printf "%dx%d+%d+%d", w, h, x, y}')" +repage "$shot" || exit 1
echo "dialog_screenshot: $shot"
