#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into fuzz/seeds/<target>/ (standard library only).

Run from anywhere: python3 fuzz/make_seeds.py. The files are small and deterministic, so a
run over an unchanged tree rewrites the same bytes. Reproducers of faults found by fuzzing
are kept beside them under names starting with "crash-"; this script leaves those alone.
"""

import json
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEEDS = os.path.join(ROOT, "fuzz", "seeds")
SAMPLES = os.path.join(ROOT, "samples")
FRAGMENT = 4096
RECORD = 526


def header(path=b"/images/card.img", source_length=8 * 1024 * 1024):
    h = bytearray(512)
    h[0:8] = b"\x07recover"
    h[8:12] = b"\x03AES"
    h[13:19] = b"\x05fixFI"
    struct.pack_into("<q", h, 23, source_length)
    struct.pack_into("<6I", h, 31, 0, 0, 512, 0, 0, 0)
    h[55:55 + len(path)] = path
    return bytes(h)


def trailer_for(length_before):
    """The four zero bytes, the pad to a multiple of 4, and "TEMP"."""
    pad = (4 - (length_before + 4) % 4) % 4
    return bytes(4 + pad) + b"TEMP"


def body(content):
    compressor = zlib.compressobj(1, zlib.DEFLATED, 15, 8, zlib.Z_DEFAULT_STRATEGY)
    return compressor.compress(content) + compressor.flush()


def fragment_file(content, **kwargs):
    head_and_body = header(**kwargs) + body(content)
    return head_and_body + trailer_for(len(head_and_body))


def database(name):
    with open(os.path.join(SAMPLES, name), "rb") as f:
        db = f.read()
    with open(os.path.join(SAMPLES, name + ".manifest.json")) as f:
        manifest = json.load(f)
    return db, manifest


def reader_seeds():
    db, manifest = database("sample-jet4-small.mdb")
    pages = b"".join(db[p * FRAGMENT:(p + 1) * FRAGMENT] for p in manifest["candidate_pages"][:3])
    complete = fragment_file(pages)
    head_and_body = header() + body(pages)
    body_end = len(head_and_body)
    cut_stream = header() + body(pages)[:200]
    odd = header() + body(pages[:FRAGMENT + 100])
    # Incompressible fragments, so that the file is longer than one read of the reader
    # (65536 bytes) and its body ends in the second.
    state = 88172645463325252
    noise = bytearray()
    while len(noise) < 16 * FRAGMENT:
        state ^= (state << 13) & 0xFFFFFFFFFFFFFFFF
        state ^= state >> 7
        state ^= (state << 17) & 0xFFFFFFFFFFFFFFFF
        noise += struct.pack("<Q", state)
    wrong_pad = bytearray(complete)
    wrong_pad[body_end] = 1
    return {
        "complete": complete,
        "empty-scan": fragment_file(b""),
        "longer-than-one-read": fragment_file(bytes(noise)),
        "cut-in-header": complete[:300],
        "cut-in-body": complete[:512 + (body_end - 512) // 2],
        "cut-in-trailer": complete[:body_end + 3],
        "cut-before-tag": complete[:-2],
        "stream-cut-then-trailer": cut_stream + trailer_for(len(cut_stream)),
        "path-457-bytes": fragment_file(pages[:FRAGMENT], path=b"P" * 457),
        "garbage-after-trailer": complete + b"garbage after the trailer\n" * 4,
        "source-length-max": fragment_file(pages[:FRAGMENT], source_length=2**63 - 1),
        "body-not-whole-fragments": odd + trailer_for(len(odd)),
        "wrong-trailer-tag": complete[:-4] + b"TEMQ",
        "nonzero-trailer-pad": bytes(wrong_pad),
        "no-signature": b"\x07recovex" + complete[8:600],
    }


def record(page_type=1, mark=1, free=100, owner=5, rows=2, offsets=(4000, 3000)):
    r = bytearray(RECORD)
    r[0], r[1] = page_type, mark
    struct.pack_into("<HI", r, 2, free, owner)
    struct.pack_into("<H", r, 12, rows)
    for k, value in enumerate(offsets):
        struct.pack_into("<H", r, 14 + 2 * k, value)
    return bytes(r)


def page_test_seeds():
    seeds = {}
    for name in ("sample-jet4.mdb", "sample-jet4-small.mdb"):
        db, manifest = database(name)
        lval = set(manifest["lval_pages"])
        data_only = [p for p in manifest["candidate_pages"] if p not in lval]
        for label, page in (("data", data_only[0]), ("data-last", data_only[-1]),
                            ("lval", manifest["lval_pages"][0])):
            seeds["%s-%s-page-%d" % (name.split(".")[0], label, page)] = \
                db[page * FRAGMENT:page * FRAGMENT + RECORD]
    many = [4000 - 2 * k for k in range(256)]
    seeds.update({
        "built-candidate": record(),
        "lval-owner": record(owner=0x4C41564C),
        "rows-256": record(rows=256, offsets=many),
        "near-rows-257": record(rows=257, offsets=many),
        "near-type": record(page_type=2),
        "near-mark": record(mark=0),
        "near-free-8192": record(free=8192),
        "near-owner-25600": record(owner=25600),
        "near-owner-lvak": record(owner=struct.unpack("<I", b"LVAK")[0]),
        "near-rows-0": record(rows=0),
        "near-rows-2048": record(rows=2048, offsets=many),
        "near-zero-offset": record(rows=3, offsets=(4000, 0, 3000)),
        "near-last-offset-16": record(rows=2, offsets=(4000, 16)),
        "last-offset-17": record(rows=2, offsets=(4000, 17)),
        "short-input": record()[:20],
    })
    return seeds


def scan_state(ranges=((512, 512), (1048576, 4096)), reached=2359296, version=1):
    """A scan state file as a stopped scan writes it (see src/core/scan_state.cpp)."""
    text = ("# The state of an unfinished scan: \"quillon-cli scan --resume\" continues it. "
            "Do not edit.\n")
    text += "quillon-scan-state %d\n" % version
    text += "source-path %s\n" % b"/images/card.img".hex()
    text += "source-size %d\n" % (64 * 1024 * 1024)
    text += "source-identity %s\n" % b"crc32-4k:82e73a55:--------:8b904d62".hex()
    text += "reached %d\nfragments 510\nfile-bytes 377272\n" % reached
    text += "file-crc32 a768a173\nbody-adler32 b98b1ecf\n"
    for offset, length in ranges:
        text += "unreadable %d %d\n" % (offset, length)
    text += "end %08x\n" % zlib.crc32(text.encode())
    return text.encode()


def scan_state_seeds():
    whole = scan_state()
    return {
        "stopped.resume": whole,
        "no-unreadable.resume": scan_state(ranges=()),
        "version-2.resume": scan_state(version=2),
        "cut-short.resume": whole[:len(whole) // 2],
        "ranges-out-of-order.resume": scan_state(ranges=((4096, 512), (512, 512))),
    }


def write(target, seeds):
    folder = os.path.join(SEEDS, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print("%s: %d seeds in %s" % (target, len(seeds), os.path.relpath(folder, ROOT)))


def main():
    write("fragment_file_reader_fuzz", reader_seeds())
    write("page_test_fuzz", page_test_seeds())
    write("scan_state_fuzz", scan_state_seeds())


if __name__ == "__main__":
    main()
