#!/usr/bin/env bash
# Runs the Windows build's unit tests under Wine: every *_test.exe once (all
# its cases in one Wine process; starting Wine per case costs seconds), in
# the folder CTest would run it in, with a Wine prefix of the build's own.
#
#   bash scripts/test-windows.sh BUILD_DIR [FILTER]
#
# FILTER (optional) is a regular expression on the program names
# ("platform|util"). Prints one line per program and a total; the results
# of each program are kept in BUILD_DIR/wine-results/<name>.xml and its
# output in <name>.log. The exit status is 0 only when every program ran and
# every case passed.
#
# Environment: MARROWGATE_WINE (the Wine program; by default wine, or
# wine64 when no wine is on the path), WINEPREFIX (by default
# BUILD_DIR/wineprefix), MARROWGATE_TEST_TIMEOUT (seconds a program may
# take, 300 by default).
set -uo pipefail

build=${1:?usage: test-windows.sh BUILD_DIR [FILTER]}
filter=${2:-}
build=$(cd "$build" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
results=$build/wine-results
timeout_s=${MARROWGATE_TEST_TIMEOUT:-300}

log() { echo "test-windows: $*" >&2; }

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
wine_prepare "$build/wineprefix" || exit 1
trap wine_stop EXIT

mkdir -p "$results"
mapfile -t programs < <(find "$build" -path "$build/wineprefix" -prune -o \
  -name '*_test.exe' -type f -print | sort)
if [ ${#programs[@]} -eq 0 ]; then
  log "no *_test.exe under $build (was it configured with MARROWGATE_TESTS=ON?)"
  exit 1
fi

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

total=0 failed=0 skipped=0 broken=0
started=$(date +%s)
for exe in "${programs[@]}"; do
  name=$(basename "$exe" .exe)
  if [ -n "$filter" ] && ! [[ $name =~ $filter ]]; then continue; fi
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
    broken=$((broken + 1))
    log "$name: no results (exit status $status, ${seconds} s); last lines of $out:"
    tail -n 20 "$out" >&2
    continue
  fi
  mapfile -t counts < <(report_counts "$xml")
  read -r n f s <<<"${counts[0]}"
  total=$((total + n)) failed=$((failed + f)) skipped=$((skipped + s))
  echo "$name: $((n - f - s)) passed, $f failed, $s skipped of $n (${seconds} s)"
  for c in "${counts[@]:1}"; do echo "  FAILED $c"; done
  if [ "$f" = 0 ] && [ "$status" != 0 ]; then
    broken=$((broken + 1))
    log "$name: exit status $status with no failed case; see $out"
  fi
done
echo "Wine: $((total - failed - skipped)) passed, $failed failed, $skipped skipped of $total" \
  "cases; $broken programs without results ($(( $(date +%s) - started )) s)"
[ "$failed" = 0 ] && [ "$broken" = 0 ]
