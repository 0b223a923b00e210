#!/usr/bin/env bash
# Times marrowgate-pack create and extract on 64 MiB in 2000 files (half
# text-like, half incompressible) next to zip -6 and unzip on the same
# files. Usage: bash bench/pack_tool_timing.sh build/tools/marrowgate-pack
set -euo pipefail
pack=$(realpath "$1")
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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
cd "$work"
c=$(seconds "$pack" create p.dpk src)
e=$(seconds "$pack" extract p.dpk out)
z=$(seconds zip -q -6 -r p.zip src)
u=$(seconds unzip -q p.zip -d unz)
diff -r src out >/dev/null && echo "extracted tree identical"
printf 'create  %6.2f s   zip -6 %6.2f s   ratio %s\n' "$c" "$z" "$(ratio "$c" "$z")"
printf 'extract %6.2f s   unzip  %6.2f s   ratio %s\n' "$e" "$u" "$(ratio "$e" "$u")"
printf 'sizes: package %d bytes, zip %d bytes\n' "$(stat -c %s p.dpk)" "$(stat -c %s p.zip)"
