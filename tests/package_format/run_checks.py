#!/usr/bin/env python3
"""Checks the package files of marrowgate-pack against the independent Python
reader (check_package.py), and the packages of the independent Python writer
(write_package.py) against marrowgate-pack.

Usage: run_checks.py PATH-OF-marrowgate-pack [PART...]
PART is "read" (marrowgate-pack writes, the Python reader checks), "write"
(the Python writer writes, marrowgate-pack reads) or "mutations" (damaged
packages); all three when none is given.
Exit status 0 when every check passes.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_package  # noqa: E402
import dpk_format as fmt  # noqa: E402
import write_package  # noqa: E402

# Checks that are known to fail because of a recorded deviation of the C++ side;
# they are reported but do not fail the run.  Keep this empty unless a
# deviation is written down and reported.
KNOWN_DEVIATIONS = {}


class Runner:
    def __init__(self, program, work):
        self.program = program
        self.work = work
        self.passed = 0
        self.failed = 0
        self.known = 0

    def check(self, name, problems):
        """`problems` is a list of texts; empty means the check passed."""
        if problems is None:
            problems = []
        elif isinstance(problems, str):
            problems = [problems]
        problems = [p for p in problems if p]
        if not problems:
            self.passed += 1
            print("PASS", name)
        elif name in KNOWN_DEVIATIONS:
            self.known += 1
            print("KNOWN DEVIATION", name, "-", KNOWN_DEVIATIONS[name])
            for p in problems[:10]:
                print("    ", p)
        else:
            self.failed += 1
            print("FAIL", name)
            for p in problems[:20]:
                print("    ", p)
            if len(problems) > 20:
                print("     ... and %d more" % (len(problems) - 20))

    def pack(self, *args, keys=("", ""), expect=0):
        command = [self.program]
        if keys is not None:
            command += ["--key-a", keys[0], "--key-b", keys[1]]
        command += list(args)
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != expect:
            return None, "%s exited %d: %s %s" % (" ".join(command), result.returncode,
                                                   result.stdout.decode(errors="replace"),
                                                   result.stderr.decode(errors="replace"))
        return result.stdout.decode(errors="replace"), None

    def path(self, *parts):
        return os.path.join(self.work, *parts)


# ---- the source tree

def incompressible(rng, n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def make_tree(root, rng):
    """A varied tree; returns nothing, the folder is the reference."""
    stamp = [1_500_000_000]

    def put(rel, data):
        full = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        stamp[0] += 3677
        os.utime(full, (stamp[0], stamp[0]))

    text = b"".join(b"line %d of a compressible text\r\n" % i for i in range(2000))
    put("ReadMe.TXT", text)
    put("data.BIN", incompressible(rng, 3000))
    put("empty.dat", b"")
    os.makedirs(os.path.join(root, "Empty Folder"))
    put("Art/Textures/Stone.DDS", text[:7000])
    put("Art/Textures/wood.dds", incompressible(rng, 1500))
    put("Art/Models/Hero/hero.MDL", b"M" * 50000)
    put("art2/deep/Deeper/deepest/leaf.txt", b"leaf\n")
    put("Common/Shared.txt", b"first spelling\n")
    put("Other/SHARED.TXT", b"second spelling of the same name\n")
    put("Names/caf\u00e9.txt", b"non-ASCII name\n")
    put("Names/\u4e2d\u6587.dat", b"x" * 100)
    for i, word in enumerate(["\u00c5ngstr\u00f6m", "\u00fcber", "na\u00efve", "\u00e9t\u00e9",
                              "\u00d8resund", "stra\u00dfe", "\u0161koda", "\u03b1\u03b2\u03b3"]):
        put("Names/%s_%d.txt" % (word, i), word.encode() * (i + 1))
    # stored lengths 992 and 992+1016 fill their last block exactly
    for size in (943, 944, 945, 1959, 1960, 1961, 2976, 2977):
        put("Edge/plain%04d.bin" % size, incompressible(rng, size))
    put("Edge/one.txt", b"1")
    # tables grow past 17 and 29 buckets
    for i in range(25):
        put("Medium/Entry_%02d.cfg" % i, b"value = %d\n" % i)
    for i in range(300):
        name = ("Item%03d_%08x.txt" if i % 3 else "ITEM%03d_%08X.Txt") % (
            i, rng.getrandbits(32))
        put("Many/" + name, (b"content of item %d\n" % i) * (i % 7 + 1))


def read_tree(root):
    """path (bytes, '/'-joined) -> (content, mtime); folders -> None."""
    result = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        prefix = b"" if rel == "." else os.fsencode(rel).replace(os.sep.encode(), b"/") + b"/"
        for d in dirnames:
            result[prefix + os.fsencode(d)] = None
        for f in filenames:
            full = os.path.join(dirpath, f)
            with open(full, "rb") as fh:
                result[prefix + os.fsencode(f)] = (fh.read(), int(os.stat(full).st_mtime))
    return result


def upper_keys(tree):
    return {fmt.ascii_upper(k): (k, v) for k, v in tree.items()}


def compare_trees(expected, actual, what, check_times=True):
    """Names compare without regard to ASCII case (the pool stores a name once
    in its first spelling); content byte for byte; times to the second."""
    problems = []
    exp, act = upper_keys(expected), upper_keys(actual)
    for key in sorted(set(exp) | set(act)):
        if key not in act:
            problems.append("%s: %r missing" % (what, exp[key][0]))
            continue
        if key not in exp:
            problems.append("%s: unexpected %r" % (what, act[key][0]))
            continue
        e, a = exp[key][1], act[key][1]
        if (e is None) != (a is None):
            problems.append("%s: %r folder/file mismatch" % (what, exp[key][0]))
        elif e is not None:
            if e[0] != a[0]:
                problems.append("%s: %r content differs (%d vs %d bytes)"
                                % (what, exp[key][0], len(e[0]), len(a[0])))
            if check_times and e[1] != a[1]:
                problems.append("%s: %r time %d, expected %d" % (what, exp[key][0], a[1], e[1]))
    return problems


def spelling_problems(expected, check):
    """Names whose upper-case form has one spelling in the source keep it."""
    spellings = {}
    for path in expected:
        for part in path.split(b"/"):
            spellings.setdefault(fmt.ascii_upper(part), set()).add(part)
    problems = []
    for path in list(check.files) + check.folders:
        for part in path.split(b"/"):
            options = spellings.get(fmt.ascii_upper(part), set())
            if len(options) == 1 and part not in options:
                problems.append("name %r stored as %r" % (next(iter(options)), part))
    return problems


def tree_from_check(check):
    tree = {}
    for folder in check.folders:
        tree[folder] = None
    for path, node in check.files.items():
        item = check.items.get(node.first_block)
        if item is not None and item.plain is not None:
            tree[path] = (item.plain, item.header["time"])
    return tree


def load_check(path, **kwargs):
    with open(path, "rb") as f:
        return check_package.PackageCheck(f.read(), **kwargs)


def plain_package_checks(r, label, package, expected, grown=False, exact_sizes=False):
    """The invariants, the plain (not enciphered) items, and the content."""
    check = load_check(package, key_a=b"", grown_tables=grown, exact_sizes=exact_sizes)
    r.check(label + ": format invariants", check.errors)
    if check.root is None:
        r.check(label + ": folder tree readable", "folder tree or name pool not readable")
        return check
    flags = [(p, check.file_item(p).header["flags"]) for p in check.files
             if check.file_item(p) and check.file_item(p).header]
    r.check(label + ": items not enciphered with key A empty",
            ["%r flags %d" % (p, f) for p, f in flags if f & ~fmt.FLAG_COMPRESSED])
    r.check(label + ": compressible items compressed",
            ["%r stored plain" % p for p, f in flags
             if f == 0 and len(expected.get(p, (b"",))[0] or b"") > 2000
             and len(set(expected[p][0][:2000])) < 60])
    extracted = r.path(label.replace(" ", "_") + "_py_extract")
    check.extract(extracted)
    r.check(label + ": Python extract matches the folder byte for byte",
            compare_trees(expected, read_tree(extracted), "extract", check_times=False))
    r.check(label + ": sealed times are the files' modification times",
            [p for p in compare_trees(expected, tree_from_check(check), "sealed")])
    r.check(label + ": name spellings kept", spelling_problems(expected, check))
    return check


def chain_len(check, path):
    return len(check.chains[check.files[path].first_block].blocks)


def main(argv):
    parts = argv[1:] or ["read", "write", "mutations"]
    if not argv or any(p not in ("read", "write", "mutations") for p in parts):
        sys.stderr.write("usage: run_checks.py PATH-OF-marrowgate-pack [read|write|mutations]...\n")
        return 2
    program = os.path.abspath(argv[0])
    if not os.access(program, os.X_OK):
        sys.stderr.write("run_checks.py: %s is not an executable program\n" % program)
        return 2
    work = tempfile.mkdtemp(prefix="mg_package_format_")
    r = Runner(program, work)
    try:
        run_all(r, parts)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed%s" % (r.passed, r.failed,
                                      ", %d known deviations" % r.known if r.known else ""))
    return 1 if r.failed else 0


def run_all(r, parts):
    rng = random.Random(20261208)
    source = r.path("source")
    os.makedirs(source)
    make_tree(source, rng)
    host_bytes = b"MZ" + incompressible(rng, 5001)
    small = r.path("source", "Edge")
    if "read" in parts:
        pack_writes_python_reads(r, rng, source, host_bytes, small)
    if "write" in parts:
        python_writes_pack_reads(r, source, host_bytes, small)
    if "mutations" in parts:
        mutation_checks(r, write_package.package_from_folder(small))


def pack_writes_python_reads(r, rng, source, host_bytes, small):
    expected = read_tree(source)

    # ---- marrowgate-pack writes, Python reads
    package = r.path("out.dpk")
    _, err = r.pack("create", package, source)
    r.check("create with empty keys", err)
    if err:
        return
    check = plain_package_checks(r, "created", package, expected, exact_sizes=True)
    if check.root is not None:
        r.check("created: key digest is MD5 of the empty string",
                "" if check.key_digest == fmt.EMPTY_MD5 else check.key_digest.hex())
        r.check("created: folder tree and name pool not enciphered",
                ["%s flags %d" % (n, check.items[b].header["flags"])
                 for n, b in (("tree", check.dir_block), ("pool", check.names_block))
                 if check.items[b].header["flags"] & ~fmt.FLAG_COMPRESSED])
        edge = {b"Edge/plain%04d.bin" % s: n for s, n in
                ((943, 1), (944, 1), (945, 2), (1959, 2), (1960, 2), (1961, 3),
                 (2976, 3), (2977, 4))}
        r.check("created: exact-fill block counts of the edge files",
                ["%r: %d blocks, expected %d (stored %d)"
                 % (p, chain_len(check, p), n, check.chains[check.files[p].first_block].size)
                 for p, n in edge.items() if p in check.files and chain_len(check, p) != n]
                + ["%r missing" % p for p in edge if p not in check.files])
        empty = check.file_item(b"empty.dat")
        r.check("created: empty file is one block, plainSize 0, storedSize 0, flags 0",
                "" if empty and chain_len(check, b"empty.dat") == 1 and
                (empty.header["plainSize"], empty.header["storedSize"],
                 empty.header["flags"]) == (0, 0, 0) else "empty.dat: %r" % (
                     empty and empty.header))
        r.check("created: no free blocks in a fresh package",
                "" if not check.free_blocks else "free list %s" % check.free_blocks)

    # ---- add and remove through marrowgate-pack
    additions = r.path("additions")
    os.makedirs(os.path.join(additions, "Many"))
    with open(os.path.join(additions, "ReadMe.TXT"), "wb") as f:
        f.write(b"a shorter replacement\n")
    os.utime(os.path.join(additions, "ReadMe.TXT"), (1_700_000_000, 1_700_000_000))
    with open(os.path.join(additions, "Many", "added.txt"), "wb") as f:
        f.write(incompressible(rng, 5000))
    os.utime(os.path.join(additions, "Many", "added.txt"), (1_700_000_100, 1_700_000_100))
    created = check
    _, err = r.pack("add", package, additions)
    r.check("add with empty keys", err)
    if not err:
        expected.update(read_tree(additions))
        check = plain_package_checks(r, "after add", package, expected)
        old_first = created.files[b"ReadMe.TXT"].first_block
        # Blocks freed by a session wait for its commit: the replaced chain
        # is free afterwards, not reused by the session that freed it.
        r.check("after add: the replaced item's old chain is on the free list",
                "" if old_first in check.free_set and
                check.files[b"ReadMe.TXT"].first_block != old_first else
                "block %d of the old ReadMe.TXT not freed" % old_first)

    many = sorted(p for p in expected if p.startswith(b"Many/"))
    removed = [b"Art", many[10], many[0], b"data.BIN"]
    before = check
    _, err = r.pack("remove", package, *[os.fsdecode(p) for p in removed])
    r.check("remove with empty keys", err)
    if not err:
        for key in list(expected):
            if any(key == p or key.startswith(p + b"/") for p in removed):
                del expected[key]
        check = plain_package_checks(r, "after remove", package, expected, grown=True)
        freed = set()
        for p in before.files:
            if any(p == x or p.startswith(x + b"/") for x in removed):
                freed.update(before.chains[before.files[p].first_block].blocks)
        r.check("after remove: freed chains are on the free list",
                ["blocks not free: %s" % sorted(freed - check.free_set)[:20]]
                if not freed <= check.free_set else [])
        r.check("after remove: block count unchanged",
                "" if check.block_count == before.block_count else
                "%d -> %d" % (before.block_count, check.block_count))

        # adding again reuses the free blocks before the file grows
        again = r.path("again")
        os.makedirs(again)
        with open(os.path.join(again, "reuse.bin"), "wb") as f:
            f.write(incompressible(rng, 3000))
        free_before, count_before = set(check.free_set), check.block_count
        _, err = r.pack("add", package, again)
        r.check("add after remove", err)
        if not err:
            expected.update(read_tree(again))
            check = plain_package_checks(r, "after re-add", package, expected, grown=True)
            if b"reuse.bin" in check.files:
                blocks = check.chains[check.files[b"reuse.bin"].first_block].blocks
                r.check("after re-add: new item built from free-list blocks",
                        "" if set(blocks) <= free_before and
                        check.block_count == count_before else
                        "blocks %s, blockCount %d -> %d" % (blocks, count_before,
                                                           check.block_count))

    # ---- attach to a host
    host = r.path("host.exe")
    with open(host, "wb") as f:
        f.write(host_bytes)
    attached = r.path("attached.exe")
    small_expected = read_tree(small)
    _, err = r.pack("attach", host, small, attached)
    r.check("attach with empty keys", err)
    if not err:
        with open(attached, "rb") as f:
            data = f.read()
        r.check("attached: host bytes kept in front",
                "" if data.startswith(host_bytes) else "host prefix changed")
        check = plain_package_checks(r, "attached", attached, small_expected,
                                     exact_sizes=True)
        r.check("attached: tail record names the window after the host",
                "" if check.tail and check.tail["baseOffset"] == len(host_bytes) and
                check.tail["dataSize"] == check.block_count * check.block_size else
                "tail %r" % check.tail)
        out, err = r.pack("probe", attached)
        r.check("attached: probe says host", err or ("" if out.strip() == "host" else out))

        # a shorter package over a host that already carries a longer one
        tiny = r.path("tiny")
        os.makedirs(tiny)
        with open(os.path.join(tiny, "Tiny.txt"), "wb") as f:
            f.write(b"tiny\n")
        reattached = r.path("reattached.exe")
        _, err = r.pack("attach", attached, tiny, reattached)
        r.check("re-attach a shorter package", err)
        if not err:
            check = plain_package_checks(r, "re-attached", reattached, read_tree(tiny))
            with open(reattached, "rb") as f:
                data = f.read()
            tail = check.tail or {}
            end = tail.get("baseOffset", 0) + tail.get("dataSize", 0)
            r.check("re-attached: window kept its base; record after the new window "
                    "and over the last 64 bytes",
                    "" if tail.get("baseOffset") == len(host_bytes) and
                    data[end:end + 64] == data[-64:] and data.startswith(host_bytes)
                    else "tail %r" % tail)

    # ---- default keys: enciphered items, structure only
    enciphered = r.path("enciphered.dpk")
    _, err = r.pack("create", enciphered, source, keys=None)
    r.check("create with the default keys", err)
    if not err:
        check = load_check(enciphered)
        r.check("enciphered: block structure invariants", check.errors)
        n_files = sum(1 for v in read_tree(source).values() if v is not None)
        r.check("enciphered: one chain per file plus the two system items",
                "" if len(check.chains) == n_files + 2 else
                "%d chains for %d files" % (len(check.chains), n_files))
        r.check("enciphered: file items flag cipher A and cipher B, system items cipher A",
                ["block %d flags %d" % (b, i.header["flags"]) for b, i in check.items.items()
                 if i.header and i.header["flags"] & 6 != (
                     fmt.FLAG_ENCIPHERED if b in (check.dir_block, check.names_block)
                     else fmt.FLAG_ENCIPHERED | fmt.FLAG_CIPHER_B)])
        r.check("enciphered: key digest is not that of the empty key",
                "" if check.key_digest != fmt.EMPTY_MD5 else "MD5 of the empty string")

    # a key A of our own and no key B: the digest is the key's MD5, every item
    # (system items included) is enciphered with cipher A only
    only_a = r.path("only_a.dpk")
    _, err = r.pack("create", only_a, source, keys=("Key A text", ""))
    r.check("create with key A only", err)
    if not err:
        check = load_check(only_a, key_a=b"Key A text")
        r.check("key A only: invariants, key digest = MD5 of key A", check.errors)
        r.check("key A only: every item enciphered with cipher A",
                ["block %d flags %d" % (b, i.header["flags"]) for b, i in check.items.items()
                 if i.header and i.header["flags"] & 6 != fmt.FLAG_ENCIPHERED])

    # key A empty, the default key B: system items stay readable (they never use
    # key B), file items are enciphered with cipher B (flags bits 1 and 2)
    only_b = r.path("only_b.dpk")
    _, err = r.pack("--key-a", "", "create", only_b, source, keys=None)
    r.check("create with key B only", err)
    if not err:
        check = load_check(only_b, key_a=b"")
        r.check("key B only: invariants, readable folder tree",
                check.errors + ([] if check.root is not None else ["tree not readable"]))
        r.check("key B only: file items enciphered with cipher B",
                ["%r flags %d" % (p, check.file_item(p).header["flags"]) for p in check.files
                 if check.file_item(p).header["flags"] & 6 != 6])



def python_writes_pack_reads(r, source, host_bytes, small):
    source_now = read_tree(source)
    small_expected = read_tree(small)
    written = r.path("python.dpk")
    with open(written, "wb") as f:
        f.write(write_package.package_from_folder(source))
    check = load_check(written, key_a=b"")
    r.check("python writer: own reader accepts its package", check.errors)
    written_host = r.path("python_host.exe")
    with open(written_host, "wb") as f:
        f.write(write_package.append_to_host(host_bytes, write_package.package_from_folder(
            small)))
    for label, pkg, tree in (("python package", written, source_now),
                             ("python host", written_host, small_expected)):
        out, err = r.pack("verify", pkg)
        r.check(label + ": marrowgate-pack verify", err)
        out, err = r.pack("list", pkg)
        if err:
            r.check(label + ": marrowgate-pack list", err)
        else:
            listed = {}
            for line in out.splitlines():
                fields = line.split()
                if fields and fields[0] == "file":
                    listed[fmt.ascii_upper(os.fsencode(fields[-1]))] = (int(fields[1]),
                                                                        fields[-2])
                elif fields and fields[0] == "dir":
                    listed[fmt.ascii_upper(os.fsencode(fields[-1].rstrip("/")))] = None
            wanted = {}
            for k, v in tree.items():
                wanted[fmt.ascii_upper(k)] = None if v is None else (
                    len(v[0]), fmt.md5(v[0]).hex())
            r.check(label + ": marrowgate-pack list names, sizes and digests",
                    ["%r: listed %r, expected %r" % (k, listed.get(k), wanted.get(k))
                     for k in sorted(set(listed) | set(wanted)) if listed.get(k) != wanted.get(k)])
        target = r.path(label.replace(" ", "_") + "_extract")
        os.makedirs(target)
        out, err = r.pack("extract", pkg, target)
        r.check(label + ": marrowgate-pack extract", err)
        if not err:
            r.check(label + ": extracted bytes and times match",
                    compare_trees(tree, read_tree(target), "extract"))
        out, err = r.pack("probe", pkg)
        r.check(label + ": probe", err or ("" if out.strip() ==
                                           ("host" if pkg == written_host else "package")
                                           else out))

    # other block sizes: a reader takes the size from the header
    for block_size in (512, 4096):
        label = "python package of %d-byte blocks" % block_size
        pkg = r.path("python_%d.dpk" % block_size)
        with open(pkg, "wb") as f:
            f.write(write_package.package_from_folder(small, block_size=block_size))
        check = load_check(pkg, key_a=b"", block_size=block_size)
        r.check(label + ": own reader accepts it", check.errors)
        extract_and_compare(r, label, pkg, small_expected)

    # an empty folder, both ways
    empty = r.path("empty_source")
    os.makedirs(empty)
    pkg = r.path("python_empty.dpk")
    with open(pkg, "wb") as f:
        f.write(write_package.package_from_folder(empty))
    extract_and_compare(r, "python empty package", pkg, {})
    pkg = r.path("pack_empty.dpk")
    _, err = r.pack("create", pkg, empty)
    r.check("marrowgate-pack empty package", err or load_check(pkg, key_a=b"").errors)

    # marrowgate-pack updates a Python-written package
    updated = r.path("python_updated.dpk")
    shutil.copy(written, updated)
    extra = r.path("extra")
    os.makedirs(os.path.join(extra, "Many"))
    with open(os.path.join(extra, "Many", "zz_added.txt"), "wb") as f:
        f.write(b"added to a foreign package\n" * 40)
    _, err = r.pack("add", updated, extra)
    r.check("marrowgate-pack add on a Python package", err)
    expected = dict(source_now)
    expected.update(read_tree(extra))
    if not err:
        check = load_check(updated, key_a=b"")
        r.check("python package after add: invariants", check.errors)
        r.check("python package after add: content",
                compare_trees(expected, tree_from_check(check), "after add"))
    _, err = r.pack("remove", updated, "Art", "Many/zz_added.txt")
    r.check("marrowgate-pack remove on a Python package", err)
    if not err:
        for key in list(expected):
            if key.startswith(b"Art") or key == b"Many/zz_added.txt":
                del expected[key]
        check = load_check(updated, key_a=b"", grown_tables=True)
        r.check("python package after remove: invariants", check.errors)
        r.check("python package after remove: content",
                compare_trees(expected, tree_from_check(check), "after remove"))

    # a Python package with a free list: marrowgate-pack takes blocks from its head
    writer = write_package.PackageWriter()
    writer.add_file(writer.root, b"kept.txt", b"kept\n", 1_600_000_000)
    chains = [writer.add_free_chain(2), writer.add_free_chain(3)]
    with_free = r.path("python_free.dpk")
    with open(with_free, "wb") as f:
        f.write(writer.finish())
    check = load_check(with_free, key_a=b"")
    r.check("python package with a free list: own reader accepts it",
            check.errors + ([] if check.free_blocks == chains[1] + chains[0] else
                            ["free list %s" % check.free_blocks]))
    out, err = r.pack("verify", with_free)
    r.check("python package with a free list: marrowgate-pack verify", err)
    reuse = r.path("reuse")
    os.makedirs(reuse)
    with open(os.path.join(reuse, "new.bin"), "wb") as f:
        f.write(bytes(range(256)) * 4)
    count_before, head_before = check.block_count, check.free_head
    _, err = r.pack("add", with_free, reuse)
    r.check("python package with a free list: marrowgate-pack add", err)
    if not err:
        check = load_check(with_free, key_a=b"")
        r.check("python package with a free list: invariants after add", check.errors)
        new_item = check.files.get(b"new.bin")
        free_before = chains[1] + chains[0]
        r.check("python package with a free list: new item reuses a free block, no growth",
                "" if new_item and new_item.first_block in free_before and
                check.block_count == count_before else
                "new.bin at %s (free head was %d), blockCount %d -> %d"
                % (new_item and new_item.first_block, head_before, count_before,
                   check.block_count))


def extract_and_compare(r, label, pkg, tree):
    _, err = r.pack("verify", pkg)
    r.check(label + ": marrowgate-pack verify", err)
    target = r.path(label.replace(" ", "_") + "_extract")
    os.makedirs(target)
    _, err = r.pack("extract", pkg, target)
    r.check(label + ": marrowgate-pack extract", err or
            compare_trees(tree, read_tree(target), "extract"))


def mutation_checks(r, good):
    """Damaged copies of a good package: the Python checker must notice each,
    and marrowgate-pack verify must refuse those that break what it reads."""
    base = load_check_bytes(good)
    r.check("mutations: the undamaged package passes", base.errors)
    bs = base.block_size
    multi = next(c for c in base.chains.values() if len(c.blocks) >= 2)
    plain_item = next(b for b, i in base.items.items()
                      if i.plain and b not in (base.dir_block, base.names_block))

    def at(data, offset, value):
        data = bytearray(data)
        data[offset:offset + len(value)] = value
        return bytes(data)

    def word(v):
        return v.to_bytes(4, "little")

    stray = bytearray(bs)
    stray[0:4] = word(multi.blocks[0])
    grown = at(good, 28, word(base.block_count + 1)) + bytes(stray)
    mutations = [
        ("version 3", at(good, 16, word(3)), True),
        ("prev link of a second block", at(good, multi.blocks[1] * bs, word(0xFFF)), True),
        ("lastBlock of a chain", at(good, multi.first * bs + 8, word(multi.first)), True),
        ("digest byte of an item", at(good, plain_item * bs + 8 + 24 + 16,
                                       bytes([good[plain_item * bs + 8 + 24 + 16] ^ 1])), True),
        ("sealed reserved word", at(good, plain_item * bs + 8 + 24 + 32, word(1)), True),
        ("block in no chain", grown, True),
        ("folder tree records out of bucket order", reordered_package(r), False),
    ]
    for name, data, reader_refuses in mutations:
        check = load_check_bytes(data)
        r.check("mutation %s: Python checker reports it" % name,
                "" if check.errors else "no error reported")
        if reader_refuses:
            damaged = r.path("damaged.dpk")
            with open(damaged, "wb") as f:
                f.write(data)
            _, err = r.pack("verify", damaged, expect=1)
            r.check("mutation %s: marrowgate-pack verify refuses it" % name, err)


    # variants a reader must still accept: magics compare as zero-terminated
    # strings, a tail record is recognised by its first 11 bytes and the
    # reserved word at 16, and the header's reserved bytes are not looked at
    host_package = write_package.append_to_host(b"host" * 100, good)
    accepted = [
        ("bytes after the package magic's terminator", at(good, 13, b"xyz")),
        ("reserved header bytes not zero", at(good, 60, b"\x01\x02")),
        ("bytes after a sealed magic's terminator",
         at(good, plain_item * bs + 8 + 24 + 8, b"junk")),
        ("bytes after the tail magic's terminator",
         at(host_package, len(host_package) - 64 + 11, b"abcde")),
    ]
    for name, data in accepted:
        damaged = r.path("variant.exe")
        with open(damaged, "wb") as f:
            f.write(data)
        _, err = r.pack("verify", damaged)
        r.check("variant %s: marrowgate-pack verify accepts it" % name, err)


def load_check_bytes(data):
    return check_package.PackageCheck(data, key_a=b"")


class ReversedRootWriter(write_package.PackageWriter):
    """Writes the root folder's records in reverse bucket order."""

    def _tree_records(self, table, out):
        if table is self.root:
            nodes = list(table.nodes())
            table = type("Reversed", (), {"nodes": lambda self_: reversed(nodes)})()
        super()._tree_records(table, out)


def reordered_package(r):
    writer = ReversedRootWriter()
    for i in range(5):
        writer.add_file(writer.root, b"name%d" % i, b"x", 0)
    return writer.finish()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
