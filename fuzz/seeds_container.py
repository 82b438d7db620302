#!/usr/bin/env python3
"""Writes the seed inputs of the t64 and lynx fuzz targets into fuzz/corpus/.

Each seed is a container without the fixed start the target puts before it (the T64 signature
text, the Lynx BASIC program): T64s of a few files in the variants found in circulation, and the
directory and files of the Lynx archive cbmconvert wrote (tests/data/cbmconvert.lnx).
Run from the repository root: python3 fuzz/seeds_container.py
"""
import os
import struct

T64_SIGNATURE = b"C64 tape image file"
LYNX_BASIC_END = 0x5E  # where cbmconvert's BASIC program ends in tests/data/cbmconvert.lnx


def t64(files, used=None, c3c6=False, reverse=False):
    header = bytearray(64 + 32 * len(files))
    header[0:len(T64_SIGNATURE)] = T64_SIGNATURE
    struct.pack_into("<HHH", header, 32, 0x0101, len(files), len(files) if used is None else used)
    header[40:64] = b"FUZZ TAPE".ljust(24, b" ")
    data = bytearray()
    order = list(range(len(files)))[::-1] if reverse else list(range(len(files)))
    for i in order:
        name, start, body = files[i]
        slot = 64 + 32 * i
        end = 0xC3C6 if c3c6 else start + len(body)
        struct.pack_into("<BBHHHI", header, slot, 1, 0x82, start, end, 0, len(header) + len(data))
        header[slot + 16:slot + 32] = name.ljust(16, b" ")
        data += body
    return bytes(header + data)[len(T64_SIGNATURE):]


def main():
    files = [(b"ONE", 0x0801, bytes(range(200))), (b"TWO", 0xC000, b"\x01"),
             (b"THREE", 0x1000, bytes(600))]
    seeds = {
        "t64": {"plain": t64(files), "c3c6": t64(files, c3c6=True), "used0": t64(files, used=0),
                "reversed": t64(files, reverse=True)},
    }
    with open("tests/data/cbmconvert.lnx", "rb") as archive:
        lynx = archive.read()
    seeds["lynx"] = {"cbmconvert": lynx[LYNX_BASIC_END:LYNX_BASIC_END + 4000]}
    for target, inputs in seeds.items():
        folder = os.path.join("fuzz", "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in inputs.items():
            with open(os.path.join(folder, "seed-" + name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
