#!/usr/bin/env bash
# The main job, as a user of this software does it: a publisher turns the
# example patch into a patch program, a player applies it to an installed
# client in the terminal, and checks the result.
#
#   1. build `marrowgate` (the patcher) and `marrowgate-pack` (the
#      publisher's tool);
#   2. attach examples/patch to a copy of `marrowgate`: out/demo/patcher;
#   3. copy examples/install (a client at version 1.2) to out/demo/install;
#   4. run the patcher on it in the console;
#   5. show what changed and check the install with `marrowgate --verify`.
# Every run starts again from fresh copies, so it can be run any number of
# times.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target marrowgate marrowgate-pack >/dev/null
pack="$build_dir/tools/marrowgate-pack"
patcher_program="$build_dir/tools/marrowgate"

out=out/demo
rm -rf "$out"
mkdir -p "$out"

echo "== the publisher: attach examples/patch to a copy of marrowgate"
"$pack" attach "$patcher_program" examples/patch "$out/patcher"
"$pack" list "$out/patcher"

echo
echo "== the player's client before the patch (examples/install)"
cp -R examples/install "$out/install"
(cd "$out/install" && find . -type f | sort | sed 's|^\./|  |')
"$out/patcher" --verify "$out/install"

echo
echo "== the player: apply the patch"
status=0
"$out/patcher" --console "$out/install" || status=$?
echo "patcher exit status: $status"

echo
echo "== what changed"
diff -r examples/install "$out/install" | sed 's/^/  /' || true
echo
echo "== the client after the patch"
(cd "$out/install" && find . -type f | sort | sed 's|^\./|  |')
echo "installed version: $(tr -d '\r' < "$out/install/mb/etc/version.txt")"
echo "inside data/maps.dpk:"
"$pack" list "$out/install/data/maps.dpk" | sed 's/^/  /'
echo
echo "== marrowgate --verify"
"$out/patcher" --verify "$out/install"
exit "$status"
