#!/usr/bin/env bash
# The main job on the built-in example: builds the publisher's tool, makes a
# package of the example patch folder, lists and verifies it, and appends it
# to a host program, which still runs and now carries the package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target marrowgate-pack >/dev/null
pack="$build_dir/tools/marrowgate-pack"

out=out/demo
rm -rf "$out"
mkdir -p "$out"

echo "== create a package of examples/patch"
"$pack" create "$out/patch.dpk" examples/patch
echo "== list it"
"$pack" list "$out/patch.dpk"
echo "== verify it"
"$pack" verify "$out/patch.dpk"
echo "== append it to a copy of a host program"
cp /bin/true "$out/host"
"$pack" attach "$out/host" examples/patch "$out/patcher"
"$pack" probe "$out/host"
"$pack" probe "$out/patcher"
"$out/patcher" && echo "the patched host still runs"
echo "== extract the appended package again"
"$pack" extract "$out/patcher" "$out/extracted"
diff -r examples/patch "$out/extracted" && echo "extracted files are identical"
