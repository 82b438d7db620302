#!/usr/bin/env python3
"""Writes the seed inputs of the archive fuzz target into fuzz/corpus/archive/.

Zip (deflated, and stored but cut short), gzip, bzip2, xz and tar forms of samples/demo.d64, a
member over the target's 256 KiB limit, an empty zip and a cut one.
Run from the repository root: python3 fuzz/seeds_archive.py
"""
import bz2
import gzip
import hashlib
import io
import lzma
import os
import tarfile
import zipfile

OUT = "fuzz/corpus/archive"
demo = open("samples/demo.d64", "rb").read()


def zipped(members, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as archive:
        for name, data in members:
            archive.writestr(name, data)
    return buffer.getvalue()


def tarred(members):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w") as archive:
        for name, data in members:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


seeds = [
    zipped([("demo.d64", demo), ("readme.txt", b"hello")]),
    zipped([("demo.d64", demo)], zipfile.ZIP_STORED)[:4096],
    zipped([("big.d64", bytes(300 * 1024))]),
    zipped([]),
    zipped([("demo.d64", demo)])[:300],
    gzip.compress(demo, mtime=0),
    bz2.compress(demo),
    lzma.compress(demo),
    tarred([("disks/demo.d64", demo)]),
]
os.makedirs(OUT, exist_ok=True)
for seed in seeds:
    with open(os.path.join(OUT, hashlib.sha1(seed).hexdigest()), "wb") as f:
        f.write(seed)
