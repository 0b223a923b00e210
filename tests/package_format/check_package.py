#!/usr/bin/env python3
"""Independent reader and checker of ".dpk" packages.

Reads a package file, or a host file that carries a package behind a tail
record, and checks every byte-level rule of the format: the header, every block
chain (folder tree, name pool, file items, free list), the partition of the
blocks, the sealed streams of the items that are not enciphered (zlib, sizes,
MD5 digest), the name pool, the folder tree records and their order.

Usage:
  check_package.py [options] FILE
    --tree             print the folder tree
    --extract DIR      write the unenciphered files into DIR
    --key-a TEXT       expected key A (the header's key digest is its MD5)
    --grown-tables     allow folder tables larger than their entry count
                       implies (packages that had entries removed)
    --exact-sizes      require item sizes of exactly 48 + storedSize
                       (packages whose items were never rewritten)
  Exit status 0 when every check passes, 1 otherwise.

Python 3 standard library only.
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dpk_format as fmt  # noqa: E402


class FormatError(Exception):
    pass


class Chain:
    def __init__(self, first):
        self.first = first
        self.blocks = []
        self.size = 0
        self.time = 0
        self.last_block = 0
        self.data = b""


class SealedItem:
    def __init__(self):
        self.header = None
        self.plain = None       # None when enciphered (cannot be unsealed here)
        self.enciphered = False


class TreeNode:
    def __init__(self, name, is_folder, first_block=0):
        self.name = name              # bytes, spelling from the pool
        self.is_folder = is_folder
        self.first_block = first_block
        self.children = []            # record order


class PackageCheck:
    """Runs every check on construction; `errors` lists what failed."""

    def __init__(self, file_bytes, key_a=None, grown_tables=False,
                 check_compression_choice=True, exact_sizes=False,
                 block_size=fmt.DEFAULT_BLOCK_SIZE):
        self.exact_sizes = exact_sizes
        self.expected_block_size = block_size
        self.errors = []
        self.notes = []
        self.tail = None
        self.grown_tables = grown_tables
        self.check_compression_choice = check_compression_choice
        self.chains = {}          # first block -> Chain
        self.items = {}           # first block -> SealedItem
        self.free_blocks = []
        self.root = None
        self.pool = b""
        self.pool_offsets = set()
        self.files = {}           # path (bytes, '/'-joined) -> TreeNode
        self.folders = []         # paths of folders (bytes)
        self.window = self._locate(file_bytes)
        if self.window is None:
            return
        try:
            self._check_header(key_a)
            self._walk_free_list()
            self._walk_all_chains()
            self._check_system_items()
            self._check_tree_items()
        except FormatError as e:
            self.error(str(e))

    # ---- reporting
    def error(self, text):
        self.errors.append(text)

    def require(self, condition, text):
        if not condition:
            self.error(text)
        return condition

    # ---- locating the package bytes
    def _locate(self, data):
        if len(data) >= fmt.HEADER_SIZE and self._header_valid(data):
            return data
        if len(data) < fmt.TAIL_SIZE:
            self.error("file of %d bytes is neither a package nor carries a tail record"
                       % len(data))
            return None
        record = data[-fmt.TAIL_SIZE:]
        if not (record[0:11] == fmt.TAIL_MAGIC + b"\0" and fmt.u32(record, 16) == 0):
            self.error("no package header at offset 0 and no tail record in the last 64 bytes")
            return None
        base = fmt.u32(record, 20)
        size = fmt.u32(record, 24)
        self.tail = {"baseOffset": base, "dataSize": size, "time": fmt.u32(record, 28),
                     "hostLength": len(data)}
        self.require(record[0:16] == fmt.TAIL_MAGIC.ljust(16, b"\0"),
                     "tail record: magic not zero-padded to 16 bytes: %r" % record[0:16])
        self.require(record[32:64] == bytes(32),
                     "tail record: reserved bytes 32..63 not zero")
        if not self.require(base + size <= len(data) - fmt.TAIL_SIZE,
                            "tail record: window %d+%d runs into the record (host %d bytes)"
                            % (base, size, len(data))):
            return None
        if base + size != len(data) - fmt.TAIL_SIZE:
            # A window re-created shorter than an older one: the record follows
            # the new window and is repeated over the host's last 64 bytes.
            if self.require(data[base + size:base + size + fmt.TAIL_SIZE] == record,
                            "tail record: window ends at %d but the record is not there "
                            "(last record at %d)" % (base + size, len(data) - fmt.TAIL_SIZE)):
                self.notes.append("tail record repeated after a window shorter than the "
                                  "host's old one (%d stale bytes)"
                                  % (len(data) - fmt.TAIL_SIZE - base - size))
        window = data[base:base + size]
        if not self.require(len(window) >= fmt.HEADER_SIZE and self._header_valid(window),
                            "tail window at %d does not start with a valid package header" % base):
            return None
        return window

    @staticmethod
    def _header_valid(data):
        magic = data[0:16].split(b"\0", 1)[0]
        return magic == fmt.PACKAGE_MAGIC and fmt.u32(data, 16) == fmt.PACKAGE_VERSION

    # ---- header
    def _check_header(self, key_a):
        w = self.window
        self.require(w[0:16] == fmt.PACKAGE_MAGIC.ljust(16, b"\0"),
                     "header: magic not zero-padded: %r" % w[0:16])
        self.block_size = fmt.u32(w, 20)
        self.free_head = fmt.u32(w, 24)
        self.block_count = fmt.u32(w, 28)
        self.key_digest = w[32:48]
        self.dir_block = fmt.u32(w, 132)
        self.names_block = fmt.u32(w, 136)
        if self.block_size < fmt.LINK_SIZE + fmt.ENTRY_HEADER_SIZE + fmt.SEAL_HEADER_SIZE:
            raise FormatError("header: blockSize %d too small" % self.block_size)
        if self.expected_block_size is not None:
            self.require(self.block_size == self.expected_block_size,
                         "header: blockSize %d, expected %d"
                         % (self.block_size, self.expected_block_size))
        self.require(w[48:132] == bytes(84), "header: reserved bytes 48..131 not zero")
        self.require(w[140:160] == bytes(20), "header: reserved bytes 140..159 not zero")
        self.require(w[160:self.block_size] == bytes(self.block_size - 160),
                     "header: rest of block 0 after byte 160 not zero")
        if not self.require(len(w) == self.block_count * self.block_size,
                            "file length %d != blockCount %d x blockSize %d"
                            % (len(w), self.block_count, self.block_size)):
            if len(w) < self.block_count * self.block_size:
                raise FormatError("file shorter than blockCount blocks")
        self.require(self.block_count >= 3, "header: blockCount %d < 3" % self.block_count)
        # A new package keeps its folder tree in block 1 and its names in
        # block 2; a package updated since may have committed them to other
        # blocks.
        self.require(1 <= self.dir_block < self.block_count,
                     "header: dirBlock %d outside the file" % self.dir_block)
        self.require(1 <= self.names_block < self.block_count,
                     "header: namesBlock %d outside the file" % self.names_block)
        self.require(self.dir_block != self.names_block,
                     "header: dirBlock and namesBlock are both %d" % self.dir_block)
        self.require(self.free_head < self.block_count,
                     "header: freeHead %d outside the file" % self.free_head)
        if key_a is not None:
            self.require(self.key_digest == fmt.md5(key_a),
                         "header: keyDigest %s != MD5 of key A %r (%s)"
                         % (self.key_digest.hex(), key_a, fmt.md5(key_a).hex()))

    # ---- blocks and chains
    def _link(self, block):
        if not 1 <= block < self.block_count:
            raise FormatError("block %d outside 1..%d" % (block, self.block_count - 1))
        offset = block * self.block_size
        return fmt.u32(self.window, offset), fmt.u32(self.window, offset + 4)

    def _payload(self, block):
        offset = block * self.block_size
        return self.window[offset + fmt.LINK_SIZE:offset + self.block_size]

    def _walk_free_list(self):
        """Freed chains keep their links and are pushed at the head, so every
        free block but the head (whose prev may name a block since taken from
        the list) has its predecessor in the list as prev."""
        seen = set()
        block = self.free_head
        previous = 0
        while block != 0:
            if block in seen:
                raise FormatError("free list: cycle at block %d" % block)
            seen.add(block)
            self.free_blocks.append(block)
            prev, nxt = self._link(block)
            if previous:
                self.require(prev == previous, "free list: block %d has prev %d, expected %d"
                             % (block, prev, previous))
            previous, block = block, nxt
        self.free_set = seen

    def _walk_chain(self, first):
        chain = Chain(first)
        prev, nxt = self._link(first)
        if prev != 0:
            raise FormatError("chain at %d: first block has prev %d, expected 0" % (first, prev))
        payload = self._payload(first)
        chain.last_block, chain.size, chain.time = struct.unpack_from("<III", payload, 0)
        self.require(payload[12:24] == bytes(12),
                     "chain at %d: EntryHeader reserved bytes not zero" % first)
        chain.blocks.append(first)
        data = [payload[fmt.ENTRY_HEADER_SIZE:]]
        previous = first
        seen = {first}
        while nxt != 0:
            if nxt in seen:
                raise FormatError("chain at %d: cycle at block %d" % (first, nxt))
            seen.add(nxt)
            p, n = self._link(nxt)
            self.require(p == previous, "chain at %d: block %d has prev %d, expected %d"
                         % (first, nxt, p, previous))
            chain.blocks.append(nxt)
            data.append(self._payload(nxt))
            previous, nxt = nxt, n
        self.require(chain.last_block == previous,
                     "chain at %d: lastBlock %d but the chain ends at %d"
                     % (first, chain.last_block, previous))
        expected = fmt.stored_length_blocks(chain.size, self.block_size)
        self.require(len(chain.blocks) == expected,
                     "chain at %d: %d blocks for size %d, expected %d (exact-fill rule)"
                     % (first, len(chain.blocks), chain.size, expected))
        joined = b"".join(data)
        if len(joined) < chain.size:
            raise FormatError("chain at %d: %d payload bytes for size %d"
                              % (first, len(joined), chain.size))
        chain.data = joined[:chain.size]
        return chain

    def _walk_all_chains(self):
        owner = {}
        for block in self.free_blocks:
            owner[block] = "free list"
        starts = [b for b in range(1, self.block_count)
                  if b not in self.free_set and self._link(b)[0] == 0]
        for first in starts:
            chain = self._walk_chain(first)
            self.chains[first] = chain
            for block in chain.blocks:
                if block in owner:
                    self.error("block %d belongs to chain %d and to %s"
                               % (block, first, owner[block]))
                owner[block] = "chain %d" % first
        missing = [b for b in range(1, self.block_count) if b not in owner]
        self.require(not missing, "blocks in no chain and not on the free list: %s"
                     % missing[:20])
        for first, chain in self.chains.items():
            self.items[first] = self._unseal(chain)

    # ---- sealed streams
    def _unseal(self, chain):
        item = SealedItem()
        where = "item at block %d" % chain.first
        if chain.size < fmt.SEAL_HEADER_SIZE:
            self.error("%s: size %d shorter than a sealed header" % (where, chain.size))
            return item
        h = fmt.parse_seal_header(chain.data)
        item.header = h
        self.require(h["magic"].split(b"\0", 1)[0] == fmt.SEAL_MAGIC,
                     "%s: sealed magic %r" % (where, h["magic"]))
        self.require(h["magic"] == fmt.SEAL_MAGIC.ljust(15, b"\0"),
                     "%s: sealed magic not zero-padded" % where)
        self.require(h["reserved"] == 0, "%s: sealed reserved word %d" % (where, h["reserved"]))
        self.require(h["flags"] & ~7 == 0, "%s: unknown flag bits %#x" % (where, h["flags"]))
        if not self.require(fmt.SEAL_HEADER_SIZE + h["storedSize"] <= chain.size,
                            "%s: 48 + storedSize %d exceeds the item size %d"
                            % (where, h["storedSize"], chain.size)):
            return item
        if self.exact_sizes:
            self.require(fmt.SEAL_HEADER_SIZE + h["storedSize"] == chain.size,
                         "%s: item size %d, expected 48 + storedSize = %d (never rewritten)"
                         % (where, chain.size, fmt.SEAL_HEADER_SIZE + h["storedSize"]))
        stored = chain.data[fmt.SEAL_HEADER_SIZE:fmt.SEAL_HEADER_SIZE + h["storedSize"]]
        compressed = h["flags"] & fmt.FLAG_COMPRESSED
        if not compressed:
            self.require(h["storedSize"] == h["plainSize"],
                         "%s: uncompressed but storedSize %d != plainSize %d"
                         % (where, h["storedSize"], h["plainSize"]))
        else:
            self.require(h["storedSize"] < h["plainSize"],
                         "%s: compressed form (%d) not smaller than the plain content (%d)"
                         % (where, h["storedSize"], h["plainSize"]))
        if h["flags"] & fmt.FLAG_ENCIPHERED:
            item.enciphered = True
            return item
        if compressed:
            if not self.require(len(stored) >= 2 and stored[0] == 0x78
                                and (stored[0] * 256 + stored[1]) % 31 == 0,
                                "%s: not a zlib stream with a 2^15 window (header %s)"
                                % (where, stored[:2].hex())):
                return item
            decoder = zlib.decompressobj()
            try:
                plain = decoder.decompress(stored)
            except zlib.error as e:
                self.error("%s: zlib: %s" % (where, e))
                return item
            self.require(decoder.eof, "%s: zlib stream not complete" % where)
            self.require(decoder.unused_data == b"",
                         "%s: %d bytes after the zlib stream" % (where, len(decoder.unused_data)))
        else:
            plain = stored
            if self.check_compression_choice and h["plainSize"] > 0:
                shrunk = len(zlib.compress(plain, 6))
                self.require(shrunk + 16 >= h["plainSize"],
                             "%s: stored uncompressed although zlib shrinks %d bytes to %d"
                             % (where, h["plainSize"], shrunk))
        if not self.require(len(plain) == h["plainSize"], "%s: plain length %d != plainSize %d"
                            % (where, len(plain), h["plainSize"])):
            return item
        self.require(fmt.md5(plain) == h["digest"], "%s: MD5 of the plain content %s != "
                     "stored digest %s" % (where, fmt.md5(plain).hex(), h["digest"].hex()))
        item.plain = plain
        return item

    # ---- system items, name pool, folder tree
    def _check_system_items(self):
        for label, block in (("folder tree", self.dir_block), ("name pool", self.names_block)):
            if block not in self.chains:
                raise FormatError("%s block %d does not start a chain" % (label, block))
            h = self.items[block].header
            if h is not None:
                self.require(not h["flags"] & fmt.FLAG_CIPHER_B,
                             "%s: flags %#x name cipher B (system items use key A only)"
                             % (label, h["flags"]))
        pool_item = self.items[self.names_block]
        tree_item = self.items[self.dir_block]
        if pool_item.plain is None or tree_item.plain is None:
            self.notes.append("folder tree / name pool enciphered: structure checked only")
            return
        self._parse_pool(pool_item.plain)
        self._parse_tree(tree_item.plain)

    def _parse_pool(self, pool):
        self.pool = pool
        if not pool:
            return
        self.require(pool[-1] == 0, "name pool does not end with a zero byte")
        start = 0
        seen = {}
        while start < len(pool):
            end = pool.find(b"\0", start)
            if end < 0:
                end = len(pool)
            name = pool[start:end]
            self.require(len(name) > 0, "name pool: empty name at offset %d" % start)
            key = fmt.ascii_upper(name)
            self.require(key not in seen, "name pool: %r at %d repeats %r at %d "
                         "(names are stored once, case-insensitively)"
                         % (name, start, pool[seen.get(key, 0):].split(b"\0")[0],
                            seen.get(key, 0)))
            seen.setdefault(key, start)
            self.pool_offsets.add(start)
            start = end + 1

    def _name_at(self, offset):
        if offset not in self.pool_offsets:
            raise FormatError("folder tree: nameOffset %d does not start a name in the pool"
                              % offset)
        return self.pool[offset:self.pool.index(b"\0", offset)]

    def _parse_tree(self, stream):
        self.root = TreeNode(b"", True)
        stack = [self.root]
        pos = 0
        while pos < len(stream):
            tag = stream[pos]
            pos += 1
            folder = stack[-1]
            if tag == fmt.TAG_FILE or tag == fmt.TAG_FOLDER:
                width = 8 if tag == fmt.TAG_FILE else 4
                if pos + width > len(stream):
                    raise FormatError("folder tree: record truncated at %d" % (pos - 1))
                name = self._name_at(fmt.u32(stream, pos))
                node = TreeNode(name, tag == fmt.TAG_FOLDER,
                                fmt.u32(stream, pos + 4) if tag == fmt.TAG_FILE else 0)
                pos += width
                for other in folder.children:
                    self.require(fmt.ascii_upper(other.name) != fmt.ascii_upper(name),
                                 "folder tree: %r twice in one folder" % name)
                folder.children.append(node)
                if node.is_folder:
                    stack.append(node)
            elif tag == fmt.TAG_END:
                if len(stack) == 1:
                    raise FormatError("folder tree: closing tag at the root level (offset %d)"
                                      % (pos - 1))
                stack.pop()
            else:
                raise FormatError("folder tree: unknown tag %d at offset %d" % (tag, pos - 1))
        self.require(len(stack) == 1, "folder tree: %d sub-folder(s) not closed"
                     % (len(stack) - 1))
        self._collect(self.root, b"")

    def _collect(self, folder, path):
        self._check_order(folder, path)
        for node in folder.children:
            child = path + b"/" + node.name if path else node.name
            if node.is_folder:
                self.folders.append(child)
                self._collect(node, child)
            else:
                self.files[child] = node

    def _check_order(self, folder, path):
        """Records of one folder come in bucket order of the folder's table."""
        n = len(folder.children)
        if n == 0:
            return
        hashes = [fmt.name_hash(node.name) for node in folder.children]
        implied = fmt.bucket_count_after(n)
        candidates = [implied] if not self.grown_tables else \
            [p for p in fmt.PRIMES if p >= implied and p <= max(implied, 4 * n + 64)]
        for buckets in candidates:
            indices = [h % buckets for h in hashes]
            if all(a <= b for a, b in zip(indices, indices[1:])):
                return
        indices = [h % implied for h in hashes]
        bad = next(i for i in range(1, n) if indices[i - 1] > indices[i])
        self.error("folder %r: records not in bucket order for %d buckets (%d entries): "
                   "%r (bucket %d) before %r (bucket %d)"
                   % (path.decode(errors="replace") or "/", implied, n,
                      folder.children[bad - 1].name, indices[bad - 1],
                      folder.children[bad].name, indices[bad]))

    def _check_tree_items(self):
        if self.root is None:
            return
        referenced = {}
        for path, node in self.files.items():
            if node.first_block in (self.dir_block, self.names_block):
                self.error("%r: firstBlock %d is a system item" % (path, node.first_block))
            elif node.first_block not in self.chains:
                self.error("%r: firstBlock %d does not start a chain"
                           % (path, node.first_block))
            if node.first_block in referenced:
                self.error("%r and %r share block %d"
                           % (path, referenced[node.first_block], node.first_block))
            referenced[node.first_block] = path
        orphans = [b for b in self.chains
                   if b not in referenced and b not in (self.dir_block, self.names_block)]
        self.require(not orphans, "chains not named by the folder tree: %s" % orphans)

    # ---- results
    def file_item(self, path):
        return self.items.get(self.files[path].first_block)

    def file_items(self):
        return [self.items[node.first_block] for node in self.files.values()
                if node.first_block in self.items]

    def extract(self, target):
        for folder in self.folders:
            os.makedirs(os.path.join(target, os.fsdecode(folder)), exist_ok=True)
        for path, node in self.files.items():
            item = self.items.get(node.first_block)
            if item is None or item.plain is None:
                continue
            full = os.path.join(target, os.fsdecode(path))
            os.makedirs(os.path.dirname(full) or ".", exist_ok=True)
            with open(full, "wb") as out:
                out.write(item.plain)
            os.utime(full, (item.header["time"], item.header["time"]))

    def print_tree(self, out=sys.stdout):
        def walk(folder, depth):
            for node in folder.children:
                if node.is_folder:
                    out.write("%s%s/\n" % ("  " * depth, node.name.decode(errors="replace")))
                    walk(node, depth + 1)
                else:
                    h = self.items[node.first_block].header if node.first_block in self.items \
                        else None
                    out.write("%s%s  block %d flags %s plain %s\n"
                              % ("  " * depth, node.name.decode(errors="replace"),
                                 node.first_block, h and h["flags"], h and h["plainSize"]))
        if self.root is not None:
            walk(self.root, 0)


def main(argv):
    import argparse
    parser = argparse.ArgumentParser(description="check a .dpk package")
    parser.add_argument("file")
    parser.add_argument("--tree", action="store_true")
    parser.add_argument("--extract")
    parser.add_argument("--key-a")
    parser.add_argument("--grown-tables", action="store_true")
    parser.add_argument("--exact-sizes", action="store_true",
                        help="item sizes are exactly 48 + storedSize (nothing rewritten)")
    args = parser.parse_args(argv)
    with open(args.file, "rb") as f:
        data = f.read()
    key = os.fsencode(args.key_a) if args.key_a is not None else None
    check = PackageCheck(data, key_a=key, grown_tables=args.grown_tables,
                         exact_sizes=args.exact_sizes)
    if check.window is not None and hasattr(check, "block_count"):
        print("%s: %d blocks of %d, free list %d blocks, %d chains, %d files, %d folders%s"
              % (args.file, check.block_count, check.block_size, len(check.free_blocks),
                 len(check.chains), len(check.files), len(check.folders),
                 ", tail window at %d" % check.tail["baseOffset"] if check.tail else ""))
    for note in check.notes:
        print("note:", note)
    if args.tree:
        check.print_tree()
    if args.extract and not check.errors:
        check.extract(args.extract)
    for e in check.errors:
        print("ERROR:", e)
    return 1 if check.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
