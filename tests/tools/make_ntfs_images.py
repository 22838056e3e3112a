#!/usr/bin/env python3
"""Makes NTFS volume images the way a disk gets them, with Access databases on them.

Each image is a file formatted with mkntfs and written through ntfs-3g (FUSE), so the
clusters are handed out by a real NTFS allocator, then quick-formatted again (mkntfs -Q),
which rewrites the metadata and leaves the data clusters as they were:

  quick     the volume filled with seeded filler files, every other one deleted (so the free
            space lies in holes), then the databases written a chunk at a time while filler
            files grow between their chunks: each database lands in several runs of clusters,
            interleaved with the others' and the fillers'.
  deleted   the same, then the rest of the volume filled, the databases deleted and new
            seeded files written into about half of their clusters.
  older     one database written, then a changed version of it (some rows deleted, as a
            compact that follows deletions writes it), then the older copy deleted and a new
            file written over its first clusters.
  copies    one database in three versions, rows deleted between them as before each of two
            compacts: the versions written in pieces in turn among growing files, so that
            each one's pieces lie between the others', then the two older ones deleted. The
            volume holds the live file and two older copies whose pieces lie among each
            other's.

Beside each image, IMAGE.json says where every page of every database lay on the volume
(its byte offset), which pages still hold their bytes after the quick format, and the path
of each database as it was written (the changed versions of "older" and "copies" are
saved beside the image), so that a test can read the originals with mdbtools.

Deterministic: the file contents come from a seeded generator, mkntfs runs with -T (time
zero, which also fixes its serial number) and ntfs-3g with libfaketime's frozen clock;
the same inputs give the same image bytes. Needs root, /dev/fuse, mkntfs, ntfs-3g, ntfsinfo
and faketime (Debian: ntfs-3g, faketime).

  make_ntfs_images.py --out DIR [--kind quick|deleted|older|copies|all] [--seed N] DATABASE...
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

PAGE = 4096
CLUSTER = 4096
MIB = 1024 * 1024
# A frozen clock for ntfs-3g: every time stamp it writes is this one.
FROZEN_TIME = "2024-03-01 12:00:00"
# Filler files: seeded sizes in this range (multiples of a cluster), so that the holes left
# by deleting every other one are about as large as a database's chunk.
FILLER_SIZES = (128 * 1024, 1024 * 1024)
# Free space left when filling, so that ntfs-3g can still grow its MFT and directories.
FILL_MARGIN = 2 * MIB
# Free space left by the wall that fills a volume before files are deleted and replaced.
WALL_MARGIN = 256 * 1024
# The page number of the catalog's definition, the owner value of its data pages.
CATALOG_PAGE = 2
TOOLS = ("mkntfs", "ntfs-3g", "ntfsinfo")
FAKETIME_LIBRARIES = ("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
                      "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
                      "/usr/lib/faketime/libfaketime.so.1")


def faketime_library():
    """The path of libfaketime (Debian's faketime package), or None."""
    return next((path for path in FAKETIME_LIBRARIES if os.path.exists(path)), None)


def missing_tools():
    """What this generator needs and the machine lacks, as a sentence; None when all is there."""
    lacking = [tool for tool in TOOLS if shutil.which(tool) is None]
    if faketime_library() is None:
        lacking.append("libfaketime")
    if lacking:
        return f"{', '.join(lacking)} not installed (Debian: ntfs-3g, faketime)"
    if os.geteuid() != 0:
        return "mounting with ntfs-3g needs root"
    if not os.path.exists("/dev/fuse"):
        return "/dev/fuse is missing (no FUSE)"
    return None


def run(command, env=None):
    """Runs a tool, its output captured in files, not pipes: ntfs-3g leaves a daemon behind
    that would hold a pipe open, and the wait for its end would not end."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              text=True, env=env)
        out.seek(0)
        err.seek(0)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)}: exit {done.returncode}: "
                               f"{err.read().strip()}")
        return out.read()


def format_volume(image):
    """mkntfs -Q on the whole file, 4 KiB clusters (also mkntfs's default), time zero."""
    run(["mkntfs", "-F", "-Q", "-T", "-q", "-c", str(CLUSTER),
         "-s", "512", "-p", "0", "-H", "0", "-S", "0", "-L", "DATA", image])


class Volume:
    """The image mounted with ntfs-3g under a frozen clock, for a `with` block."""

    def __init__(self, image, mountpoint):
        self.image, self.root = image, mountpoint

    def __enter__(self):
        os.makedirs(self.root, exist_ok=True)
        # libfaketime preloaded by hand: the faketime wrapper waits for the daemon to end.
        frozen = dict(os.environ, LD_PRELOAD=faketime_library(), FAKETIME=FROZEN_TIME)
        run(["ntfs-3g", "-o", "no_def_opts,silent", self.image, self.root], env=frozen)
        return self

    def __exit__(self, *_):
        os.sync()
        subprocess.run(["umount", self.root], check=True)

    def path(self, name):
        return os.path.join(self.root, name)

    def free(self):
        st = os.statvfs(self.root)
        return st.f_bavail * st.f_frsize

    def append(self, name, data):
        """Appends and waits until ntfs-3g has the bytes, so that the clusters are taken now,
        in this order, and not when a cache flushes."""
        with open(self.path(name), "ab") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())


def runlist(image, name):
    """[(vcn, lcn, clusters)] of a file's data as ntfsinfo reads it from the unmounted image."""
    text = run(["ntfsinfo", "-v", "-F", "/" + name, image])
    block = text.split("Runlist:", 1)[1].split("End of inode", 1)[0]
    runs = []
    for vcn, lcn, length in re.findall(r"^\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+|-?\d+)\s+(0x[0-9a-f]+)",
                                       block, re.M | re.I):
        runs.append((int(vcn, 16), int(lcn, 0), int(length, 16)))
    return runs


def page_offsets(image, name, size):
    """The byte offset on the volume of every page of a file, from its runlist."""
    offsets = [None] * ((size + PAGE - 1) // PAGE)
    for vcn, lcn, length in runlist(image, name):
        for k in range(length):
            page = (vcn + k) * CLUSTER // PAGE
            if lcn >= 0 and page < len(offsets):
                offsets[page] = (lcn + k) * CLUSTER
    return offsets


def fragments(offsets):
    """[[first page, byte offset, pages]] for runs of consecutive pages on the volume."""
    runs = []
    for page, offset in enumerate(offsets):
        if runs and offset is not None and runs[-1][1] + runs[-1][2] * PAGE == offset:
            runs[-1][2] += 1
        else:
            runs.append([page, offset, 1])
    return runs


def intact_pages(image, data, offsets):
    """Numbers of the pages whose bytes are at their place on the image, unchanged."""
    intact = []
    with open(image, "rb") as f:
        for page, offset in enumerate(offsets):
            if offset is None:
                continue
            f.seek(offset)
            want = data[page * PAGE:(page + 1) * PAGE]
            if f.read(len(want)) == want:
                intact.append(page)
    return intact


def fill_with_holes(volume, rng):
    """Fills the volume with seeded files and deletes every other one; returns the kept."""
    names = []
    while True:
        size = rng.randrange(*FILLER_SIZES, CLUSTER)
        if volume.free() < size + FILL_MARGIN:
            break
        name = f"filler-{len(names):04d}.bin"
        volume.append(name, rng.randbytes(size))
        names.append(name)
    for name in names[1::2]:
        os.remove(volume.path(name))
    return names[0::2]


def fill_up(volume, rng, prefix):
    """Takes all the free space it can, so that files written next reuse what is freed;
    returns the names of the files written."""
    count = 0
    while volume.free() > WALL_MARGIN:
        size = min(volume.free() - WALL_MARGIN // 2, 4 * MIB)
        try:
            volume.append(f"{prefix}-{count:03d}.bin", rng.randbytes(size - size % CLUSTER))
        except OSError:  # full: what could be written stays
            break
        count += 1
    return [f"{prefix}-{k:03d}.bin" for k in range(count)]


def write_interleaved(volume, rng, files, fillers):
    """Writes each (name, bytes) a chunk at a time, round robin, appending to a filler file
    between chunks: each file gets 2 to 6 chunks, so the allocator cuts it into runs."""
    chunks = {}
    for name, data in files:
        pieces = rng.randint(2, 6)
        size = -(-len(data) // pieces)
        size += -size % CLUSTER
        chunks[name] = [data[at:at + size] for at in range(0, len(data), size)]
    while any(chunks.values()):
        for name, _ in files:
            if chunks[name]:
                volume.append(name, chunks[name].pop(0))
                volume.append(rng.choice(fillers), rng.randbytes(rng.randrange(4, 17) * CLUSTER))


def with_rows_deleted(data, rng, share=0.15, spared=()):
    """A changed version of a database: a seeded share of the plain rows of each data page
    flagged deleted (0xC000 in their offset slot), as a compact after deletions leaves them.
    Moved rows and their pointers are left alone, so every remaining row reads as before;
    so are the pages of the tables whose definitions lie at the page numbers `spared`."""
    changed = bytearray(data)
    pages = len(data) // PAGE
    for page in range(1, pages):
        at = page * PAGE
        if changed[at] != 0x01 or changed[at + 1] != 0x01:
            continue
        if int.from_bytes(changed[at + 4:at + 8], "little") in spared:
            continue
        rows = int.from_bytes(changed[at + 12:at + 14], "little")
        if rows > 1024:
            continue
        for slot in range(rows):
            where = at + 14 + 2 * slot
            entry = int.from_bytes(changed[where:where + 2], "little")
            if entry & 0xC000 == 0 and rng.random() < share:
                changed[where:where + 2] = (entry | 0xC000).to_bytes(2, "little")
    return bytes(changed)


def versions_of(source, out_dir, rng):
    """The three versions of a database compacted twice, oldest first, as (name on the
    volume, bytes, path of the bytes for mdbtools, role): each one a share of the previous
    one's rows deleted. The changed versions are saved in OUT_DIR for mdbtools."""
    with open(source, "rb") as f:
        first = f.read()
    # The catalog's rows stay: a user deletes rows, not tables.
    second = with_rows_deleted(first, rng, share=0.3, spared=(CATALOG_PAGE,))
    third = with_rows_deleted(second, rng, share=0.3, spared=(CATALOG_PAGE,))
    base = os.path.basename(source)
    versions = [(f"first-{base}", first, source, "older copy 2")]
    for data, role, name in ((second, "older copy", f"second-{base}"), (third, "live", base)):
        path = os.path.join(out_dir, f"{role.replace(' ', '-')}-{base}")
        with open(path, "wb") as f:
            f.write(data)
        versions.append((name, data, path, role))
    return versions


def write_copies(image, mountpoint, rng, files):
    """Writes the three versions a chunk at a time in turn, among growing files, so that
    each one's pieces lie between the others' (as where the copies were written while the
    volume was busy, and as the holes of a full volume leave them), then deletes the two
    older ones; returns where each file's pages lay ({name: offsets}), read before the
    deletion with the volume unmounted."""
    with Volume(image, mountpoint) as volume:
        fillers = fill_with_holes(volume, rng)
        write_interleaved(volume, rng, [(n, d) for n, d, _, _ in files], fillers)
    offsets = {name: page_offsets(image, name, len(data)) for name, data, _, _ in files}
    with Volume(image, mountpoint) as volume:
        for name, _, _, role in files:
            if role != "live":
                os.remove(volume.path(name))
    return offsets


def volume_size(total):
    """Room for the databases about three times over, in whole MiB."""
    return max(24 * MIB, (3 * total + 8 * MIB) // MIB * MIB)


def write_files(kind, image, mountpoint, rng, files, total):
    """Writes the files of a "quick", "deleted" or "older" image and changes the volume as its
    kind says; returns where each file's pages lay ({name: offsets})."""
    with Volume(image, mountpoint) as volume:
        if kind == "older":
            # The older copy first, whole, on a young volume; years later the compact
            # writes its new copy into the holes of a full one.
            volume.append(files[0][0], files[0][1])
            fillers = fill_with_holes(volume, rng)
            write_interleaved(volume, rng, [files[1][:2]], fillers)
        else:
            fillers = fill_with_holes(volume, rng)
            write_interleaved(volume, rng, [(n, d) for n, d, _, _ in files], fillers)
    offsets = {name: page_offsets(image, name, len(data)) for name, data, _, _ in files}
    with Volume(image, mountpoint) as volume:
        if kind == "deleted":
            fill_up(volume, rng, "wall")
            for name, _, _, _ in files:
                os.remove(volume.path(name))
            # New files into about half of what the databases freed.
            reuse = total // 2
            count = 0
            while reuse > 0:
                size = min(reuse, rng.randrange(64 * 1024, 512 * 1024, CLUSTER))
                volume.append(f"new-{count:03d}.bin", rng.randbytes(size))
                reuse -= size
                count += 1
        elif kind == "older":
            fill_up(volume, rng, "wall")
            os.remove(volume.path(files[0][0]))
            volume.append("new-000.bin", rng.randbytes(64 * 1024))
    return offsets


def make_image(kind, databases, out_dir, seed):
    """Writes OUT_DIR/KIND.img and KIND.img.json; returns the JSON's path."""
    rng = random.Random(f"{kind}:{seed}")
    image = os.path.join(out_dir, f"{kind}.img")
    files = []  # (name on the volume, bytes, path of the bytes for mdbtools, role)
    if kind == "older":
        source = databases[0]
        with open(source, "rb") as f:
            old = f.read()
        new = with_rows_deleted(old, rng)
        base = os.path.basename(source)
        new_path = os.path.join(out_dir, f"newer-{base}")
        with open(new_path, "wb") as f:
            f.write(new)
        files = [(f"old-{base}", old, source, "older copy"), (base, new, new_path, "live")]
    elif kind == "copies":
        files = versions_of(databases[0], out_dir, rng)
    else:
        for path in databases:
            with open(path, "rb") as f:
                files.append((os.path.basename(path), f.read(), path, "live"))
    total = sum(len(data) for _, data, _, _ in files)
    with open(image, "wb") as f:
        f.truncate(volume_size(total))
    format_volume(image)
    mountpoint = tempfile.mkdtemp(prefix="ntfs-mount-")
    try:
        if kind == "copies":
            offsets = write_copies(image, mountpoint, rng, files)
        else:
            offsets = write_files(kind, image, mountpoint, rng, files, total)
    finally:
        os.rmdir(mountpoint)
    format_volume(image)
    described = []
    for name, data, path, role in files:
        intact = intact_pages(image, data, offsets[name])
        described.append({
            "name": name, "file": os.path.abspath(path), "role": role, "bytes": len(data),
            "sha256": hashlib.sha256(data).hexdigest(), "pages": len(offsets[name]),
            "page_offsets": offsets[name], "fragments": fragments(offsets[name]),
            "intact_pages": len(intact), "lost_pages": sorted(set(range(len(offsets[name]))) -
                                                              set(intact)),
        })
    with open(image, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    description = {"kind": kind, "image": os.path.abspath(image), "seed": seed,
                   "cluster_size": CLUSTER, "bytes": os.path.getsize(image),
                   "sha256": digest, "databases": described}
    with open(image + ".json", "w") as f:
        json.dump(description, f, indent=1)
    return image + ".json"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True, help="folder for the images")
    parser.add_argument("--kind", choices=["quick", "deleted", "older", "copies", "all"],
                        default="all")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--older-from", help="the database of the older-copy image "
                        "and of the copies image (default: the first given)")
    parser.add_argument("databases", nargs="+")
    args = parser.parse_args()
    why = missing_tools()
    if why:
        print(f"make_ntfs_images: {why}", file=sys.stderr)
        return 77
    os.makedirs(args.out, exist_ok=True)
    kinds = ["quick", "deleted", "older", "copies"] if args.kind == "all" else [args.kind]
    for kind in kinds:
        one = kind in ("older", "copies")
        chosen = [args.older_from or args.databases[0]] if one else args.databases
        described = make_image(kind, chosen, args.out, args.seed)
        with open(described) as f:
            d = json.load(f)
        print(f"{kind}: {d['image']} ({d['bytes'] // MIB} MiB, sha256 {d['sha256'][:16]})")
        for db in d["databases"]:
            print(f"  {db['name']:32} {db['role']:10} {len(db['fragments']):2} fragments, "
                  f"{db['intact_pages']}/{db['pages']} pages intact")
    return 0


if __name__ == "__main__":
    sys.exit(main())
