"""Byte layout of the ".dpk" package format, shared by the independent reader
(check_package.py) and writer (write_package.py).

Standard library only. Everything is little-endian and encoded field by field.
"""

import hashlib
import struct

PACKAGE_MAGIC = b"zkpackage1.0"
PACKAGE_VERSION = 2
HEADER_SIZE = 160
LINK_SIZE = 8
ENTRY_HEADER_SIZE = 24
SEAL_MAGIC = b"zksc1.0"
SEAL_HEADER_SIZE = 48
TAIL_MAGIC = b"zktailfile"
TAIL_SIZE = 64
DEFAULT_BLOCK_SIZE = 1024

FLAG_COMPRESSED = 1
FLAG_ENCIPHERED = 2
FLAG_CIPHER_B = 4

TAG_FILE = 1
TAG_FOLDER = 2
TAG_END = 3

PRIMES = [17, 29, 53, 97, 193, 389, 769, 1543, 3079, 6151, 12289, 24593, 49157,
          98317, 196613, 393241, 786433, 1572869, 3145739, 6291469, 12582917,
          25165843, 50331653, 100663319, 201326611, 402653189, 805306457,
          1610612741, 3221225473, 4294967291]

EMPTY_MD5 = hashlib.md5(b"").digest()


def md5(data):
    return hashlib.md5(data).digest()


def name_hash(name):
    """h = h * 31 + byte, a..z upper-cased, 32-bit wrapping."""
    h = 0
    for c in name:
        if 0x61 <= c <= 0x7A:
            c -= 0x20
        h = (h * 31 + c) & 0xFFFFFFFF
    return h


def names_equal(a, b):
    return _ascii_upper(a) == _ascii_upper(b)


_UPPER = bytes(c - 0x20 if 0x61 <= c <= 0x7A else c for c in range(256))


def _ascii_upper(name):
    """Upper-cases a..z only; other bytes are kept."""
    return bytes(name).translate(_UPPER)


def ascii_upper(name):
    return _ascii_upper(name)


def next_prime_above(n):
    for p in PRIMES:
        if p > n:
            return p
    raise ValueError("table too large")


def bucket_count_after(n_inserts):
    """Bucket count of a fresh table after n insertions (no removals)."""
    buckets = PRIMES[0]
    for count in range(n_inserts):
        if count + 1 > buckets:
            buckets = next_prime_above(count + 1)
    return buckets


class HashTable:
    """A folder table: buckets of nodes, new nodes at the front of a bucket,
    grown and re-hashed before an insertion that would exceed the bucket count.
    """

    def __init__(self):
        self.buckets = [[] for _ in range(PRIMES[0])]
        self.count = 0

    def find(self, name):
        bucket = self.buckets[name_hash(name) % len(self.buckets)]
        for node in bucket:
            if _ascii_upper(node[0]) == _ascii_upper(name):
                return node
        return None

    def insert(self, name, value):
        if self.find(name) is not None:
            raise KeyError(name)
        if self.count + 1 > len(self.buckets):
            new_buckets = [[] for _ in range(next_prime_above(self.count + 1))]
            for bucket in self.buckets:
                for node in bucket:
                    new_buckets[name_hash(node[0]) % len(new_buckets)].insert(0, node)
            self.buckets = new_buckets
        self.buckets[name_hash(name) % len(self.buckets)].insert(0, (name, value))
        self.count += 1

    def nodes(self):
        for bucket in self.buckets:
            for node in bucket:
                yield node


def u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def stored_length_blocks(size, block_size):
    """Number of chain blocks an item of `size` stored bytes occupies: the first
    block's payload loses 24 bytes to the entry header, and an item that
    exactly fills its last block needs no further block."""
    payload = block_size - LINK_SIZE
    total = size + ENTRY_HEADER_SIZE
    return max(1, (total + payload - 1) // payload)


def pack_seal_header(flags, digest, plain_size, stored_size, time):
    header = SEAL_MAGIC.ljust(15, b"\0") + bytes([flags]) + digest
    header += struct.pack("<IIII", 0, plain_size, stored_size, time)
    assert len(header) == SEAL_HEADER_SIZE
    return header


def parse_seal_header(data):
    """Returns a dict of the fields (no validation)."""
    return {
        "magic": data[0:15],
        "flags": data[15],
        "digest": data[16:32],
        "reserved": u32(data, 32),
        "plainSize": u32(data, 36),
        "storedSize": u32(data, 40),
        "time": u32(data, 44),
    }


def pack_tail_record(base_offset, data_size, time):
    record = TAIL_MAGIC.ljust(16, b"\0")
    record += struct.pack("<IIII", 0, base_offset, data_size, time)
    record += bytes(32)
    assert len(record) == TAIL_SIZE
    return record
