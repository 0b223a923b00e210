#!/usr/bin/env bash
# marrowgate.exe under Wine, driven as a script drives it: a patch attached
# by the Linux marrowgate-pack, then --verify, --about, --dry-run and a
# --console run on a copy of the example client, each checked for its text
# (which must reach the starting console or pipe of the GUI program) and
# its exit status.
#
#   tests/windows/patcher_console_test.sh PATCHER_EXE PACK SOURCE_ROOT
#
# PATCHER_EXE: the Windows build's tools/marrowgate.exe; PACK: a
# marrowgate-pack of either build that runs here (the Linux one, or
# "wine .../marrowgate-pack.exe" in quotes). Wine must run the .exe's
# architecture (WINEPREFIX and WINEARCH are taken from the environment).
# Exit status 0 when every check passed.
set -uo pipefail

exe=${1:?patcher .exe}
pack=${2:?marrowgate-pack}
root=${3:?source root}
work=$(mktemp -d "${TMPDIR:-/tmp}/marrowgate-wine-XXXXXX")
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=${WINEDEBUG:--all}
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# The Windows name of a folder here (Wine maps drive Z: to /).
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# Runs the patcher with a bound on its time: prints nothing, leaves
# $work/out, $work/err and the status in $status.
run() {
  status=0
  timeout 120 wine "$work/patcher.exe" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
}

expect_status() {  # what, wanted
  if [ "$status" != "$2" ]; then
    fail "$1: exit status $status, wanted $2"
    sed 's/^/  out: /' "$work/out" >&2
    sed 's/^/  err: /' "$work/err" >&2
  fi
}

expect_text() {  # what, file, pattern
  grep -qE -- "$3" "$2" || {
    fail "$1: no line matching '$3' in $(basename "$2")"
    sed 's/^/  /' "$2" >&2
  }
}

$pack attach "$exe" "$root/examples/patch" "$work/patcher.exe" >/dev/null || {
  echo "FAIL: marrowgate-pack attach" >&2
  exit 1
}
cp -R "$root/examples/install" "$work/install"
install=$(winpath "$work/install")

run --verify "$install"
expect_status "--verify before the patch" 0
expect_text "--verify before the patch" "$work/out" '^ok +readme\.txt'
expect_text "--verify before the patch" "$work/out" '^[0-9]+ ok, 0 missing, 0 differing$'

run --about
expect_status "--about" 0
expect_text "--about" "$work/out" '^needs: +1\.2'
expect_text "--about" "$work/out" '^brings: +1\.3\.0\.0'

run --dry-run "$install"
expect_status "--dry-run" 0
[ "$(tr -d '\r\n' <"$work/install/mb/etc/version.txt")" = 1.2.0.0 ] || fail "--dry-run changed the install"

run --console "$install"
expect_status "--console run" 0
[ "$(tr -d '\r\n' <"$work/install/mb/etc/version.txt")" = "1 1.3.0.0" ] ||
  fail "--console run: version file not brought to 1.3"
cmp -s "$root/examples/patch/update/bin/game.cfg" "$work/install/bin/game.cfg" ||
  fail "--console run: held-back bin/game.cfg not copied"

run --verify "$install"
expect_status "--verify after the patch" 0
expect_text "--verify after the patch" "$work/out" '^[0-9]+ ok, 0 missing, 0 differing$'

mkdir "$work/empty"
run --verify "$(winpath "$work/empty")"
expect_status "--verify of a folder without a list" 1
expect_text "--verify of a folder without a list" "$work/err" 'localfilelist\.txt cannot be read'

run --bogus
expect_status "bad usage" 2
expect_text "bad usage" "$work/err" "Try '.*--help'"

run --help
expect_status "--help" 0
expect_text "--help" "$work/out" '--verify'

if [ "$failures" -ne 0 ]; then
  echo "patcher_console_test: $failures check(s) failed" >&2
  exit 1
fi
echo "patcher_console_test: all checks passed"
