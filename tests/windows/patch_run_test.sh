#!/usr/bin/env bash
# A real patch run of marrowgate.exe under Wine, in its dialog on a
# display, with a launcher: the example patch attached by PACK (the Linux
# marrowgate-pack), marrowgate-listen.exe listening under a title, the
# patcher started as a launcher starts it ("/user TITLE /D FOLDER"). Checks
# that the run ends with status 0, that the folder is patched (the files
# of the patch on disk, the package updated, --verify whole) and that the
# listener received the run's records (progress from 0 up to 100, then
# -1); the dialog is captured while the run goes on, as OUT_DIR/patch-run.png.
#
#   tests/windows/patch_run_test.sh PATCHER_EXE LISTEN_EXE PACK SOURCE_ROOT OUT_DIR
#
# Needs a display whose Wine prefix uses its X11 driver (run it under
# xvfb-run; scripts/test-windows.sh does), xwininfo and ImageMagick's
# import. WINEPREFIX is taken from the environment. Exit status 0 when
# every check passed.
set -uo pipefail

exe=${1:?patcher .exe}
listen_exe=${2:?marrowgate-listen.exe}
pack=${3:?marrowgate-pack}
root=${4:?source root}
out_dir=${5:?output folder}
wine=${MARROWGATE_WINE:-wine}
export WINEDEBUG=${WINEDEBUG:--all}
work=$(mktemp -d "${TMPDIR:-/tmp}/marrowgate-run-XXXXXX")
listener_pid= patcher_pid=
cleanup() {
  [ -n "$patcher_pid" ] && kill "$patcher_pid" 2>/dev/null
  [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

[ -n "${DISPLAY:-}" ] || { echo "patch_run_test: no DISPLAY (run under xvfb-run)" >&2; exit 1; }
mkdir -p "$out_dir"
shot=$out_dir/patch-run.png
rm -f "$shot"

$pack attach "$exe" "$root/examples/patch" "$work/patcher.exe" >/dev/null || {
  echo "FAIL: marrowgate-pack attach" >&2
  exit 1
}
cp -R "$root/examples/install" "$work/game"
# One word: the patcher takes the title up to the next space.
title="MarrowgateRunCheck$$"

# The listener answers each record after 150 ms, so that the run lasts
# long enough to be seen; it ends after the run's last record, or after
# 60 s without one.
"$wine" "$listen_exe" --stall 150 --idle 60000 "$title" >"$work/listen.out" \
  2>"$work/listen.err" </dev/null &
listener_pid=$!
# Its window must exist before the patcher looks for it (once, at its
# first record): a Wine program starts within a second or two here.
sleep 3
kill -0 "$listener_pid" 2>/dev/null || {
  echo "FAIL: the listener did not start: $(cat "$work/listen.err")" >&2
  exit 1
}

# The launcher's command line on Windows: "/user TITLE /D FOLDER" (there a
# folder without "/D" would be the whole tail, "/user TITLE" included).
MARROWGATE_DEBUG=1 timeout -k 10 300 "$wine" "$work/patcher.exe" /user "$title" \
  /D "$(winpath "$work/game")" >"$work/patcher.out" 2>"$work/patcher.err" </dev/null &
patcher_pid=$!

# The dialog, titled by message 100 of the patch, captured once while it
# shows the run.
dialog=$(sed -n 's/^100 //p' "$root/examples/patch/cfg.txt" | tr -d '\r')
id=
for _ in $(seq 1 300); do
  id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$dialog\"" | head -n 1 | awk '{print $1}')
  [ -n "$id" ] && break
  kill -0 "$patcher_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -n "$id" ]; then
  sleep 0.5  # painted
  geometry=$(xwininfo -id "$id" 2>/dev/null | awk '
    /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2}
    END {printf "%dx%d+%d+%d", w, h, x, y}')
  import -window root -crop "$geometry" +repage "$shot" 2>"$work/import.err" ||
    fail "the dialog could not be captured: $(cat "$work/import.err")"
else
  fail "no window titled '$dialog' appeared while the patcher ran"
fi

wait "$patcher_pid"
status=$?
patcher_pid=
# The listener ends after the run's last record.
for _ in $(seq 1 100); do
  kill -0 "$listener_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$listener_pid" 2>/dev/null; then
  fail "the listener did not end after the run's last record"
  kill "$listener_pid" 2>/dev/null
fi
wait "$listener_pid"
listener_status=$?
listener_pid=

if [ "$status" != 0 ]; then
  fail "the patch run ended with status $status"
  sed 's/^/  err: /' "$work/patcher.err" >&2
fi
grep -qF "marrowgate, shown in a window" "$work/patcher.err" ||
  fail "the run did not use its dialog: $(cat "$work/patcher.err")"
! grep -qF "no launcher window titled" "$work/patcher.err" ||
  fail "the patcher did not find the listener's window"
[ "$listener_status" = 0 ] || fail "the listener ended with status $listener_status: $(cat "$work/listen.err")"

# The folder is patched.
update=$root/examples/patch/update
for name in bin/game.cfg readme.txt data/sounds.bin; do
  cmp -s "$update/$name" "$work/game/$name" || fail "$name was not brought by the patch"
done
[ "$(tr -d '\r\n' <"$work/game/mb/etc/version.txt")" = "1 1.3.0.0" ] ||
  fail "the version file was not brought to 1.3"
listing=$($pack list "$work/game/data/maps.dpk" 2>&1)
for name in valley.map harbour.map; do
  grep -qF "$name" <<<"$listing" || fail "data/maps.dpk lacks $name: $listing"
done
timeout 120 "$wine" "$work/patcher.exe" --verify "$(winpath "$work/game")" >"$work/verify.out" \
  2>&1 </dev/null || fail "--verify after the run: $(cat "$work/verify.out")"

# The listener's records: progress from 0, never back, up to 100, then -1.
tr -d '\r' <"$work/listen.out" >"$work/records"
python3 - "$work/records" <<'EOF' || fail "the listener's records: $(cat "$work/records")"
import sys
lines = open(sys.argv[1]).read().splitlines()
progress = [int(l.split()[1]) for l in lines if l.startswith("progress ")]
ok = (len(progress) >= 3 and progress[0] == 0 and progress[-2:] == [100, -1]
      and progress[:-1] == sorted(progress[:-1]))
sys.exit(0 if ok else 1)
EOF

if [ -s "$shot" ]; then
  python3 - "$shot" <<'EOF' || fail "the capture $shot is not a dialog-sized PNG"
import struct, sys
head = open(sys.argv[1], "rb").read(24)
width, height = struct.unpack(">II", head[16:24])
sys.exit(0 if head[:8] == b"\x89PNG\r\n\x1a\n" and width > height > 200 else 1)
EOF
fi

if [ "$failures" -ne 0 ]; then
  echo "patch_run_test: $failures check(s) failed" >&2
  exit 1
fi
echo "patch_run_test: all checks passed ($(grep -c '^progress' "$work/records") progress records; dialog in $shot)"
