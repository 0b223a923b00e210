#!/usr/bin/env bash
# Times marrowgate-pack create, extract and verify on 64 MiB in 2000 files
# (half text-like, half incompressible) next to zip -6, unzip and unzip -t
# on the same files, and reports each ratio (ours / theirs: below 1 is
# faster). With REPEAT=n every command runs n times and the best time counts.
# With RSS=1 it also measures the peak resident memory of create, extract
# and verify for those 2000 files and for one 1 GiB item (needs 3 GiB of
# disk in $TMPDIR).
#
#   REPEAT=3 RSS=1 bash bench/pack_tool_timing.sh build-rel/tools/marrowgate-pack
set -euo pipefail
pack=$(realpath "$1")
repeat=${REPEAT:-1}
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

seconds() { local start=$EPOCHREALTIME; "$@" >/dev/null; awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }'; }
# Best of $repeat runs; `setup` (a command) runs before each.
best() {
  local setup=$1; shift
  local min=""
  for ((i = 0; i < repeat; i++)); do
    eval "$setup"
    local t; t=$(seconds "$@")
    min=$(awk -v a="$t" -v b="$min" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  echo "$min"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Peak resident set of a command in MiB.
peak_mib() {
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1
  awk '{ printf "%.1f", $1 / 1024 }' "$work/rss"
}

cd "$work"
c=$(best 'rm -f p.dpk' "$pack" create p.dpk src)
z=$(best 'rm -f p.zip' zip -q -6 -r p.zip src)
e=$(best 'rm -rf out' "$pack" extract p.dpk out)
u=$(best 'rm -rf unz' unzip -q p.zip -d unz)
v=$(best '' "$pack" verify p.dpk)
t=$(best '' unzip -tq p.zip)
diff -r src out >/dev/null && echo "extracted tree identical"
printf 'create  %6.2f s   zip -6   %6.2f s   ratio %s\n' "$c" "$z" "$(ratio "$c" "$z")"
printf 'extract %6.2f s   unzip    %6.2f s   ratio %s\n' "$e" "$u" "$(ratio "$e" "$u")"
printf 'verify  %6.2f s   unzip -t %6.2f s   ratio %s\n' "$v" "$t" "$(ratio "$v" "$t")"
printf 'sizes: package %d bytes, zip %d bytes\n' "$(stat -c %s p.dpk)" "$(stat -c %s p.zip)"

if [[ "${RSS:-0}" == 1 ]]; then
  rm -rf out
  printf 'peak RSS, 2000 files: create %s MiB, extract %s MiB, verify %s MiB\n' \
    "$(rm -f q.dpk; peak_mib "$pack" create q.dpk src)" "$(peak_mib "$pack" extract p.dpk out)" \
    "$(peak_mib "$pack" verify p.dpk)"
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
  cm=$(peak_mib "$pack" create big.dpk big)
  em=$(peak_mib "$pack" extract big.dpk bigout)
  vm=$(peak_mib "$pack" verify big.dpk)
  cmp big/item.bin bigout/item.bin && echo "1 GiB item identical"
  printf 'peak RSS, one 1 GiB item: create %s MiB, extract %s MiB, verify %s MiB\n' "$cm" "$em" "$vm"
fi
