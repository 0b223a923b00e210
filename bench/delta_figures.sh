#!/usr/bin/env bash
# The figures of delta items, one run each, on two pairs of installs:
#
#  big   one file of SIZE_MB (default 200) MiB of random bytes, changed in
#        three places of 1 KiB (start, middle, end);
#  doc   a copy of /usr/share/doc (DOC to pick another tree) with EDITS
#        (default 300) of its files of 4 KiB or more edited: a line
#        replaced in the middle, and every tenth one grown at its end;
#  pkg   a package data/maps.dpk whose item of PKG_MB (default 32) MiB of
#        random bytes changed in three places of 1 KiB, beside an item of
#        1 MiB that stays and one of 64 KiB that is added.
#
# CASES picks the cases (default "big doc pkg").
# For each: the patch size with deltas (the default 64 KiB smallest delta,
# and for doc also --delta-min-size 4096), without deltas (--no-delta),
# and the sum over the same changed files of `xdelta3 -9 -D`, `bsdiff` and
# `zstd --patch-from --long`; make-patch time and peak memory; apply time
# and peak memory of the patch program (console run into a copy of OLD)
# against the whole-file patch.
#
#   bash bench/delta_figures.sh build            # a build folder holding tools/
#   SIZE_MB=50 EDITS=100 BSDIFF_MAX_MB=64 bash bench/delta_figures.sh build
#
# xdelta3, bsdiff and zstd are only measured when installed (they are no
# dependency: apt-get install xdelta3 bsdiff zstd). bsdiff needs about 17
# times a file's size in memory: files above BSDIFF_MAX_MB (default 256)
# are left out of its sum, and the row says so.
set -euo pipefail
build=$(realpath "$1")
pack=$build/tools/marrowgate-pack
patcher=$build/tools/marrowgate
size_mb=${SIZE_MB:-200}
edits=${EDITS:-300}
doc=${DOC:-/usr/share/doc}
bsdiff_max=$(( ${BSDIFF_MAX_MB:-256} * 1024 * 1024 ))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# timed NAME CMD...: runs CMD, keeps "seconds peak-KiB" in $work/NAME.t.
timed() {
  local name=$1; shift
  /usr/bin/time -f '%e %M' -o "$work/$name.t" "$@" >"$work/$name.log" 2>&1 || {
    echo "failed: $*" >&2; cat "$work/$name.log" >&2; exit 1; }
}
secs() { cut -d' ' -f1 "$work/$1.t"; }
peak() { echo "$(( $(cut -d' ' -f2 "$work/$1.t") / 1024 )) MB"; }
bytes() { stat -c %s "$1"; }
# maxpeak NAME KIB: the larger of NAME's peak and KIB.
maxpeak() { local p; p=$(cut -d' ' -f2 "$work/$1.t"); echo $(( p > $2 ? p : $2 )); }

# An install at version $2 in folder $1.
version() { mkdir -p "$1/mb/etc"; printf '1 %s\r\n' "$2" > "$1/mb/etc/version.txt"; }

# The other tools over the changed files: CASE OLD NEW, the changed paths
# in $work/CASE.changed.
others() {
  local case=$1 old=$2 new=$3 x=0 b=0 z=0 bskip=0 line f
  local tx=0 tb=0 tz=0 mx=0 mb=0 mz=0
  while IFS= read -r line; do
    f=$work/one
    if command -v xdelta3 >/dev/null; then
      timed x xdelta3 -9 -D -f -e -s "$old/$line" "$new/$line" "$f.x"
      x=$((x + $(bytes "$f.x"))); mx=$(maxpeak x $mx); tx=$(awk -v a="$tx" -v b="$(secs x)" 'BEGIN{print a+b}')
    fi
    if command -v bsdiff >/dev/null; then
      if [ "$(bytes "$new/$line")" -le "$bsdiff_max" ]; then
        timed b bsdiff "$old/$line" "$new/$line" "$f.b"
        b=$((b + $(bytes "$f.b"))); mb=$(maxpeak b $mb); tb=$(awk -v a="$tb" -v b="$(secs b)" 'BEGIN{print a+b}')
      else
        bskip=$((bskip + 1))
      fi
    fi
    if command -v zstd >/dev/null; then
      local size window=10
      size=$(bytes "$new/$line")
      while [ $((1 << window)) -lt "$size" ] && [ $window -lt 31 ]; do window=$((window + 1)); done
      timed z zstd -q -f --long=$window --patch-from="$old/$line" "$new/$line" -o "$f.z"
      z=$((z + $(bytes "$f.z"))); mz=$(maxpeak z $mz); tz=$(awk -v a="$tz" -v b="$(secs z)" 'BEGIN{print a+b}')
    fi
  done < "$work/$case.changed"
  command -v xdelta3 >/dev/null && echo "| \`xdelta3 -9\` over the changed files | $x | ${tx} s, $((mx / 1024)) MB | |"
  if command -v bsdiff >/dev/null; then
    if [ $bskip -gt 0 ]; then
      echo "| \`bsdiff\` over the changed files | not run: $bskip file(s) above BSDIFF_MAX_MB | | |"
    else
      echo "| \`bsdiff\` over the changed files | $b | ${tb} s, $((mb / 1024)) MB | |"
    fi
  fi
  command -v zstd >/dev/null && echo "| \`zstd --patch-from --long\` over the changed files | $z | ${tz} s, $((mz / 1024)) MB | |"
  return 0
}

# figures CASE OLD NEW [make-patch options of a second delta row]
# (the other tools read the changed files below $others_old and
# $others_new when set, else below OLD and NEW)
figures() {
  local case=$1 old=$2 new=$3 extra=${4:-}
  "$pack" -q file-list "$old"; "$pack" -q file-list "$new"
  timed "$case-make" "$pack" -q make-patch "$old" "$new" "$work/$case-patch"
  timed "$case-make-whole" "$pack" -q make-patch --no-delta "$old" "$new" "$work/$case-whole"
  local deltas
  deltas=$("$pack" list "$work/$case-patch" | grep -c '^delta' || true)
  rm -rf "$work/i"; cp -a "$old" "$work/i"
  timed "$case-dry" "$work/$case-patch" --dry-run "$work/i"
  timed "$case-apply" "$work/$case-patch" --console "$work/i"
  rm -rf "$work/i"; cp -a "$old" "$work/i"
  timed "$case-apply-whole" "$work/$case-whole" --console "$work/i"
  rm -rf "$work/i"
  local base
  base=$(bytes "$patcher")
  echo
  echo "$case: $(wc -l < "$work/$case.changed") changed files, $deltas as delta items; patch bytes"
  echo "are the patch program's less the patcher's $base"
  echo
  echo "| | patch bytes | make | apply |"
  echo "|---|---|---|---|"
  echo "| with deltas | $(( $(bytes "$work/$case-patch") - base )) | $(secs "$case-make") s, $(peak "$case-make") | $(secs "$case-apply") s, $(peak "$case-apply") |"
  if [ -n "$extra" ]; then
    timed "$case-make-extra" "$pack" -q make-patch $extra "$old" "$new" "$work/$case-extra"
    rm -rf "$work/i"; cp -a "$old" "$work/i"
    timed "$case-apply-extra" "$work/$case-extra" --console "$work/i"
    rm -rf "$work/i"
    echo "| with deltas, \`$extra\` | $(( $(bytes "$work/$case-extra") - base )) | $(secs "$case-make-extra") s, $(peak "$case-make-extra") | $(secs "$case-apply-extra") s, $(peak "$case-apply-extra") |"
  fi
  echo "| \`--dry-run\` of the delta patch on OLD | | | $(secs "$case-dry") s, $(peak "$case-dry") |"
  echo "| whole files (\`--no-delta\`) | $(( $(bytes "$work/$case-whole") - base )) | $(secs "$case-make-whole") s, $(peak "$case-make-whole") | $(secs "$case-apply-whole") s, $(peak "$case-apply-whole") |"
  others "$case" "${others_old:-$old}" "${others_new:-$new}"
}

cases=${CASES:-big doc pkg}
if [[ " $cases " == *" big "* ]]; then
# big: one large file changed in three places.
version "$work/big-old" 1.2.0.0
mkdir -p "$work/big-old/data"
head -c $((size_mb * 1024 * 1024)) /dev/urandom > "$work/big-old/data/big.bin"
cp -a "$work/big-old" "$work/big-new"
version "$work/big-new" 1.3.0.0
for at in 0 $((size_mb * 512 * 1024)) $((size_mb * 1024 * 1024 - 1024)); do
  head -c 1024 /dev/urandom | dd of="$work/big-new/data/big.bin" bs=1 seek=$at conv=notrunc status=none
done
echo data/big.bin > "$work/big.changed"
figures big "$work/big-old" "$work/big-new"
rm -rf "$work/big-old" "$work/big-new" "$work"/big-*
fi
if [[ " $cases " == *" pkg "* ]]; then
# pkg: one large package item changed in three places.
pkg_mb=${PKG_MB:-32}
mkdir -p "$work/pkg-items-old"
head -c $((pkg_mb * 1024 * 1024)) /dev/urandom > "$work/pkg-items-old/big.map"
head -c $((1024 * 1024)) /dev/urandom > "$work/pkg-items-old/same.map"
cp -a "$work/pkg-items-old" "$work/pkg-items-new"
head -c $((64 * 1024)) /dev/urandom > "$work/pkg-items-new/added.map"
for at in 0 $((pkg_mb * 512 * 1024)) $((pkg_mb * 1024 * 1024 - 1024)); do
  head -c 1024 /dev/urandom | dd of="$work/pkg-items-new/big.map" bs=1 seek=$at conv=notrunc status=none
done
for v in old:1.2.0.0 new:1.3.0.0; do
  version "$work/pkg-${v%%:*}" "${v#*:}"
  mkdir -p "$work/pkg-${v%%:*}/data"
  "$pack" -q create "$work/pkg-${v%%:*}/data/maps.dpk" "$work/pkg-items-${v%%:*}"
done
echo big.map > "$work/pkg.changed"
others_old=$work/pkg-items-old others_new=$work/pkg-items-new \
  figures pkg "$work/pkg-old" "$work/pkg-new"
rm -rf "$work"/pkg-*
fi
[[ " $cases " == *" doc "* ]] || exit 0

# doc: a documentation tree with a few hundred files edited.
version "$work/doc-old" 1.2.0.0
cp -rL "$doc" "$work/doc-old/doc" 2>/dev/null || true
find "$work/doc-old/doc" ! -type f ! -type d -delete
# A package ignores the case of names: of two names that differ only in
# case, one goes.
find "$work/doc-old/doc" -type f | sort | awk '{ k = tolower($0); if (k in seen) print; seen[k] = 1 }' |
  while IFS= read -r f; do rm -f "$f"; done
cp -a "$work/doc-old" "$work/doc-new"
version "$work/doc-new" 1.3.0.0
python3 - "$work/doc-new" "$edits" > "$work/doc.changed" <<'PY'
import os, random, sys
root, edits = sys.argv[1], int(sys.argv[2])
files = sorted(os.path.relpath(os.path.join(d, f), root)
               for d, _, names in os.walk(os.path.join(root, "doc")) for f in names
               if os.path.getsize(os.path.join(d, f)) >= 4096)
random.seed(29)
for i, rel in enumerate(sorted(random.sample(files, min(edits, len(files))))):
    path = os.path.join(root, rel)
    data = open(path, "rb").read()
    middle = data.find(b"\n", len(data) // 2) + 1
    end = data.find(b"\n", middle)
    end = len(data) if end < 0 else end
    data = data[:middle] + b"edited line %d of this file" % i + data[end:]
    if i % 10 == 0:
        data += b"\nan added paragraph at the end of the file, %d\n" % i * 20
    open(path, "wb").write(data)
    print(rel)
PY
figures doc "$work/doc-old" "$work/doc-new" "--delta-min-size 4096"
