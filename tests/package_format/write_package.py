#!/usr/bin/env python3
"""Independent writer of ".dpk" packages.

Builds a package of 1024-byte blocks from a folder, with no key A (the key
digest is the MD5 of the empty string) and no key B, so that items are stored
compressed (flags 1) or, when zlib does not shrink them, plain (flags 0).

Usage:
  write_package.py FOLDER OUTPUT             a package file
  write_package.py --host HOST FOLDER OUTPUT OUTPUT = HOST + package + tail record

Python 3 standard library only.
"""

import os
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dpk_format as fmt  # noqa: E402


class PackageWriter:
    def __init__(self, block_size=fmt.DEFAULT_BLOCK_SIZE, now=None):
        self.block_size = block_size
        self.now = int(time.time()) if now is None else now
        self.blocks = [bytearray(block_size)]      # block 0: the header
        self.pool = bytearray()
        self.pool_names = fmt.HashTable()          # upper-case-insensitive name -> offset
        self.root = fmt.HashTable()
        self.free_head = 0
        self.dir_block = self._allocate()          # 1
        self.names_block = self._allocate()        # 2

    def add_free_chain(self, block_count):
        """Appends a chain of `block_count` blocks that is pushed onto the free
        list, as if an item had been deleted: it keeps its own links, its last
        block's next is the old head, the old head's prev is its last block."""
        first = self._allocate()
        filling = block_count * (self.block_size - fmt.LINK_SIZE) - fmt.ENTRY_HEADER_SIZE
        self._write_chain(first, bytes(filling), self.now)
        chain = list(range(first, first + block_count))
        assert len(self.blocks) == first + block_count
        last = chain[-1]
        self.blocks[last][4:8] = struct.pack("<I", self.free_head)
        if self.free_head:
            self.blocks[self.free_head][0:4] = struct.pack("<I", last)
        self.free_head = first
        return chain

    def _allocate(self):
        self.blocks.append(bytearray(self.block_size))
        return len(self.blocks) - 1

    def _name_offset(self, name):
        node = self.pool_names.find(name)
        if node is not None:
            return node[1]
        offset = len(self.pool)
        self.pool += name + b"\0"
        self.pool_names.insert(name, offset)
        return offset

    def _write_chain(self, first, stored, entry_time):
        """Writes `stored` as the item whose chain starts at `first`, appending
        the further blocks it needs."""
        count = fmt.stored_length_blocks(len(stored), self.block_size)
        chain = [first] + [self._allocate() for _ in range(count - 1)]
        payload = self.block_size - fmt.LINK_SIZE
        data = struct.pack("<III", chain[-1], len(stored), entry_time) + bytes(12) + stored
        for index, block in enumerate(chain):
            prev = chain[index - 1] if index > 0 else 0
            nxt = chain[index + 1] if index + 1 < len(chain) else 0
            piece = data[index * payload:(index + 1) * payload]
            buf = self.blocks[block]
            buf[0:8] = struct.pack("<II", prev, nxt)
            buf[8:8 + len(piece)] = piece

    @staticmethod
    def seal(plain, seal_time):
        flags = 0
        stored = plain
        if plain:
            packed = zlib.compress(plain, 6)
            if len(packed) < len(plain):
                flags, stored = fmt.FLAG_COMPRESSED, packed
        return fmt.pack_seal_header(flags, fmt.md5(plain), len(plain), len(stored),
                                    seal_time) + stored

    def add_file(self, folder_table, name, plain, mtime):
        first = self._allocate()
        folder_table.insert(name, ("file", self._name_offset(name), first))
        self._write_chain(first, self.seal(plain, mtime), self.now)

    def add_folder(self, folder_table, name):
        table = fmt.HashTable()
        folder_table.insert(name, ("folder", self._name_offset(name), table))
        return table

    def add_tree(self, source, table=None):
        table = self.root if table is None else table
        for entry in sorted(os.scandir(source), key=lambda e: e.name):
            name = os.fsencode(entry.name)
            if entry.is_dir(follow_symlinks=False):
                self.add_tree(entry.path, self.add_folder(table, name))
            elif entry.is_file(follow_symlinks=False):
                with open(entry.path, "rb") as f:
                    plain = f.read()
                self.add_file(table, name, plain, int(entry.stat().st_mtime))

    def _tree_records(self, table, out):
        for _name, (kind, offset, value) in table.nodes():
            if kind == "file":
                out += struct.pack("<BII", fmt.TAG_FILE, offset, value)
            else:
                out += struct.pack("<BI", fmt.TAG_FOLDER, offset)
                self._tree_records(value, out)
                out += bytes([fmt.TAG_END])

    def finish(self):
        """Saves the name pool, then the folder tree, then the header; returns
        the package bytes."""
        self._write_chain(self.names_block, self.seal(bytes(self.pool), self.now), self.now)
        records = bytearray()
        self._tree_records(self.root, records)
        self._write_chain(self.dir_block, self.seal(bytes(records), self.now), self.now)
        header = self.blocks[0]
        header[0:16] = fmt.PACKAGE_MAGIC.ljust(16, b"\0")
        header[16:32] = struct.pack("<IIII", fmt.PACKAGE_VERSION, self.block_size,
                                    self.free_head, len(self.blocks))
        header[32:48] = fmt.EMPTY_MD5
        header[132:140] = struct.pack("<II", self.dir_block, self.names_block)
        return b"".join(bytes(b) for b in self.blocks)


def package_from_folder(folder, now=None, block_size=fmt.DEFAULT_BLOCK_SIZE):
    writer = PackageWriter(block_size=block_size, now=now)
    writer.add_tree(folder)
    return writer.finish()


def append_to_host(host_bytes, package_bytes, now=None):
    stamp = int(time.time()) if now is None else now
    return host_bytes + package_bytes + fmt.pack_tail_record(
        len(host_bytes), len(package_bytes), stamp)


def main(argv):
    host = None
    if len(argv) == 4 and argv[0] == "--host":
        host, argv = argv[1], argv[2:]
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    data = package_from_folder(argv[0])
    if host is not None:
        with open(host, "rb") as f:
            data = append_to_host(f.read(), data)
    with open(argv[1], "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
