#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: every *_test.exe once (all its
# cases in one Wine process; starting Wine per case costs seconds), in the
# folder CTest would run it in, with a Wine prefix of the build's own; then
# the programs driven as a user drives them: marrowgate.exe from a script
# (windows_patcher_console) and a patch run in its dialog with a launcher
# listening (windows_patch_run).
#
#   bash scripts/test-windows.sh BUILD_DIR [FILTER]
#
# FILTER (optional) is a regular expression on the names ("platform|util").
# Prints one line per program and a total; the results of each program are
# kept in BUILD_DIR/wine-results/<name>.xml and its output in <name>.log;
# the patch run's picture of the dialog is BUILD_DIR/wine-results/patch-run.png.
# The exit status is 0 only when every program ran and every case passed.
#
# Programs that draw (win_view_test, the patch run) run on a virtual
# display (xvfb-run) in a second prefix, BUILD_DIR/wineprefix-display, with
# Wine's X11 driver; the rest without a display (the null driver).
#
# Environment: MARROWGATE_WINE (the Wine program; by default wine, or
# wine64 when no wine is on the path), WINEPREFIX (by default
# BUILD_DIR/wineprefix), MARROWGATE_TEST_TIMEOUT (seconds a program may
# take, 300 by default), MARROWGATE_LINUX_PACK (the Linux marrowgate-pack
# that attaches the patches; by default build/tools/marrowgate-pack of the
# source tree, else the build's marrowgate-pack.exe under Wine).
set -uo pipefail

# Programs that need a display.
display_programs='^(win_view_test|windows_patch_run)$'

if [ "${1:-}" = --on-display ]; then
  on_display=1
  shift
else
  on_display=0
fi
build=${1:?usage: test-windows.sh BUILD_DIR [FILTER]}
filter=${2:-}
build=$(cd "$build" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
results=$build/wine-results
summary=$results/summary
timeout_s=${MARROWGATE_TEST_TIMEOUT:-300}

log() { echo "test-windows: $*" >&2; }

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
if [ "$on_display" = 1 ]; then
  wine_prepare "$build/wineprefix-display" display || exit 1
else
  wine_prepare "$build/wineprefix" || exit 1
  rm -rf "$results"
fi
trap wine_stop EXIT
mkdir -p "$results"

# Counts of one gtest XML report: "tests failures errors skipped".
report_counts() {
  python3 - "$1" <<'EOF'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
tests = failures = skipped = 0
failed = []
for case in root.iter('testcase'):
    if case.get('status') == 'notrun':
        continue
    tests += 1
    if case.find('failure') is not None or case.find('error') is not None:
        failures += 1
        failed.append(case.get('classname') + '.' + case.get('name'))
    elif case.find('skipped') is not None or case.get('result') == 'skipped':
        skipped += 1
print(tests, failures, skipped)
for name in failed:
    print(name)
EOF
}

# Whether `name` runs in this part (on the display or not) and passes the filter.
wanted() {
  local name=$1
  if [ -n "$filter" ] && ! [[ $name =~ $filter ]]; then return 1; fi
  if [[ $name =~ $display_programs ]]; then [ "$on_display" = 1 ]; else [ "$on_display" = 0 ]; fi
}

# One line "name tests failed skipped broken" per program in $summary.
run_gtest_program() {
  local exe=$1 name xml out xml_win status seconds t0 n f s
  name=$(basename "$exe" .exe)
  xml=$results/$name.xml
  out=$results/$name.log
  rm -f "$xml"
  t0=$(date +%s)
  # The gtest report path is a Windows path.
  xml_win=$("$MARROWGATE_WINEPATH" -w "$xml" 2>/dev/null)
  (cd "$(dirname "$exe")" &&
    timeout -k 10 "$timeout_s" "$MARROWGATE_WINE" "$exe" --gtest_output="xml:$xml_win" \
      --gtest_brief=1 </dev/null) >"$out" 2>&1
  status=$?
  seconds=$(( $(date +%s) - t0 ))
  if [ ! -s "$xml" ]; then
    log "$name: no results (exit status $status, ${seconds} s); last lines of $out:"
    tail -n 20 "$out" >&2
    echo "$name 0 0 0 1" >>"$summary"
    return
  fi
  mapfile -t counts < <(report_counts "$xml")
  read -r n f s <<<"${counts[0]}"
  echo "$name: $((n - f - s)) passed, $f failed, $s skipped of $n (${seconds} s)"
  for c in "${counts[@]:1}"; do echo "  FAILED $c"; done
  local broken=0
  if [ "$f" = 0 ] && [ "$status" != 0 ]; then
    broken=1
    log "$name: exit status $status with no failed case; see $out"
  fi
  echo "$name $n $f $s $broken" >>"$summary"
}

# A script that checks a program as a whole: one case.
run_check() {
  local name=$1 out=$results/$1.log status t0
  shift
  t0=$(date +%s)
  timeout -k 10 "$timeout_s" "$@" >"$out" 2>&1 </dev/null
  status=$?
  if [ "$status" = 0 ]; then
    echo "$name: passed ($(( $(date +%s) - t0 )) s)"
    echo "$name 1 0 0 0" >>"$summary"
  else
    echo "$name: FAILED, exit status $status ($(( $(date +%s) - t0 )) s); last lines of $out:"
    tail -n 20 "$out" | sed 's/^/  /'
    echo "$name 1 1 0 0" >>"$summary"
  fi
}

started=$(date +%s)
mapfile -t programs < <(find "$build" -path "$build/wineprefix*" -prune -o \
  -name '*_test.exe' -type f -print | sort)
if [ ${#programs[@]} -eq 0 ]; then
  log "no *_test.exe under $build (was it configured with MARROWGATE_TESTS=ON?)"
  exit 1
fi
for exe in "${programs[@]}"; do
  wanted "$(basename "$exe" .exe)" && run_gtest_program "$exe"
done

patcher=$build/tools/marrowgate.exe
pack=${MARROWGATE_LINUX_PACK:-$root/build/tools/marrowgate-pack}
if [ ! -x "$pack" ]; then
  pack="$MARROWGATE_WINE $build/tools/marrowgate-pack.exe"
fi
if wanted windows_patcher_console; then
  run_check windows_patcher_console bash "$root/tests/windows/patcher_console_test.sh" \
    "$patcher" "$pack" "$root"
fi
if wanted windows_patch_run; then
  run_check windows_patch_run bash "$root/tests/windows/patch_run_test.sh" "$patcher" \
    "$build/tools/marrowgate-listen.exe" "$pack" "$root" "$results"
fi

if [ "$on_display" = 1 ]; then exit 0; fi

# The programs that draw, on a virtual display of their own.
wine_stop
trap - EXIT
display_started=$(date +%s)
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" --on-display "$build" "$filter"
else
  log "xvfb-run is missing (apt-get install xvfb): the programs that draw did not run"
  echo "display 0 0 0 1" >>"$summary"
fi
log "on the virtual display: $(( $(date +%s) - display_started )) s"

read -r total failed skipped broken < <(awk '{n += $2; f += $3; s += $4; b += $5}
  END {print n + 0, f + 0, s + 0, b + 0}' "$summary")
echo "Wine: $total cases; $broken programs without results ($(( $(date +%s) - started )) s)"
echo "Wine: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] && [ "$broken" = 0 ]
