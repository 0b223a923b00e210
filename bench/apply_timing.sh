#!/usr/bin/env bash
# Times a patch run (console, into a fresh copy of a client) next to unzip
# of a zip -6 of the same update tree and next to marrowgate-pack extract
# -j 1 of the patch's package, for 64 MiB in 2000 files and in 20000 files
# (half text-like, half incompressible; every file in the new-file list),
# and reports each ratio (ours / theirs: below 1 is faster). Then the peak
# resident memory of a patch run with one 512 MiB item and with 2000 files,
# the time of a second run of the same patch (nothing to write), and, with
# STRACE=1, the system calls per copied file (strace -f -c): the total and
# every call made at least once per file.
#
#   REPEAT=3 STRACE=1 bash bench/apply_timing.sh build-rel
# (a Release build folder holding tools/marrowgate and tools/marrowgate-pack)
# Runs are interleaved, and SCRATCH=ram (as root) gives each timed run a
# new in-memory ext4: see bench/timing_lib.sh.
set -euo pipefail
build=$(realpath "$1")
program=$build/tools/marrowgate
pack=$build/tools/marrowgate-pack
repeat=${REPEAT:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# tree FOLDER FILES BYTES: the update tree and its new-file list.
tree() {
  python3 - "$@" <<'PY'
import os, random, sys
root, files, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(11)
words = [("w%d" % i).encode() for i in range(400)]
names = []
for i in range(files):
    size = total // files
    name = "d%02d/f%05d.bin" % (i % 40, i)
    path = os.path.join(root, "update", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        if i % 2 or files == 1:
            f.write(os.urandom(size))
        else:
            out = bytearray()
            while len(out) < size:
                out += random.choice(words) + b" "
            f.write(bytes(out[:size]))
    names.append(name)
os.makedirs(os.path.join(root, "update/update"), exist_ok=True)
with open(os.path.join(root, "update/update/newfile.txt"), "w") as f:
    f.write("\r\n".join(names) + "\r\n")
with open(os.path.join(root, "cfg.txt"), "w") as f:
    f.write("UPDATE\r\n{\r\n    szUpdateDir = update\r\n    szValidityStr = 1.0.0.0\r\n}\r\n")
PY
}
# A client at version 1.0 with an empty file list.
client() {
  rm -rf "$1"
  mkdir -p "$1/mb/etc" "$1/update"
  printf '1 1.0.0.0\r\n' > "$1/mb/etc/version.txt"
  : > "$1/update/localfilelist.txt"
}

source "$(dirname "${BASH_SOURCE[0]}")/timing_lib.sh"
scratch=$work/scratch
cpu() {
  /usr/bin/time -f '%U+%S' -o "$work/cpu" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$work/cpu"
}

cd "$work"
for files in 2000 20000; do
  rm -rf patch p.zip unz client patcher
  tree patch "$files" $((64 << 20))
  "$pack" attach "$program" patch patcher >/dev/null
  (cd patch && zip -q -6 -r ../p.zip update)
  "$pack" create p.dpk patch >/dev/null
  best_time=()
  for ((round = 0; round < repeat; round++)); do
    timed unzip '' unzip -q p.zip -d "$scratch/unz"
    timed extract '' "$pack" -j 1 extract p.dpk "$scratch/out"
    timed run 'client "$scratch/client"' ./patcher --console "$scratch/client"
    # The same run with the copy on one thread (no worker unsealing ahead).
    timed one 'client "$scratch/client"' env MARROWGATE_COPY_WORKERS=0 ./patcher --console "$scratch/client"
  done
  u=${best_time[unzip]} e=${best_time[extract]} r=${best_time[run]} r0=${best_time[one]}
  client client; c=$(cpu ./patcher --console "$PWD/client")
  client client; c0=$(cpu env MARROWGATE_COPY_WORKERS=0 ./patcher --console "$PWD/client")
  diff -r patch/update/d00 client/d00 >/dev/null && echo "$files files: installed tree identical"
  s=$(seconds ./patcher --console "$PWD/client")
  printf '%5d files: patch run %6.2f s   unzip %6.2f s   ratio %s\n' "$files" "$r" "$u" "$(ratio "$r" "$u")"
  printf '%5d files: patch run %6.2f s (user+sys %s)   one thread %6.2f s (user+sys %s)\n' \
    "$files" "$r" "$c" "$r0" "$c0"
  printf '%5d files: patch run %6.2f s   extract -j 1 %6.2f s   ratio %s\n' "$files" "$r" "$e" "$(ratio "$r" "$e")"
  printf '%5d files: second run %6.2f s (nothing to write)\n' "$files" "$s"
  if [[ "$files" == 2000 ]]; then
    client client
    printf '2000 files: peak memory %s MiB\n' "$(peak_mib ./patcher --console "$PWD/client")"
  fi
  if [[ "${STRACE:-0}" == 1 ]]; then
    client client
    strace -f -c -o "$work/strace" ./patcher --console "$PWD/client" >/dev/null 2>&1 || true
    # Every call made at least once per file, and the total.
    awk -v n="$files" '$NF == "total" { printf "%5d files: all calls %7d, %.1f per file\n", n, $4, $4 / n }
      $NF ~ /^[a-z_0-9]+$/ && $NF != "total" && ($4 + 0) >= n {
      printf "%5d files: %-10s %7d calls, %.2f per file\n", n, $NF, $4, $4 / n }' "$work/strace"
  fi
  rm -f p.dpk
done

rm -rf patch patcher client
tree patch 1 $((512 << 20))
"$pack" attach "$program" patch patcher >/dev/null
client client
printf 'one 512 MiB item: peak memory %s MiB\n' "$(peak_mib ./patcher --console "$PWD/client")"
