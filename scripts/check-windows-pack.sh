#!/usr/bin/env bash
# marrowgate-pack.exe under Wine on a real tree, beside the Linux
# marrowgate-pack: create, list, extract, verify, attach, probe, make-patch
# and check work on Windows, and both systems write the same bytes from
# the same tree (times fixed, names in mixed case, nested folders, an empty
# file and folder, files large enough to take several blocks).
#
#   bash scripts/check-windows-pack.sh WIN_BUILD_DIR LINUX_PACK
#
# WIN_BUILD_DIR holds tools/marrowgate-pack.exe; LINUX_PACK is the Linux
# program. The work is done in WIN_BUILD_DIR/pack-check (made afresh).
# Exit status 0 when every check passed; each failed check is named.
set -uo pipefail

win_build=$(cd "${1:?usage: check-windows-pack.sh WIN_BUILD_DIR LINUX_PACK}" && pwd)
linux_pack=${2:?usage: check-windows-pack.sh WIN_BUILD_DIR LINUX_PACK}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
win_pack=$win_build/tools/marrowgate-pack.exe
work=$win_build/pack-check

log() { echo "check-windows-pack: $*" >&2; }
for p in "$win_pack" "$linux_pack"; do
  [ -x "$p" ] || [ -f "$p" ] || { log "missing program $p"; exit 1; }
done

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
wine_prepare "$win_build/wineprefix" || exit 1
trap wine_stop EXIT

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

passed=0 failed=0
check() {  # description, command...
  local what=$1
  shift
  if "$@" >>"$work/checks.log" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
  fi
}
# Windows paths for the Windows program, as a user there would type them.
winpath() { "$MARROWGATE_WINEPATH" -w "$1" 2>/dev/null; }
wpack() { timeout -k 10 300 "$MARROWGATE_WINE" "$win_pack" "$@" </dev/null; }
lpack() { timeout -k 10 300 "$linux_pack" "$@" </dev/null; }
# Wine's console writes CR LF; the texts compare without it.
strip_cr() { tr -d '\r'; }

# A tree with fixed contents and times.
python3 - "$work/tree" <<'EOF'
import os, random, sys
top = sys.argv[1]
rng = random.Random(28)
files = {
    "ReadMe.TXT": b"Marrowgate sample\n" * 3,
    "data/Level One/map.bin": bytes(rng.getrandbits(8) for _ in range(300_000)),
    "data/Level One/notes.txt": b"line\n" * 40_000,
    "data/empty.dat": b"",
    "bin/Tool.EXE": bytes(rng.getrandbits(8) for _ in range(5_000)) * 30,
    "deep/a/b/c/d/leaf.cfg": b"[x]\nkey = value\n",
}
for name, data in files.items():
    path = os.path.join(top, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
os.makedirs(os.path.join(top, "empty folder"), exist_ok=True)
for i, (dirpath, dirnames, filenames) in enumerate(sorted(os.walk(top))):
    for j, f in enumerate(sorted(filenames)):
        t = 1_600_000_000 + 3600 * i + 60 * j
        os.utime(os.path.join(dirpath, f), (t, t))
EOF
tree_w=$(winpath "$work/tree")

# create: the same bytes on both systems. SOURCE_DATE_EPOCH stands in for
# the clock (the package's own items carry the time of the run).
export SOURCE_DATE_EPOCH=1700000000
check "Linux create" lpack -q create "$work/linux.dpk" "$work/tree"
check "Windows create" wpack -q create "$(winpath "$work/win.dpk")" "$tree_w"
check "Windows package is byte-identical to the Linux one" cmp "$work/linux.dpk" "$work/win.dpk"
# The same again with one file at a time and with several at once.
check "Windows create -j 1" wpack -q -j 1 create "$(winpath "$work/win1.dpk")" "$tree_w"
check "Windows create -j 1 gives the same bytes" cmp "$work/linux.dpk" "$work/win1.dpk"

# list: the same lines.
lpack list "$work/linux.dpk" >"$work/list-linux.txt" 2>&1
wpack list "$(winpath "$work/win.dpk")" 2>&1 | strip_cr >"$work/list-win.txt"
check "Windows list names every file" grep -q "deep/a/b/c/d/leaf.cfg" "$work/list-win.txt"
check "list is the same on both systems" diff "$work/list-linux.txt" "$work/list-win.txt"

# verify, on each system's package and the other's.
check "Windows verify of its package" wpack -q verify "$(winpath "$work/win.dpk")"
check "Linux verify of the Windows package" lpack -q verify "$work/win.dpk"

# extract: contents and times come back on Windows.
check "Windows extract" wpack -q extract "$(winpath "$work/linux.dpk")" "$(winpath "$work/out-win")"
check "extracted tree matches the source" diff -r "$work/tree" "$work/out-win"
same_times() {
  (cd "$work/tree" && find . -type f -printf '%p %T@\n' | sort) >"$work/times-tree.txt"
  (cd "$work/out-win" && find . -type f -printf '%p %T@\n' | sort) >"$work/times-out.txt"
  diff "$work/times-tree.txt" "$work/times-out.txt"
}
check "extracted files keep their times" same_times

# attach and probe: a program carrying a package.
check "Windows attach" wpack -q attach "$(winpath "$win_pack")" "$tree_w" "$(winpath "$work/host.exe")"
probe_host() { [ "$(wpack probe "$(winpath "$work/host.exe")" | strip_cr)" = host ]; }
check "Windows probe says host" probe_host
check "Windows verify of the attached package" wpack -q verify "$(winpath "$work/host.exe")"

# make-patch: the patch folder from two installs, the same on both systems.
for side in old new; do
  src=$root/examples/install
  [ "$side" = new ] && src=$root/examples/client-1.3
  cp -r "$src" "$work/$side"
  find "$work/$side" -exec touch -h -d @1650000000 {} +
done
check "Linux make-patch" lpack -q make-patch --folder "$work/old" "$work/new" "$work/patch-linux"
check "Windows make-patch" wpack -q make-patch --folder "$(winpath "$work/old")" \
  "$(winpath "$work/new")" "$(winpath "$work/patch-win")"
check "patch folders are the same on both systems" diff -r "$work/patch-linux" "$work/patch-win"
check "Windows check of its patch folder" wpack -q check "$(winpath "$work/patch-win")"

echo "marrowgate-pack.exe under Wine: $passed checks passed, $failed failed (details: $work/checks.log)"
[ "$failed" = 0 ]
