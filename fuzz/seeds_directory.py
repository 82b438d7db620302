#!/usr/bin/env python3
"""Writes starting inputs for fuzz_directory into fuzz/corpus/directory/.

Each input is the five header bytes the target reads (sectors per track - 1, extra tracks,
first directory track and sector, reader faults) followed by a small flat disk with a directory
chain and file chains, some healthy and some broken."""
import os
import sys

SPT = 8


def disk(tracks):
    return bytearray(tracks * SPT * 256)


def sector(img, t, s):
    off = ((t - 1) * SPT + s) * 256
    return memoryview(img)[off:off + 256]


def entry(img, t, s, i, name, typ, ft, fs, blocks):
    slot = sector(img, t, s)[i * 32:(i + 1) * 32]
    slot[2] = typ
    slot[3], slot[4] = ft, fs
    n = name.encode()[:16].ljust(16, b"\xa0")
    slot[5:21] = n
    slot[30], slot[31] = blocks & 255, blocks >> 8


def chain(img, path, last_used):
    for a, b in zip(path, path[1:]):
        sec = sector(img, *a)
        sec[0], sec[1] = b
    sec = sector(img, *path[-1])
    sec[0], sec[1] = 0, last_used


def main(out):
    os.makedirs(out, exist_ok=True)
    seeds = {}

    img = disk(6)
    entry(img, 3, 0, 0, "HELLO", 0x82, 1, 0, 2)
    entry(img, 3, 0, 1, "REL", 0x84, 2, 0, 1)
    entry(img, 3, 0, 2, "GONE", 0x00, 2, 1, 1)
    sector(img, 3, 0)[0:2] = bytes([3, 1])
    entry(img, 3, 1, 0, "GEOS", 0x83, 4, 0, 1)
    sector(img, 3, 1)[32 * 0 + 24] = 6
    chain(img, [(1, 0), (1, 3)], 100)
    chain(img, [(2, 0)], 1)
    chain(img, [(4, 0), (5, 2), (6, 7)], 255)
    seeds["healthy"] = bytes([SPT - 1, 0, 3, 0, 0]) + img

    loop = bytearray(img)
    sector(loop, 3, 1)[0:2] = bytes([3, 0])      # directory closes on itself
    sector(loop, 1, 3)[0:2] = bytes([1, 0])      # file chain loops
    seeds["loops"] = bytes([SPT - 1, 0, 3, 0, 16]) + loop

    broken = bytearray(img)
    sector(broken, 3, 1)[0:2] = bytes([7, 2])    # link past the data, inside the geometry
    sector(broken, 4, 0)[0:2] = bytes([9, 0])    # file link outside the geometry
    seeds["broken"] = bytes([SPT - 1, 2, 3, 0, 0]) + broken
    seeds["short_reads"] = bytes([SPT - 1, 0, 3, 0, 1 | (3 << 1)]) + img
    seeds["no_directory"] = bytes([SPT - 1, 0, 0, 0, 0]) + img[:512]

    for name, data in seeds.items():
        with open(os.path.join(out, "seed_" + name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "directory"))
