#!/usr/bin/env bash
# Times marrowgate-pack create, extract and verify on 64 MiB in 2000 files
# (half text-like, half incompressible) next to zip -6, unzip and unzip -t
# on the same files, and reports each ratio (ours / theirs: below 1 is
# faster). With REPEAT=n every command runs n times and the best time counts.
# JOBS lists the worker counts (-j) to run marrowgate-pack with (default
# "1 2"); zip and unzip run once for all of them. With RSS=1 it also
# measures the peak resident memory of create, extract and verify for
# those 2000 files and for one 1 GiB item (needs 3 GiB of disk in
# $TMPDIR), per -j.
#
#   REPEAT=3 RSS=1 JOBS="1 2" bash bench/pack_tool_timing.sh build-rel/tools/marrowgate-pack
# Runs are interleaved, and SCRATCH=ram (as root) gives each timed run a
# new in-memory ext4: see bench/timing_lib.sh.
set -euo pipefail
pack=$(realpath "$1")
repeat=${REPEAT:-1}
jobs=${JOBS:-1 2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/src" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(11)
words = [("w%d" % i).encode() for i in range(400)]
total, files = 64 * 1024 * 1024, 2000
for i in range(files):
    size = total // files
    path = os.path.join(root, "d%02d" % (i % 40), "f%04d.bin" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        if i % 2:
            f.write(os.urandom(size))
        else:
            out = bytearray()
            while len(out) < size:
                out += random.choice(words) + b" "
            f.write(bytes(out[:size]))
PY

source "$(dirname "${BASH_SOURCE[0]}")/timing_lib.sh"
scratch=$work/scratch

cd "$work"
zip -q -6 -r p.zip src
"$pack" create p.dpk src >/dev/null
best_time=()
for ((round = 0; round < repeat; round++)); do
  timed zip '' zip -q -6 -r "$scratch/p.zip" src
  timed unzip '' unzip -q p.zip -d "$scratch/unz"
  timed test '' unzip -tq p.zip
  for j in $jobs; do
    timed "create$j" '' "$pack" -j "$j" create "$scratch/p.dpk" src
    timed "extract$j" '' "$pack" -j "$j" extract p.dpk "$scratch/out"
    timed "verify$j" '' "$pack" -j "$j" verify p.dpk
  done
done
z=${best_time[zip]} u=${best_time[unzip]} t=${best_time[test]}
printf 'zip -6 %.2f s, unzip %.2f s, unzip -t %.2f s (best of %d)\n' "$z" "$u" "$t" "$repeat"
for j in $jobs; do
  c=${best_time[create$j]} e=${best_time[extract$j]} v=${best_time[verify$j]}
  rm -rf out
  "$pack" -j "$j" extract p.dpk out >/dev/null
  diff -r src out >/dev/null && echo "-j $j: extracted tree identical"
  printf -- '-j %-2s create  %6.2f s   zip -6   %6.2f s   ratio %s\n' "$j" "$c" "$z" "$(ratio "$c" "$z")"
  printf -- '-j %-2s extract %6.2f s   unzip    %6.2f s   ratio %s\n' "$j" "$e" "$u" "$(ratio "$e" "$u")"
  printf -- '-j %-2s verify  %6.2f s   unzip -t %6.2f s   ratio %s\n' "$j" "$v" "$t" "$(ratio "$v" "$t")"
done
printf 'sizes: package %d bytes, zip %d bytes\n' "$(stat -c %s p.dpk)" "$(stat -c %s p.zip)"

if [[ "${RSS:-0}" == 1 ]]; then
  for j in $jobs; do
    rm -rf out q.dpk
    cm=$(peak_mib "$pack" -j "$j" create q.dpk src)
    em=$(peak_mib "$pack" -j "$j" extract p.dpk out)
    vm=$(peak_mib "$pack" -j "$j" verify p.dpk)
    printf -- '-j %-2s peak RSS, 2000 files: create %s MiB, extract %s MiB, verify %s MiB\n' \
      "$j" "$cm" "$em" "$vm"
  done
  rm -rf src out unz p.zip q.dpk p.dpk
  mkdir big
  # Half text-like, half incompressible, in 1 MiB stretches.
  python3 - big/item.bin <<'PY'
import os, sys
text = b"".join(b"w%d " % (i % 400) for i in range(300000))[: 1 << 20]
with open(sys.argv[1], "wb") as f:
    for i in range(1024):
        f.write(text if i % 2 == 0 else os.urandom(1 << 20))
PY
  for j in $jobs; do
    rm -rf big.dpk bigout
    cm=$(peak_mib "$pack" -j "$j" create big.dpk big)
    em=$(peak_mib "$pack" -j "$j" extract big.dpk bigout)
    vm=$(peak_mib "$pack" -j "$j" verify big.dpk)
    cmp big/item.bin bigout/item.bin && echo "-j $j: 1 GiB item identical"
    printf -- '-j %-2s peak RSS, one 1 GiB item: create %s MiB, extract %s MiB, verify %s MiB\n' \
      "$j" "$cm" "$em" "$vm"
  done
fi
