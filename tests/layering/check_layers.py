#!/usr/bin/env python3
"""Checks that includes between the source folders run only downwards.

Each folder is a layer; a file may include headers of its own folder and of
the layers below it, never of a layer above nor of a peer on the same
level. Shared test helpers (package/testing) take the level of the highest
header they include, so a test may use them only from that level up.

Usage: check_layers.py SOURCE_ROOT     (exit 1 and one line per offence)
"""
import os
import re
import sys

LEVELS = {
    "platform": 0,
    "util": 1,
    "keys": 2,
    "package/file": 3,
    "package/seal": 4,
    "package/store": 5,
    "package/manager": 6,
    "config": 7,
    "transfer": 7,
    "app": 8,
    "app/gtk": 9,
    "app/win": 9,
    "tools": 10,
}
SHARED_HELPERS = "package/testing"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """The longest layer name that is a folder prefix of `path`."""
    best = None
    for name in list(LEVELS) + [SHARED_HELPERS]:
        if path.startswith(name + "/") and (best is None or len(name) > len(best)):
            best = name
    return best


def main():
    root = sys.argv[1]
    files = {}
    for top in {name.split("/")[0] for name in LEVELS}:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cc")):
                    full = os.path.join(folder, name)
                    rel = os.path.relpath(full, root).replace(os.sep, "/")
                    with open(full, encoding="utf-8", errors="replace") as f:
                        files[rel] = INCLUDE.findall(f.read())
    levels = dict(LEVELS)
    # The shared helpers sit just above what they include.
    helper_level = {}
    for path, includes in files.items():
        if layer_of(path) == SHARED_HELPERS:
            targets = [layer_of(i) for i in includes]
            helper_level[path] = max([levels[t] for t in targets if t in levels] or [0])
    offences = []
    for path, includes in sorted(files.items()):
        own = layer_of(path)
        if own is None:
            continue
        own_level = helper_level.get(path, levels.get(own))
        for include in includes:
            target = layer_of(include)
            if target is None or target == own:
                continue
            target_level = helper_level.get(include, levels.get(target))
            if target_level is None:
                continue
            upward = target_level > own_level
            peer = target_level == own_level and target != SHARED_HELPERS and own != SHARED_HELPERS
            if upward or peer:
                offences.append(f"{path}: includes {include} ({target} is "
                                f"{'above' if upward else 'a peer of'} {own})")
    for line in offences:
        print(line)
    print(f"{len(files)} files checked, {len(offences)} includes against the layering")
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
