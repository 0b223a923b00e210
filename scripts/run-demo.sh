#!/usr/bin/env bash
# The main job, as a user of this software does it: a publisher makes a
# patch program from two client versions, a player applies it to an
# installed client in the terminal, and checks the result.
#
#   1. build `marrowgate` (the patcher), `marrowgate-pack` (the publisher's
#      tool) and `marrowgate-listen` (the reference launcher listener);
#   2. make-patch from examples/install (version 1.2) to examples/client-1.3
#      with a stripped copy of `marrowgate` as the stub: out/demo/patcher;
#      check it, and also attach the hand-made examples/patch
#      (out/demo/patcher-by-hand);
#   3. copy examples/install to out/demo/install;
#   4. run the patcher on it in the console;
#   5. show what changed, check the install with `marrowgate --verify`,
#      and compare it with examples/client-1.3.
# Every run starts again from fresh copies, so it can be run any number of
# times.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
cmake -S . -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target marrowgate marrowgate-pack marrowgate-listen >/dev/null
pack="$build_dir/tools/marrowgate-pack"

out=out/demo
rm -rf "$out"
mkdir -p "$out"
# Patch programs ship without symbols.
patcher_program="$out/marrowgate-stub"
cp "$build_dir/tools/marrowgate" "$patcher_program"
strip "$patcher_program"

echo "== the publisher: make the patch from two client versions"
"$pack" make-patch --patcher "$patcher_program" --hold-back bin/game.cfg \
  examples/install examples/client-1.3 "$out/patcher"
"$pack" check "$out/patcher"
"$pack" list "$out/patcher"
echo "(the hand-made examples/patch attaches the same way)"
"$pack" attach "$patcher_program" examples/patch "$out/patcher-by-hand"

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
echo
echo "== the same as examples/client-1.3?"
diff -r -x update -x maps.dpk examples/client-1.3 "$out/install" && echo "  yes"
exit "$status"
